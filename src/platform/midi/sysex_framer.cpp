#include "platform/midi/sysex_framer.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace jx {

const uint8_t* find_status_byte(const uint8_t* at, const uint8_t* end) {
#if defined(__SSE2__)
    auto status_bits = [](const uint8_t* from) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        return static_cast<unsigned>(_mm_movemask_epi8(bytes));
    };
    const uint8_t* const first = at;
    for (; end - at >= 16; at += 16)
        if (const unsigned mask = status_bits(at)) return at + std::countr_zero(mask);
    if (at == end) return end;
    if (end - first >= 16) {
        // The last bytes: the sixteen before the end, those before `at` already looked at.
        const unsigned mask = status_bits(end - 16) >> (16 - (end - at));
        return mask ? at + std::countr_zero(mask) : end;
    }
    while (at < end && *at < 0x80) ++at;
    return at;
#else
    for (; end - at >= 8; at += 8) {
        uint64_t word;
        std::memcpy(&word, at, sizeof word);
        if (word & 0x8080808080808080u) break;
    }
    while (at < end && *at < 0x80) ++at;
    return at;
#endif
}

}  // namespace jx
