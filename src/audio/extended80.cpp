#include "audio/extended80.h"

#include <bit>
#include <cstring>

#include "audio/byte_order.h"

namespace jx {

int32_t read_extended80(const uint8_t* b) {
    uint32_t exponent = ((b[0] & 0x7Fu) << 8) | b[1];
    uint32_t mantissa = read_be32(b + 2) >> 1;  // the top 31 bits of the mantissa
    if (exponent == 0x7FFF || (exponent == 0 && mantissa == 0)) return 0;
    // 16413 = the bias 16383 plus the 30 places of mantissa bits below the integer bit.
    int32_t whole = static_cast<int32_t>(mantissa >> ((16413 - exponent) & 31));
    return (b[0] & 0x80) ? -whole : whole;
}

void write_extended80(int32_t rate, uint8_t* b) {
    std::memset(b, 0, 10);
    if (rate < 1) return;
    uint32_t r = static_cast<uint32_t>(rate);
    int top = std::bit_width(r) - 1;  // position of the highest set bit
    uint32_t exponent = 16383 + top;
    b[0] = static_cast<uint8_t>(exponent >> 8);
    b[1] = static_cast<uint8_t>(exponent);
    uint32_t mantissa = r << (31 - top);
    for (int k = 0; k < 4; ++k) b[2 + k] = static_cast<uint8_t>(mantissa >> (24 - 8 * k));
}

}  // namespace jx
