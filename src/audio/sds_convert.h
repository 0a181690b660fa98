#pragma once
// Turning a sample entry (WAV, AIFF, AIFC) into the MIDI Sample Dump that the send engine sends,
// one step at a time: the first step gives the header messages, every later step one 127-byte
// data packet. The dump carries one channel, chosen or mixed from the file's.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "audio/sds.h"

namespace jx {

// One sample entry's dump in progress. The send engine makes one for each sample entry it starts
// and fills in the options from that entry; the steps read and write nothing else, so a File Info
// parse or a mode change on the window thread never reaches a dump being sent.
struct SampleConversion {
    // Options, set before the first step.
    int32_t kind = 0;  // sample_kind::wav, aiff or aifc, from the entry's magic (sample_kind_of)
    LoopMode loop_mode = loop_file;
    ChannelMode channel_mode = channel_both;
    int32_t sample_number = 0;
    uint8_t device = 0;  // sds_dev
    // Taken by the first step: the entry's bytes, read in place while the dump runs, and the
    // frames they hold (0 until a first step succeeded).
    const uint8_t* data = nullptr;
    size_t data_length = 0;
    int32_t frames = 0;
    SdsDump dump{};  // the dump's own sample description, counters and buffers
};

// One step of the dump; returns the number of bytes to send from buffer, 0 when there is nothing
// to send. Before the first step position is 0, length the entry's data length and buffer the
// entry's data.
// - The first step reads the sample with the reader of c.kind and returns the header messages: a
//   dump header, or with a name an extended dump header and a sample name message, then the
//   KVR-9ZB name message when name_value is not 0. It sets position to 1 and length to the
//   sample's frames, except that a sample of one frame gets length 2, so that its one data packet
//   is asked for and sent like any other. A file that does not parse whole, a sample without
//   frames and one whose data lies beyond 2 GiB give 0: the entry is skipped.
// - Each later step commits the packet sent last, returns the next packet and sets position to
//   the frame after it. A NAK sends buffer again without a step; the step after it still builds
//   the packet that follows the one sent.
// c.kind chooses the reader (parse_wav, parse_aiff, parse_aifc) and the words (fill_wav_words,
// fill_aiff_words, fill_aifc_words); nothing is sent for another kind.
size_t convert_sample_step(SampleConversion& c, size_t& position, size_t& length,
                           const uint8_t*& buffer, uint32_t name_value,
                           std::optional<std::string_view> name);
// Fill c.dump.words for the packet at the committed sample position from the frames at
// read_position (a byte offset in the entry): one word per frame, the channel chosen by the
// channel mode (both: their mean, truncated toward zero; more than two channels: the first), 0
// past the sample's end. Return the read position after the frames read.
int32_t fill_wav_words(SampleConversion& c, int32_t read_position);
int32_t fill_aiff_words(SampleConversion& c, int32_t read_position);
int32_t fill_aifc_words(SampleConversion& c, int32_t read_position);

// The entry's name without folder and extension: the name an extended dump carries.
std::string sample_base_name(const std::string& entry_name);
// The four-character name value of that name, the first character in bits 24-31.
uint32_t sample_name_code(const std::string& entry_name);

// Runs every step of one entry's dump as the send engine does without the handshake and hands
// each message's bytes to send, in order. Returns the number of bytes handed over; 0 when the
// entry cannot be converted.
size_t convert_whole_sample(SampleConversion& c, const uint8_t* data, size_t length,
                            uint32_t name_value, std::optional<std::string_view> name,
                            const std::function<void(const uint8_t*, size_t)>& send);

}  // namespace jx
