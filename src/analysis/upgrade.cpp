#include "analysis/upgrade.h"

namespace jx {

namespace {

constexpr int32_t upgrade_first_packet = 242;
constexpr size_t packet_checked_bytes = 119;  // packet number and body, before the checksum

template <size_t Stride, class Group>
int64_t strided_sum(StridedSums& sums, size_t start, size_t limit, Group group) {
    static_assert(Stride <= 8);
    if (start >= limit) return 0;
    auto direct = [&](size_t from, size_t to) {
        int64_t total = 0;
        for (size_t p = from; p < to; p += Stride) total += group(p);
        return total;
    };
    if (limit != sums.limit) {
        sums = StridedSums{};
        sums.limit = limit;
    }
    size_t r = start % Stride;
    if (sums.known[r] && sums.from[r] <= start)
        sums.sum[r] -= direct(sums.from[r], start);
    else
        sums.sum[r] = direct(start, limit);
    sums.from[r] = start;
    sums.known[r] = true;
    return sums.sum[r];
}

// The checksum of a packet-encoded upgrade packet over its 119 bytes b0..b118.
int32_t packet_checksum(uint8_t device_code, int32_t seed, const uint8_t* b) {
    uint32_t sum = static_cast<uint32_t>(seed);
    for (uint32_t k = 0; k < packet_checked_bytes; ++k) {
        uint32_t key = device_code == device::kg ? (seed + k) % 256 : k + 1;
        sum += key ^ b[k];
    }
    return static_cast<int32_t>(sum % 128);
}

void check_packet_encoded(UpgradeCheck& c, const uint8_t* d, size_t n, size_t i) {
    // Positions after the id that each message needs, so that nothing outside the data is read.
    auto has = [&](size_t offset) { return i + offset < n; };
    if (d[i] == upgrade_packet_id) {
        ++c.data_packets;
        if (!has(packet_checked_bytes + 1) || c.first_packet < 0) {
            // Cut off, or met before any start message told the first packet number.
            c.broken = true;
            return;
        }
        bool numbered = decode21(d + i + 1) == c.good_packets + c.first_packet;
        if (numbered && packet_checksum(c.device_code, c.seed, d + i + 1) == d[i + 120])
            ++c.good_packets;
        else
            c.broken = true;
        return;
    }
    ++c.control_messages;
    uint8_t sub = has(1) ? d[i + 1] : 0;
    bool closed = has(9) && d[i + 9] == sysex_end;
    if (sub == 0x01) {  // start
        if (!closed) {
            c.broken = true;
            if (has(2)) c.seed = d[i + 2];
        } else if (decode21(d + i + 3) != upgrade_first_packet) {
            c.broken = true;
            return;
        } else {
            c.first_packet = upgrade_first_packet;
            c.packet_count = decode21(d + i + 6);
            c.seed = d[i + 2];
        }
        if (c.device_code == device::kg && c.seed != 2) c.broken = true;
    } else if (sub == 0x02) {  // end
        if (!closed || decode21(d + i + 3) != upgrade_first_packet) {
            c.broken = true;
            return;
        }
        if (c.good_packets != c.packet_count || decode21(d + i + 6) != c.packet_count)
            c.broken = true;
    } else {
        c.broken = true;
    }
}

// ((a x 16) mod 256) + (b mod 16).
int32_t nibble_pair(const uint8_t* p) {
    return ((p[0] * 16) & 0xFF) + (p[1] & 0x0F);
}

void check_nibble_encoded(UpgradeCheck& c, IntegrityTest& test, size_t i) {
    const uint8_t* d = test.data;
    size_t n = test.length;
    if (d[i] == upgrade_control_id) {
        ++c.control_messages;
        if (i + 6 < n) {
            int64_t size = int64_t{nibble_pair(d + i + 1)} << 16 |
                           int64_t{nibble_pair(d + i + 3)} << 8 | nibble_pair(d + i + 5);
            if (size != c.total_size) c.broken = true;
        } else {
            c.broken = true;
        }
        return;
    }
    ++c.data_packets;
    if (i + 1 < n && d[i + 1] == sysex_end) return;
    if (i + 8 >= n) {  // cut off before its start value
        c.broken = true;
        return;
    }
    int32_t expected = nibble_pair(d + i + 1);
    int64_t sum = nibble_pair(d + i + 3) + nibble_pair(d + i + 5) + nibble_pair(d + i + 7);
    size_t f = find_f7(test, i + 3);
    size_t body = i + 9;
    if (c.device_code == device::kc) {
        // Groups of eight: a byte with the top bits of the seven that follow, the first of them
        // in bit 6. A last group cut short by the F7 restores the bytes it has.
        sum += strided_sum<8>(c.sums, body, f, [&](size_t q) {
            int64_t group = 0;
            for (size_t j = 1; j <= 7 && q + j < f; ++j)
                group += ((d[q] >> (7 - j)) & 1) << 7 | (d[q + j] & 0x7F);
            return group;
        });
        if (f > body) {
            size_t bytes = f - body;
            c.total_size += bytes - (bytes + 7) / 8;
        }
        if (f >= n) c.broken = true;
    } else {
        // Groups of three 7-bit digits; the low two bytes of each value count.
        size_t limit = f >= 2 ? f - 2 : 0;
        sum += strided_sum<3>(c.sums, body, limit, [&](size_t p) {
            int32_t v = d[p] * 16384 + d[p + 1] * 128 + d[p + 2];
            return (v & 0xFF) + ((v >> 8) & 0xFF);
        });
        if (f < n)
            c.total_size += (static_cast<int64_t>(f - i) * 2 - 16) / 3;
        else
            c.broken = true;
    }
    if ((sum & 0xFF) != expected) c.broken = true;
}

}  // namespace

void check_upgrade_message(UpgradeCheck& check, IntegrityTest& test, size_t i) {
    if (check.device_code == device::ke || check.device_code == device::kg)
        check_packet_encoded(check, test.data, test.length, i);
    else
        check_nibble_encoded(check, test, i);
}

std::string upgrade_verdict(const UpgradeCheck& check) {
    bool packet_encoded = check.device_code == device::ke || check.device_code == device::kg;
    // A whole upgrade has a start and an end message, or exactly one size message.
    int control_messages = packet_encoded ? 2 : 1;
    if (check.control_messages == control_messages && !check.broken) return "Sysex Upgrade";
    return "Sysex Upgrade (Broken!)";
}

}  // namespace jx
