#include "analysis/maker_messages.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace jx {

bool match_device(const uint8_t* data, size_t length, uint8_t device_code) {
    const uint8_t header[5] = {maker_id[0], maker_id[1], maker_id[2], device_code, 0x00};
    const uint8_t* end = data + length;
    for (const uint8_t* p = data; p < end; ++p) {
        p = static_cast<const uint8_t*>(std::memchr(p, sysex_start, end - p));
        if (p == nullptr) return false;
        if (end - p > 5 && std::memcmp(p + 1, header, 5) == 0) return true;
    }
    return false;
}

size_t find_f7(IntegrityTest& test, size_t from) {
    if (from >= test.f7_searched_from && from <= test.f7_found) return test.f7_found;
    if (from >= test.length) return test.length;
    const void* hit = std::memchr(test.data + from, sysex_end, test.length - from);
    test.f7_searched_from = from;
    test.f7_found = hit ? static_cast<const uint8_t*>(hit) - test.data : test.length;
    return test.f7_found;
}

namespace {

// Sum of the bytes in [from, to), each taken as a signed 8-bit value. Dumps are large and every
// counted message is summed, so sixteen bytes go at a time where the processor allows: flipping
// the top bit turns a signed byte s into the unsigned s + 128, which SAD sums against zero.
int64_t signed_sum(const uint8_t* data, size_t from, size_t to) {
    int64_t sum = 0;
    size_t k = from;
#if defined(__SSE2__) && defined(__x86_64__)
    const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
    __m128i acc = _mm_setzero_si128();
    for (; k + 16 <= to; k += 16) {
        __m128i v =
            _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + k)), flip);
        acc = _mm_add_epi64(acc, _mm_sad_epu8(v, _mm_setzero_si128()));
    }
    sum = _mm_cvtsi128_si64(acc) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)) -
          128 * static_cast<int64_t>(k - from);
#endif
    for (; k < to; ++k) sum += static_cast<int8_t>(data[k]);
    return sum;
}

// Sum of the signed bytes in [from, to). Successive messages ask for windows that only move
// forward, so the window slides instead of being summed again.
int64_t window_sum(IntegrityTest& test, size_t from, size_t to) {
    if (from < test.sum_lo || to < test.sum_hi) return signed_sum(test.data, from, to);
    if (from >= test.sum_hi) {
        test.sum = signed_sum(test.data, from, to);
    } else {
        test.sum -= signed_sum(test.data, test.sum_lo, from);
        test.sum += signed_sum(test.data, test.sum_hi, to);
    }
    test.sum_lo = from;
    test.sum_hi = to;
    return test.sum;
}

}  // namespace

MessageFault message_fault(IntegrityTest& test, size_t i, int checksum_start) {
    size_t f = find_f7(test, i);
    if (f >= test.length) return MessageFault::cut_short;
    // The four integrity bytes must lie after the id; a shorter message cannot be intact.
    if (f < i + 5) return MessageFault::cut_short;
    const uint8_t* d = test.data;
    size_t from = i + checksum_start;
    int64_t sum = from <= f - 4 ? window_sum(test, from, f - 4) : 0;
    int checksum = d[f - 4] * 128 + d[f - 3];
    int length_field = d[f - 2] * 128 + d[f - 1];
    if ((sum & 0x3FFF) != checksum) return MessageFault::bad_checksum;
    if (static_cast<size_t>(length_field) + 3 != f - i) return MessageFault::bad_length;
    return MessageFault::none;
}

}  // namespace jx
