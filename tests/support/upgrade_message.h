#pragma once
// Builds the maker's upgrade messages for tests, fuzz seeds and examples, with packet numbers,
// checksums and sizes computed here, apart from the analysis code.
#include <cstdint>
#include <vector>

#include "maker_message.h"

namespace jx::test {

inline Bytes maker_start(uint8_t device_code, uint8_t id) {
    return {0xF0, 0x00, 0x6B, 0x2E, device_code, 0x00, id};
}

inline void put21(Bytes& m, int32_t v) {
    for (int shift : {14, 7, 0}) m.push_back(static_cast<uint8_t>((v >> shift) & 0x7F));
}

// Devices 06 and 07: start message (7F 01 seed first count F7).
inline Bytes upgrade_start(uint8_t device_code, uint8_t seed, int32_t count, int32_t first = 242) {
    Bytes m = maker_start(device_code, 0x7F);
    m.push_back(0x01);
    m.push_back(seed);
    put21(m, first);
    put21(m, count);
    m.push_back(0xF7);
    return m;
}

// End message (7F 02 any first count F7).
inline Bytes upgrade_end(uint8_t device_code, int32_t count, int32_t first = 242) {
    Bytes m = maker_start(device_code, 0x7F);
    m.push_back(0x02);
    m.push_back(0x00);
    put21(m, first);
    put21(m, count);
    m.push_back(0xF7);
    return m;
}

// A data packet: 7E, packet number, 116 body bytes, checksum over the 119 bytes after the id.
inline Bytes upgrade_packet(uint8_t device_code, uint8_t seed, int32_t number, uint8_t fill) {
    Bytes m = maker_start(device_code, 0x7E);
    put21(m, number);
    for (int k = 0; k < 116; ++k) m.push_back(static_cast<uint8_t>((fill + k * 5) & 0x7F));
    int sum = seed;
    for (int k = 0; k < 119; ++k) {
        int key = device_code == 0x07 ? (seed + k) % 256 : k + 1;
        sum += key ^ m[7 + k];
    }
    m.push_back(static_cast<uint8_t>(sum % 128));
    m.push_back(0xF7);
    return m;
}

// A whole packet-encoded upgrade of `packets` data packets.
inline Bytes packet_upgrade(uint8_t device_code, uint8_t seed, int packets) {
    Bytes all = upgrade_start(device_code, seed, packets);
    for (int k = 0; k < packets; ++k)
        all = concat({all, upgrade_packet(device_code, seed, 242 + k, static_cast<uint8_t>(k))});
    return concat({all, upgrade_end(device_code, packets)});
}

inline void put_nibbles(Bytes& m, uint8_t v) {
    m.push_back(v >> 4);
    m.push_back(v & 0x0F);
}

// Devices 02 and 03 carry two bytes in three 7-bit digits; device 05 packs seven bytes in eight,
// the first holding their top bits (bit 6 for the first of them).
inline Bytes nibble_body(uint8_t device_code, const Bytes& bytes) {
    Bytes body;
    if (device_code == 0x05) {
        for (size_t k = 0; k < bytes.size(); k += 7) {
            uint8_t top = 0;
            Bytes low;
            for (size_t j = 0; j < 7 && k + j < bytes.size(); ++j) {
                top |= static_cast<uint8_t>((bytes[k + j] >> 7) << (6 - j));
                low.push_back(bytes[k + j] & 0x7F);
            }
            body.push_back(top);
            body.insert(body.end(), low.begin(), low.end());
        }
        return body;
    }
    for (size_t k = 0; k + 1 < bytes.size(); k += 2) {
        int v = bytes[k] | bytes[k + 1] << 8;
        body.insert(body.end(),
                    {static_cast<uint8_t>(v >> 14), static_cast<uint8_t>((v >> 7) & 0x7F),
                     static_cast<uint8_t>(v & 0x7F)});
    }
    return body;
}

// A nibble-encoded data packet carrying `bytes` (an even count for devices 02 and 03); its
// checksum is the low byte of the sum of the three start-value bytes and the bytes carried.
inline Bytes nibble_packet(uint8_t device_code, const Bytes& bytes, uint8_t start = 0x21) {
    const uint8_t start_value[3] = {start, static_cast<uint8_t>(start * 3), 0x90};
    int sum = start_value[0] + start_value[1] + start_value[2];
    for (uint8_t b : bytes) sum += b;
    Bytes m = maker_start(device_code, 0x7E);
    put_nibbles(m, static_cast<uint8_t>(sum & 0xFF));
    for (uint8_t v : start_value) put_nibbles(m, v);
    Bytes body = nibble_body(device_code, bytes);
    m.insert(m.end(), body.begin(), body.end());
    m.push_back(0xF7);
    return m;
}

// The size message: the total number of bytes carried, as three nibble pairs, high byte first.
inline Bytes nibble_size(uint8_t device_code, int32_t total) {
    Bytes m = maker_start(device_code, 0x7F);
    for (int shift : {16, 8, 0}) put_nibbles(m, static_cast<uint8_t>(total >> shift));
    m.push_back(0xF7);
    return m;
}

inline Bytes sample_bytes(int count, int seed) {
    Bytes b;
    for (int k = 0; k < count; ++k)
        b.push_back(static_cast<uint8_t>(k * 71 + seed * 13 + 0x80 * (k & 1)));
    return b;
}

}  // namespace jx::test
