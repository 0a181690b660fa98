#pragma once
// The system's MIDI server as one backend: the ALSA sequencer or JACK. Which one: JX_MIDI_API
// ("alsa" or "jack") when set; otherwise the ALSA sequencer when /dev/snd/seq can be opened,
// else JACK when a server runs. A server that cannot be used still gives a backend, with no
// ports and the reason. On Windows it is the multimedia service's devices (midi_winmm.h), and
// JX_MIDI_API is not read.
#include <memory>
#include <string>

#include "platform/midi/engine_thread.h"
#include "platform/midi/midi_server.h"

namespace jx {

// The API named by JX_MIDI_API, empty when unset or unknown.
std::string midi_api_from_environment();

// The server's backend for `api` ("alsa", "jack", or empty for the first usable one).
// `client_name` names this program at the server; it should be unique among the programs
// running (the programs add their process number).
std::unique_ptr<ServerMidiBackend> make_server_backend(const std::string& client_name,
                                                       const std::string& api);

// An input on a port of this program's own that others connect to, as open_input gives for a
// listed port; its consumer is served on `engine`'s thread. Not started.
std::optional<MidiError> open_virtual_input(ServerMidiBackend& backend, EngineThread& engine,
                                            const std::string& port_name, MidiConsumer* consumer,
                                            std::unique_ptr<MidiInput>& input);

}  // namespace jx
