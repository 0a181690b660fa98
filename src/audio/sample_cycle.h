#pragma once
// One cycle of a sample as values for the waveform synthesis.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/sample_modes.h"

namespace jx {

// Frames first … first + min(count, capacity) − 1 of a sample entry as values of about −1 … +1
// (each word times 2 / 2^bits): mono as they are, two channels by channel_mode (both: their
// mean), more channels by their first. Empty when the entry does not parse whole, or when the
// frames asked for do not start inside the sample; a window that runs past the sample's end is
// cut at its last frame.
std::vector<double> read_cycle(const uint8_t* data, size_t length, int32_t first, int32_t count,
                               int32_t capacity, ChannelMode channel_mode);

}  // namespace jx
