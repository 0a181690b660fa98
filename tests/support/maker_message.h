#pragma once
// Builds the maker's SysEx messages for tests, examples and benchmarks, with the checksum and
// length fields computed here, independently of the analysis code.
#include <cstdint>
#include <vector>

namespace jx::test {

using Bytes = std::vector<uint8_t>;

// F0 00 6B 2E device 00 id body... checksum(hi, lo) length(hi, lo) F7. The checksum adds the
// signed body bytes from checksum_start - 1 on (the byte checksum_start places after the id).
inline Bytes maker_message(uint8_t device_code, uint8_t id, const Bytes& body, int checksum_start) {
    Bytes m;
    m.reserve(body.size() + 12);
    for (uint8_t b : {uint8_t{0xF0}, uint8_t{0x00}, uint8_t{0x6B}, uint8_t{0x2E}, device_code,
                      uint8_t{0x00}, id})
        m.push_back(b);
    for (uint8_t b : body) m.push_back(b);
    int sum = 0;
    for (size_t k = checksum_start - 1; k < body.size(); ++k) sum += static_cast<int8_t>(body[k]);
    sum &= 0x3FFF;
    int length = static_cast<int>(body.size()) + 2;
    for (int b : {sum >> 7, sum & 0x7F, (length >> 7) & 0x7F, length & 0x7F, 0xF7})
        m.push_back(static_cast<uint8_t>(b));
    return m;
}

// A counted message with the checksum start its device uses for ordinary records.
inline Bytes record(uint8_t device_code, uint8_t id, const Bytes& body) {
    int start = (device_code == 0x06 || device_code == 0x07) ? 4 : 3;
    return maker_message(device_code, id, body, start);
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        for (uint8_t b : p) all.push_back(b);
    return all;
}

}  // namespace jx::test
