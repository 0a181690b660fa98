#pragma once
// A backend whose ports are only names, which a test changes to plug interfaces in and out or
// in another order; what is written to its outputs is counted.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/midi/midi.h"

namespace jx::test {

class NamedPorts : public MidiBackend {
  public:
    std::vector<std::string> names;  // the same for inputs and outputs
    std::atomic<int> writes{0};

    int out_count() override { return static_cast<int>(names.size()); }
    std::string out_name(int index) override { return names.at(static_cast<size_t>(index)); }
    int in_count() override { return static_cast<int>(names.size()); }
    std::string in_name(int index) override { return names.at(static_cast<size_t>(index)); }
    std::unique_ptr<MidiOutConnection> open_out(int, std::string&) override {
        struct Out : MidiOutConnection {
            std::atomic<int>& writes;
            explicit Out(std::atomic<int>& w) : writes(w) {}
            std::optional<MidiError> write(const uint8_t*, size_t,
                                           std::chrono::steady_clock::time_point) override {
                ++writes;
                return std::nullopt;
            }
        };
        return std::make_unique<Out>(writes);
    }
    std::unique_ptr<MidiInConnection> open_in(int, MidiInSink&, std::string&) override {
        struct In : MidiInConnection {
            std::optional<MidiError> start() override { return std::nullopt; }
            void stop() override {}
        };
        return std::make_unique<In>();
    }
};

}  // namespace jx::test
