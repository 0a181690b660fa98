#include "audio/sample_file.h"

#include "audio/aiff.h"
#include "audio/wav.h"

namespace jx {

bool is_sample(const uint8_t* data, size_t length) {
    return is_wav(data, length) || is_aiff(data, length) || is_aifc(data, length);
}

ReadResult parse_sample(SampleInfo& info, const uint8_t* data, size_t length) {
    if (is_wav(data, length)) return parse_wav(info, data, length);
    if (is_aiff(data, length)) return parse_aiff(info, data, length);
    if (is_aifc(data, length)) return parse_aifc(info, data, length);
    return read_other_file;
}

}  // namespace jx
