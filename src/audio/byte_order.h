#pragma once
// Numbers read from bytes in either order. RIFF files store little-endian numbers,
// IFF (AIFF, AIFC) files big-endian ones.
#include <cstdint>

namespace jx {

inline uint32_t read_le16(const uint8_t* p) {
    return p[0] | (p[1] << 8);
}
inline uint32_t read_le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}
inline uint32_t read_be16(const uint8_t* p) {
    return (p[0] << 8) | p[1];
}
inline uint32_t read_be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// The low `bits` bits of value as a two's-complement number (bits 1 to 32).
inline int32_t sign_extend(uint32_t value, int bits) {
    uint32_t sign = uint32_t{1} << (bits - 1);
    uint32_t low = bits == 32 ? value : value & ((sign << 1) - 1);
    return static_cast<int32_t>((low ^ sign) - sign);
}

// n bytes (1 to 4) as a two's-complement integer, least or most significant byte first.
inline int32_t read_le_signed(const uint8_t* p, int n) {
    uint32_t value = 0;
    for (int k = n - 1; k >= 0; --k) value = (value << 8) | p[k];
    return sign_extend(value, 8 * n);
}
inline int32_t read_be_signed(const uint8_t* p, int n) {
    uint32_t value = 0;
    for (int k = 0; k < n; ++k) value = (value << 8) | p[k];
    return sign_extend(value, 8 * n);
}

}  // namespace jx
