#pragma once
// The frames of an entry that holds a sound, as values of about -1 ... +1 per channel, for
// drawing: a WAV, AIFF or AIFC sample, an SDS dump (as far as its packets have come), or a
// TonePAK waveform message (the cycle of its first table).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace jx {

struct SampleFrames {
    int32_t rate = 0;  // hertz; 0 when unknown (a TonePAK cycle)
    int32_t bits = 0;
    int64_t declared = 0;  // frames the header announces; more than `frames` while a dump grows
    bool looped = false;
    int64_t loop_start = 0;                    // first frame of the loop
    int64_t loop_end = 0;                      // last frame of the loop, inclusive
    std::vector<std::vector<float>> channels;  // every channel holds the same number of frames

    int64_t frames() const { return channels.empty() ? 0 : int64_t(channels[0].size()); }
};

// The frames of the data, by what it begins with; false (and `out` empty) when the data holds
// no sound that can be read.
bool read_sample_frames(const uint8_t* data, size_t length, SampleFrames& out);

// The parts, for data known to be of one kind.
bool read_file_frames(const uint8_t* data, size_t length, SampleFrames& out);
bool read_dump_frames(const uint8_t* data, size_t length, SampleFrames& out);
bool read_tonepak_frames(const uint8_t* data, size_t length, SampleFrames& out);

}  // namespace jx
