#include "platform/midi/midi_system.h"

#include <cstdlib>

#include "platform/midi/midi_alsa.h"
#include "platform/midi/midi_jack.h"

namespace jx {

std::string midi_api_from_environment() {
    const char* value = std::getenv("JX_MIDI_API");
    if (!value) return {};
    const std::string api = value;
    return api == "alsa" || api == "jack" ? api : std::string();
}

std::unique_ptr<ServerMidiBackend> make_server_backend(const std::string& client_name,
                                                       const std::string& api) {
    // The sequencer is where a Linux system's interfaces are; JACK only when it is not there
    // and a server runs. Without either, the sequencer's backend says why nothing is listed.
    const bool alsa = api == "alsa" || (api.empty() && (AlsaSeqBackend::sequencer_present() ||
                                                        !JackMidiBackend::server_running()));
    if (alsa) return std::make_unique<AlsaSeqBackend>(client_name);
    return std::make_unique<JackMidiBackend>(client_name);
}

std::optional<MidiError> open_virtual_input(ServerMidiBackend& backend, EngineThread& engine,
                                            const std::string& port_name, MidiConsumer* consumer,
                                            std::unique_ptr<MidiInput>& input) {
    input.reset();
    auto in = std::make_unique<MidiInput>(consumer, engine);
    std::string error;
    in->connection = backend.open_virtual_in(port_name, in->sink, error);
    if (!in->connection) return MidiError{MidiErrorKind::refused, error};
    in->sink.start_delivery();
    input = std::move(in);
    return std::nullopt;
}

}  // namespace jx
