// Feeds arbitrary bytes to the WAV reader and its File Info text and, when the reader accepts
// them, decodes every sample the description promises.
#include <cstddef>
#include <cstdint>

#include "audio/sample_file.h"
#include "audio/wav.h"
#include "decode_all_samples.h"
#include "transfer/entry_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)jx::describe_wav(data, size);
    jx::SampleInfo info;
    if (jx::parse_sample(info, data, size) == 1) jx::fuzz::decode_all_samples(info, data, size);
    return 0;
}
