#pragma once
// The MIDI ports of the system's MIDI server through RtMidi: the ALSA sequencer or JACK, chosen
// with the environment variable JX_MIDI_API ("alsa" or "jack"; otherwise RtMidi's own choice).
// Device index i is the i-th port RtMidi lists, leaving out this program's own ports (which
// come and go as it opens its input and output and would move the indices under it).
//
// Every RtMidi object gets its error callback, so that a warning or error of the library is a
// port error with its text, never a line on stderr. Over JACK, RtMidi hands messages to the
// server through a ring of 16 KiB and drops a larger one without a word; this backend therefore
// writes a long message in pieces, each only when the ring surely has room for it (the server
// empties the ring every cycle, and a JACK client of the backend's own counts the cycles).
// RtMidi's JACK input joins the pieces of a SysEx message again. Over ALSA a message goes whole
// and RtMidi reports what the sequencer refuses.
#include <memory>
#include <string>

#include "platform/midi.h"

namespace jx {

class RtMidiBackend : public MidiBackend {
  public:
    // `client_name` names this program's clients at the server; it also tells this program's
    // own ports apart from the others, so it should be unique (the programs add their process
    // number). `api` is "alsa", "jack" or empty for RtMidi's own choice.
    RtMidiBackend(std::string client_name, std::string api);
    ~RtMidiBackend() override;
    RtMidiBackend(const RtMidiBackend&) = delete;
    RtMidiBackend& operator=(const RtMidiBackend&) = delete;

    // The API named by JX_MIDI_API, empty when unset or unknown.
    static std::string api_from_environment();
    // Why the server cannot be used, empty when it can (no server running, no sequencer).
    std::string unavailable_reason() const;

    int out_count() override;
    std::string out_name(int index) override;
    int in_count() override;
    std::string in_name(int index) override;
    std::unique_ptr<MidiOutConnection> open_out(int index, std::string& error) override;
    std::unique_ptr<MidiInConnection> open_in(int index, MidiInSink& sink,
                                              std::string& error) override;

    // Ports of this program's own that others connect to (jx-device): an output and an input
    // named `port_name` under the client name.
    std::unique_ptr<MidiOutConnection> open_virtual_out(const std::string& port_name,
                                                        std::string& error);
    std::unique_ptr<MidiInConnection> open_virtual_in(const std::string& port_name,
                                                      MidiInSink& sink, std::string& error);

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// An input handle on a port of this program's own that others connect to, as midi_in_open gives
// for a listed port: buffers, start, stop, reset and close work on it as on any input.
int midi_in_open_virtual(RtMidiBackend& backend, const std::string& port_name,
                         MidiInCallback callback, void* instance, MidiIn*& handle,
                         std::string& error);

}  // namespace jx
