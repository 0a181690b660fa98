#pragma once
// The MIDI ports of a JACK server, written on libjack. Device index i is the i-th MIDI port the
// server lists, leaving out this program's own ports (which come and go as it opens its input
// and output and would move the indices under it).
//
// One JACK client carries every port the program connects to another program's port; it is
// opened on first use and closed when the backend ends, so that the server wakes this process
// once a cycle however many ports are open. The ports of the program's own that others connect
// to (jx-device's) live on a client named for their direction, `NAME-in` and `NAME-out`, which
// gives them the names users and scripts know.
//
// Input: the client's process callback hands every event's bytes to the sink as they arrive; a
// SysEx message split over several events is passed on piece by piece, never held back until its
// F7. Output: write() puts the whole message into a ring of the port's own (or fails with the
// reason), and the process callback moves it into the port's buffer in pieces that fit, keeping
// what did not fit for the next cycle. The callback neither locks nor allocates.
#include <memory>
#include <string>

#include "platform/midi/midi_server.h"

namespace jx {

class JackMidiBackend : public ServerMidiBackend {
  public:
    // `client_name` names this program's client at the server; it also tells this program's
    // own ports apart from the others, so it should be unique (the programs add their process
    // number). The server is the one JACK_DEFAULT_SERVER names now, or the default one.
    explicit JackMidiBackend(std::string client_name);
    ~JackMidiBackend() override;
    JackMidiBackend(const JackMidiBackend&) = delete;
    JackMidiBackend& operator=(const JackMidiBackend&) = delete;

    // Whether a JACK server runs that this process can reach.
    static bool server_running();

    std::string api_name() const override { return "JACK"; }
    std::string unavailable_reason() const override;

    int out_count() override;
    std::string out_name(int index) override;
    int in_count() override;
    std::string in_name(int index) override;
    std::unique_ptr<MidiOutConnection> open_out(int index, std::string& error) override;
    std::unique_ptr<MidiInConnection> open_in(int index, MidiInSink& sink,
                                              std::string& error) override;

    std::unique_ptr<MidiOutConnection> open_virtual_out(const std::string& port_name,
                                                        std::string& error) override;
    std::unique_ptr<MidiInConnection> open_virtual_in(const std::string& port_name,
                                                      MidiInSink& sink,
                                                      std::string& error) override;
    std::string virtual_port_name(const std::string& port_name, bool output) const override;
    void on_server_gone(ServerGone notice) override;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace jx
