#pragma once
// The MIDI ports of the ALSA sequencer, written on alsa-lib: one sequencer client per program,
// one port of its own for each open input and output.
//
// Why not a thinner layer: the sequencer carries a SysEx message as one event whose bytes must
// fit the sender's output buffer and the receiver's input pool (200 cells of 28 bytes unless the
// receiver asks for more), and it drops what does not fit without telling the sender. So:
// - a message leaves in pieces, each an event small enough for any receiver; pieces go no
//   faster than the MIDI wire takes them when pacing is on, and never faster than the receiving
//   program has room for (its free input pool is asked before each piece);
// - a piece for a kernel port (an interface's cable, a virtual raw MIDI device) is at most 32
//   bytes, the most the kernel hands to the device in one step, so that a piece the device had
//   no room for is refused whole and can be sent again without doubling bytes;
// - the input pool and buffer are sized for the largest event another program may send, and
//   the pieces that arrive are handed on as one byte stream, which the layer cuts into messages;
// - a refused piece is tried again until the port takes it or stops taking anything for two
//   seconds; a port that went away is an error that names it. Nothing is reported as sent that
//   did not leave.
#include <memory>
#include <string>

#include "platform/midi/midi_server.h"

namespace jx {

class AlsaSeqBackend : public ServerMidiBackend {
  public:
    explicit AlsaSeqBackend(std::string client_name);
    ~AlsaSeqBackend() override;
    AlsaSeqBackend(const AlsaSeqBackend&) = delete;
    AlsaSeqBackend& operator=(const AlsaSeqBackend&) = delete;

    // Whether this process can open the sequencer at all.
    static bool sequencer_present();

    std::string api_name() const override { return "ALSA"; }
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

// The free cells of another client's input pool at the sequencer behind `fd`; -1 when it cannot
// be asked (a kernel client has no input pool).
int alsa_client_input_free(int fd, int client);

}  // namespace jx
