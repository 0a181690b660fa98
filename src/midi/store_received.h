#pragma once
// Turning what the receiver collected into entries of the transfer list, and the WAV and AIFF
// file images that received sample dumps become.
#include <cstddef>
#include <cstdint>
#include <string>

#include "midi/sds_receive.h"

namespace jx {

struct Recorder;

// Largest file header of an image: a looped AIFF's.
constexpr size_t max_image_header_size = 116;

// A complete dump, or what came before a new dump header: the receive buffer becomes an entry
// at the end of the list, named by `name_value` (a four-character name; 0 for "unnamed%i"), and a
// new buffer is made at once. The caller holds recorder.mutex.
void store_received_dump(Recorder& recorder, uint32_t name_value);
// The end of stop_recording: the receive buffer becomes an entry "unnamed%i".
void store_at_stop(Recorder& recorder);

// "unnamed%i" with the counter, or the four characters of the value (first in the top byte), bit
// 7 cleared, with '[', '\' and ']' read as Å, Ä and Ö; UTF-8.
std::string received_dump_name(uint32_t name_value, int32_t counter);

// The file header of the WAV or AIFF image of a dump, written to `out`; returns its size.
size_t build_wav_header(const SdsRxDump& dump, uint8_t* out);
size_t build_aiff_header(const SdsRxDump& dump, uint8_t* out);

}  // namespace jx
