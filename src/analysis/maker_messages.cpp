#include "analysis/maker_messages.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

#include <bit>

namespace jx {

namespace {

// Calls visit(i), in order, for every i where data[i] is an F0 followed by the maker id's first
// byte and the header (F0, maker id, device code, 00) would end inside the data, until visit
// returns true; true when it did. Dumps hold an F0 every hundred bytes or so, mostly of universal
// or other makers' messages: looking for the two bytes together passes over those without
// stopping, sixteen places at a time where the processor allows.
template <class Visit>
bool for_each_header_start(const uint8_t* data, size_t length, Visit&& visit) {
    const size_t places = length >= 6 ? length - 5 : 0;
    size_t i = 0;
#if defined(__SSE2__) && defined(__x86_64__)
    const __m128i f0 = _mm_set1_epi8(static_cast<char>(sysex_start));
    const __m128i id0 = _mm_set1_epi8(static_cast<char>(maker_id[0]));
    auto load = [data](size_t at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    };
    for (; i + 16 <= places; i += 16) {
        const __m128i both =
            _mm_and_si128(_mm_cmpeq_epi8(load(i), f0), _mm_cmpeq_epi8(load(i + 1), id0));
        for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(both)); mask; mask &= mask - 1)
            if (visit(i + std::countr_zero(mask))) return true;
    }
#endif
    for (; i < places; ++i)
        if (data[i] == sysex_start && data[i + 1] == maker_id[0] && visit(i)) return true;
    return false;
}

// The rest of the maker's header at a place for_each_header_start gave.
bool is_maker_header(const uint8_t* data, size_t i) {
    return data[i + 2] == maker_id[1] && data[i + 3] == maker_id[2] && data[i + 5] == 0x00;
}

}  // namespace

bool match_device(const uint8_t* data, size_t length, uint8_t device_code) {
    return for_each_header_start(data, length, [&](size_t i) {
        return is_maker_header(data, i) && data[i + 4] == device_code;
    });
}

DeviceCodes maker_device_codes(const uint8_t* data, size_t length) {
    DeviceCodes codes;
    for_each_header_start(data, length, [&](size_t i) {
        if (is_maker_header(data, i)) codes.add(data[i + 4]);
        return false;
    });
    return codes;
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
