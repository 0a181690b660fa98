#pragma once
// What a backend for the system's MIDI server (the ALSA sequencer or JACK; on Windows the
// multimedia service) offers beyond the port lists: its name, why it cannot be used, and ports
// of the program's own that others connect to.
#include <memory>
#include <string>

#include "platform/midi/midi.h"

namespace jx {

class ServerMidiBackend : public MidiBackend {
  public:
    // "ALSA", "JACK" or "Windows": the service these ports belong to.
    virtual std::string api_name() const = 0;
    // Why the server cannot be used, empty when it can (no server running, no sequencer).
    virtual std::string unavailable_reason() const = 0;

    // Ports of this program's own that others connect to (jx-device): an output and an input
    // named `port_name` under the program's client.
    virtual std::unique_ptr<MidiOutConnection> open_virtual_out(const std::string& port_name,
                                                                std::string& error) = 0;
    virtual std::unique_ptr<MidiInConnection> open_virtual_in(const std::string& port_name,
                                                              MidiInSink& sink,
                                                              std::string& error) = 0;
    // The name other programs see for such a port, as their port lists show it.
    virtual std::string virtual_port_name(const std::string& port_name, bool output) const = 0;

    // Called once, on a thread of the server's, when the server goes away for good (JACK killed
    // or stopped), so that a program that lives by it can end; it may do only what a signal
    // handler may. The ALSA sequencer and Windows' service do not go away: nothing to call.
    using ServerGone = void (*)() noexcept;
    virtual void on_server_gone(ServerGone notice) { (void)notice; }
};

}  // namespace jx
