#pragma once
// The description of one parsed sample file, filled by the WAV, AIFF and AIFC readers and read by
// the File Info panel, the SDS conversion and the waveform synthesis. Each user keeps its own
// copy, so a dump being sent is never changed by a parse on another thread. Every parse starts
// from a fresh description: nothing of an earlier file survives into the next one.
#include <cstdint>

namespace jx {

// What the sample readers (parse_wav, parse_aiff, parse_aifc, parse_sample) return.
enum ReadResult : int {
    read_ok = 1,
    read_other_file = 0,       // not the reader's magic ("RIFF", "FORM"): another kind of file
    read_unknown_format = -1,  // another form type, or a format that cannot be read
    read_chunk_size = -2,      // a chunk runs past the container or is too short for its fields
    read_not_pcm = -3,         // samples neither integer PCM nor float it can decode
};

// Loop types of a sample's loop, as dumps carry them: forward, and no loop.
constexpr int32_t loop_type_forward = 0x00;
constexpr int32_t loop_type_none = 0x7F;

// Values of SampleInfo::file_kind.
namespace sample_kind {
constexpr int32_t aiff = 1;
constexpr int32_t wav = 2;
constexpr int32_t aifc = 3;
}  // namespace sample_kind

struct SampleInfo {
    // WAV: the format tag, 1 integer PCM or 3 float (an extensible file's sub-format); 4097 AIFF;
    // 4099 AIFC.
    int32_t format_code = 0;
    int32_t file_kind = 0;  // set at the end of a successful parse
    int32_t channels = 0;
    int32_t bits = 0;                    // as declared; 24 for floating-point data
    int32_t container_bytes = 0;         // bytes of one sample of one channel in the data
    int32_t rate = 0;                    // hertz
    int32_t period = 0;                  // nanoseconds
    int32_t length = 0;                  // frames
    int32_t loop_start = 0;              // first frame of the loop
    int32_t loop_end = 0;                // last frame of the loop, inclusive
    int32_t loop_type = loop_type_none;  // forward, none, or the file's value masked with 7F
    int32_t loop_present = 0;            // the file itself declared a loop
    int32_t data_start = 0;              // offset of the first frame in the entry's bytes
    int32_t compression = 0;             // AIFC only: how decode_aifc_sample reads a sample
};

// SampleInfo keeps offsets and frame counts in 32 bits; a reader refuses a file whose sample data
// lies or reaches beyond that (over 2 GiB) instead of wrapping to a negative place.
constexpr bool fits_int32(int64_t value) {
    return value >= 0 && value <= 0x7FFFFFFF;
}
constexpr bool fits_int32(uint64_t value) {
    return value <= 0x7FFFFFFF;
}

// The sample period in nanoseconds, rounded to the nearest (halves up); 0 for a rate that is not
// positive, which has no period.
inline int32_t sample_period(int32_t rate) {
    return rate > 0 ? (rate / 2 + 1000000000) / rate : 0;
}

}  // namespace jx
