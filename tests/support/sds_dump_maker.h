#pragma once
// Builds the MIDI messages a sampler sends when it dumps a sample (SDS dump header, data packets,
// the maker's name message, handshake replies), written apart from the code under test so that a
// fixture shows exactly the bytes a case needs, faults included.
#include <cstdint>
#include <string>
#include <vector>

namespace jx::test {

using Stream = std::vector<uint8_t>;

struct DumpFields {
    uint8_t device = 0;
    int bits = 16;
    int32_t period = 22676;
    int32_t loop_start = 0;
    int32_t loop_end = 0;
    uint8_t loop_type = 0x7F;
    std::vector<int32_t> samples;  // right-justified signed words
};

inline void groups(Stream& out, uint32_t value, int count) {
    for (int k = 0; k < count; ++k) out.push_back((value >> (7 * k)) & 0x7F);
}

inline Stream dump_header(const DumpFields& d, int32_t length) {
    Stream m = {0xF0, 0x7E, d.device, 0x01, 0x05, 0x00, static_cast<uint8_t>(d.bits)};
    groups(m, static_cast<uint32_t>(d.period), 3);
    groups(m, static_cast<uint32_t>(length), 3);
    groups(m, static_cast<uint32_t>(d.loop_start), 3);
    groups(m, static_cast<uint32_t>(d.loop_end), 3);
    m.push_back(d.loop_type);
    m.push_back(0xF7);
    return m;
}
inline Stream dump_header(const DumpFields& d) {
    return dump_header(d, static_cast<int32_t>(d.samples.size()));
}

inline int bytes_per_word(int bits) {
    return bits < 15 ? 2 : bits < 22 ? 3 : 4;
}
inline int words_per_packet(int bits) {
    return 120 / bytes_per_word(bits);
}

inline uint8_t checksum(const Stream& packet) {
    uint8_t x = 0;
    for (int k = 1; k <= 124; ++k) x ^= packet[k];
    return x & 0x7F;
}

// Data packet `index` of the dump (words beyond the samples are silence), numbered index % 128.
inline Stream data_packet(const DumpFields& d, size_t index) {
    const int w = bytes_per_word(d.bits);
    const size_t per = static_cast<size_t>(words_per_packet(d.bits));
    Stream m = {0xF0, 0x7E, d.device, 0x02, static_cast<uint8_t>(index % 128)};
    for (size_t k = 0; k < per; ++k) {
        const size_t at = index * per + k;
        const int32_t s = at < d.samples.size() ? d.samples[at] : 0;
        uint64_t v = static_cast<uint64_t>(static_cast<int64_t>(s) + (int64_t{1} << (d.bits - 1)));
        v <<= 7 * w - d.bits;
        for (int j = w - 1; j >= 0; --j) m.push_back((v >> (7 * j)) & 0x7F);
    }
    m.push_back(checksum(m));
    m.push_back(0xF7);
    return m;
}

inline size_t packet_count(const DumpFields& d) {
    const size_t per = static_cast<size_t>(words_per_packet(d.bits));
    return (d.samples.size() + per - 1) / per;
}

// The header and every packet, one after the other.
inline Stream whole_dump(const DumpFields& d) {
    Stream s = dump_header(d);
    for (size_t k = 0; k < packet_count(d); ++k) {
        Stream p = data_packet(d, k);
        s.insert(s.end(), p.begin(), p.end());
    }
    return s;
}

// The maker's name message for sample slot `sample`, four characters as given.
inline Stream name_message(const std::string& four, uint8_t sample = 0) {
    Stream m = {0xF0, 0x00, 0x6B, 0x2E, 0x02, 0x00, 0x73, sample};
    for (char c : four) m.push_back(static_cast<uint8_t>(c));
    m.push_back(0xF7);
    return m;
}

inline Stream handshake(uint8_t type, uint8_t device, uint8_t packet) {
    return {0xF0, 0x7E, device, type, packet, 0xF7};
}

inline Stream cat(std::initializer_list<Stream> parts) {
    Stream all;
    for (const Stream& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// n samples sweeping the whole range of `bits`, both ends included.
inline std::vector<int32_t> sweep(int bits, size_t n, uint32_t seed = 7) {
    const int64_t lo = -(int64_t{1} << (bits - 1)), hi = (int64_t{1} << (bits - 1)) - 1;
    std::vector<int32_t> s(n);
    for (size_t k = 0; k < n; ++k) {
        seed = seed * 1664525 + 1013904223;
        s[k] = static_cast<int32_t>(
            lo + static_cast<int64_t>(seed % static_cast<uint64_t>(hi - lo + 1)));
    }
    if (n > 0) s[0] = static_cast<int32_t>(lo);
    if (n > 1) s[1] = static_cast<int32_t>(hi);
    if (n > 2) s[2] = 0;
    if (n > 3) s[3] = -1;
    return s;
}

}  // namespace jx::test
