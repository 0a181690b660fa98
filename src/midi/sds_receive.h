#pragma once
// Taking in MIDI Sample Dump Standard dumps while recording: every complete universal message
// the recorder collected comes here. Each data packet is checked and answered under the
// handshake (ACK, NAK with the packet expected, CANCEL by giving up), and the dump accumulates in
// the receive buffer as its own SDS messages, or decoded into a WAV or an AIFF file image.
#include <cstddef>
#include <cstdint>

#include "midi/receive_buffer.h"

namespace jx {

// The receiver, for one complete universal message `length` bytes long, of which `message` holds
// the first 128 at most (the universal buffer). A dump header, plain or extended, or a data packet
// is never longer, so the handlers read a message only as far as its right length, and refuse one
// of another length. The extended header counts as a dump header everywhere; in the SDS and None
// forms the sample name message that follows it is recorded with the dump.
// True when the recording must stop now: the dump was given up (the third rejection in a row,
// or the first without the handshake), or the buffer is full.
bool sds_receive(Recorder& recorder, const uint8_t* message, size_t length);

// The handlers, by rec_format: 0 and 3 record the messages, 1 builds a WAV image, 2 an AIFF one.
int sds_rx_syx(Recorder& recorder, const uint8_t* message, size_t length);
int sds_rx_wav(Recorder& recorder, const uint8_t* message, size_t length);
int sds_rx_aiff(Recorder& recorder, const uint8_t* message, size_t length);

}  // namespace jx
