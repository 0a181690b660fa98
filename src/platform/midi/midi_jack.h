#pragma once
// The MIDI ports of a JACK server through RtMidi. Device index i is the i-th MIDI port the
// server lists, leaving out this program's own ports (which come and go as it opens its input
// and output and would move the indices under it).
//
// Every RtMidi object gets its error callback, so that a warning or error of the library is a
// port error with its text, never a line on stderr. RtMidi hands messages to the server through
// a ring of 16 KiB and drops a larger one without a word; this backend therefore writes a long
// message in pieces, each only when the ring surely has room for it (the server empties the
// ring every cycle, and a JACK client of the backend's own counts the cycles). RtMidi's JACK
// input joins the pieces of a SysEx message again.
#include <memory>
#include <string>

#include "platform/midi/midi_server.h"

namespace jx {

class JackMidiBackend : public ServerMidiBackend {
  public:
    // `client_name` names this program's clients at the server; it also tells this program's
    // own ports apart from the others, so it should be unique (the programs add their process
    // number).
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

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace jx
