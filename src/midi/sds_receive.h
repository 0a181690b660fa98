#pragma once
// Taking in MIDI Sample Dump Standard dumps while recording: every complete universal message
// the recorder collected comes here. Each data packet is checked and answered under the
// handshake (ACK, NAK with the packet expected, CANCEL by giving up), and the dump accumulates in
// the receive buffer as its own SDS messages, or decoded into a WAV or an AIFF file image.
#include <cstddef>
#include <cstdint>

namespace jx {

struct Recorder;

// Results of the format handlers; for a message other than a dump header or a data packet the
// result is its sub-ID byte.
constexpr int sds_rx_header_taken = 1;
constexpr int sds_rx_more_due = 2;
constexpr int sds_rx_complete = 3;
constexpr int sds_rx_rejected = 4;

// rec_format values.
constexpr int32_t rec_sds = 0;
constexpr int32_t rec_wav = 1;
constexpr int32_t rec_aiff = 2;
constexpr int32_t rec_none = 3;

// One format handler's dump: the fields of its header, its counters and its packet layout.
struct SdsRxDump {
    bool open = false;  // a header was taken and the dump is not complete yet
    int32_t bits = 0;
    int32_t period = 0;  // nanoseconds
    int32_t length = 0;  // samples
    int32_t loop_start = 0;
    int32_t loop_end = 0;
    int32_t loop_type = 0x7F;
    int32_t expected_packet = 0;
    int32_t sample_count = 0;
    int32_t words_per_packet = 60;
    int32_t bytes_per_word = 2;
    int32_t rate = 0;        // hertz (WAV and AIFF)
    int32_t file_bytes = 0;  // bytes per sample in the file (WAV and AIFF)
};

// The receiver's state: the reply address shared by the handlers, each handler's own dump.
struct SdsReceiver {
    int32_t reply_channel = 0;
    int32_t reply_packet = 0;
    int32_t nak_count = 0;  // rejections in a row, for a recorder without ports
    SdsRxDump syx;
    SdsRxDump wav;
    SdsRxDump aiff;
};

// The receiver, for one complete universal message `length` bytes long, of which `message` holds
// the first 128 at most (the universal buffer). A dump header or a data packet is never longer, so
// the handlers read a message only as far as its right length, and refuse one of another length.
void sds_receive(Recorder& recorder, const uint8_t* message, size_t length);

// The handlers, by rec_format: 0 and 3 record the messages, 1 builds a WAV image, 2 an AIFF one.
int sds_rx_syx(Recorder& recorder, const uint8_t* message, size_t length);
int sds_rx_wav(Recorder& recorder, const uint8_t* message, size_t length);
int sds_rx_aiff(Recorder& recorder, const uint8_t* message, size_t length);

// Bytes per sample in a file for a dump's bits: 1 up to 8 bits, 2 up to 16, 3 up to 24, else 4.
constexpr int32_t file_bytes_per_sample(int32_t bits) {
    return ((bits - 1) >> 3) + 1;
}

}  // namespace jx
