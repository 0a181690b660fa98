// Feeds arbitrary bytes to the AIFF and AIFC readers (as either form, whatever the magic says)
// and their File Info texts and, when a reader accepts them, decodes every sample the
// description promises. The first ten bytes also go through the 80-bit rate round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "audio/aiff.h"
#include "audio/extended80.h"
#include "decode_all_samples.h"
#include "transfer/entry_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)jx::describe_aiff(data, size);
    (void)jx::describe_aifc(data, size);
    jx::SampleInfo info;
    if (jx::parse_aiff(info, data, size) == 1) jx::fuzz::decode_all_samples(info, data, size);
    if (jx::parse_aifc(info, data, size) == 1) jx::fuzz::decode_all_samples(info, data, size);
    if (size >= 10) {
        int32_t rate = jx::read_extended80(data);
        uint8_t ten[10];
        jx::write_extended80(rate, ten);
        // Every positive whole rate survives the round trip.
        if (rate > 0 && jx::read_extended80(ten) != rate) std::abort();
    }
    return 0;
}
