// The system's MIDI ports on Windows. This build lists none of its own yet: the ports are the
// virtual device's, which the port layer adds after the system's.
#include <cstdlib>

#include "platform/midi/midi_system.h"

namespace jx {

namespace {

class NoServerBackend final : public ServerMidiBackend {
  public:
    std::string api_name() const override { return "Windows"; }
    std::string unavailable_reason() const override {
        return "this build has no Windows MIDI ports";
    }
    int out_count() override { return 0; }
    std::string out_name(int) override { return {}; }
    int in_count() override { return 0; }
    std::string in_name(int) override { return {}; }
    std::unique_ptr<MidiOutConnection> open_out(int, std::string& error) override {
        error = unavailable_reason();
        return nullptr;
    }
    std::unique_ptr<MidiInConnection> open_in(int, MidiInSink&, std::string& error) override {
        error = unavailable_reason();
        return nullptr;
    }
    std::unique_ptr<MidiOutConnection> open_virtual_out(const std::string&,
                                                        std::string& error) override {
        error = unavailable_reason();
        return nullptr;
    }
    std::unique_ptr<MidiInConnection> open_virtual_in(const std::string&, MidiInSink&,
                                                      std::string& error) override {
        error = unavailable_reason();
        return nullptr;
    }
    std::string virtual_port_name(const std::string& port_name, bool) const override {
        return port_name;
    }
};

}  // namespace

std::string midi_api_from_environment() {
    return {};
}

std::unique_ptr<ServerMidiBackend> make_server_backend(const std::string&, const std::string&) {
    return std::make_unique<NoServerBackend>();
}

}  // namespace jx
