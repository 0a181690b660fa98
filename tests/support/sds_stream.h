#pragma once
// Reads an SDS dump back the way a receiving sampler does, written apart from the code under
// test: header fields, the name messages, every packet's number and words, and what was wrong.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace jx::test {

// w bytes of 7 bits, most significant first, right-justified to `bits`, offset removed.
inline int32_t receive_word(const uint8_t* in, int bits, int w) {
    int64_t raw = 0;
    for (int j = 0; j < w; ++j) raw = raw * 128 + in[j];
    return static_cast<int32_t>((raw >> (7 * w - bits)) - (int64_t{1} << (bits - 1)));
}

// Value of count 7-bit groups, least significant first.
inline int64_t groups_lsb_first(const uint8_t* in, int count) {
    int64_t v = 0;
    for (int k = count - 1; k >= 0; --k) v = v * 128 + in[k];
    return v;
}

struct ReceivedDump {
    std::vector<std::vector<uint8_t>> messages;  // every F0 … F7 message, in order
    bool extended = false;
    int device = -1;
    int sample_number = -1;
    int bits = 0;
    int64_t period = 0;  // dump header
    int64_t rate = 0;    // extended dump header
    int64_t length = 0, loop_start = 0, loop_end = 0;
    int loop_type = -1;
    bool has_name = false;
    std::string name;
    bool has_zbname = false;
    int zbname_sample = -1;
    std::string zbname;
    std::vector<int> packet_numbers;
    std::vector<int32_t> words;  // every word of every packet, the padding included
    std::string problem;         // empty when every message was well formed
};

inline ReceivedDump receive_dump(const std::vector<uint8_t>& stream) {
    ReceivedDump d;
    for (size_t k = 0; k < stream.size();) {
        if (stream[k] != 0xF0) {
            d.problem = "a byte outside a message at " + std::to_string(k);
            return d;
        }
        size_t end = k + 1;
        while (end < stream.size() && stream[end] != 0xF7) {
            if (stream[end] >= 0x80) d.problem = "a status byte inside a message";
            ++end;
        }
        if (end == stream.size()) {
            d.problem = "a message without F7";
            return d;
        }
        d.messages.emplace_back(stream.begin() + k, stream.begin() + end + 1);
        k = end + 1;
    }
    size_t at = 0;
    auto next = [&]() -> const std::vector<uint8_t>* {
        return at < d.messages.size() ? &d.messages[at] : nullptr;
    };
    const std::vector<uint8_t>* m = next();
    if (m && m->size() == 21 && (*m)[1] == 0x7E && (*m)[3] == 0x01) {
        const uint8_t* h = m->data();
        d.device = h[2];
        d.sample_number = h[4] | h[5] << 7;
        d.bits = h[6];
        d.period = groups_lsb_first(h + 7, 3);
        d.length = groups_lsb_first(h + 10, 3);
        d.loop_start = groups_lsb_first(h + 13, 3);
        d.loop_end = groups_lsb_first(h + 16, 3);
        d.loop_type = h[19];
        ++at;
    } else if (m && m->size() == 34 && (*m)[1] == 0x7E && (*m)[3] == 0x05 && (*m)[4] == 0x05) {
        const uint8_t* h = m->data();
        d.extended = true;
        d.device = h[2];
        d.sample_number = h[5] << 7 | h[6];
        d.bits = h[7];
        d.rate = groups_lsb_first(h + 8, 4);
        if (groups_lsb_first(h + 12, 4) != 0) d.problem = "a fraction of a hertz";
        d.length = groups_lsb_first(h + 16, 5);
        d.loop_start = groups_lsb_first(h + 21, 5);
        d.loop_end = groups_lsb_first(h + 26, 5);
        d.loop_type = h[31];
        if (h[32] != 1) d.problem = "more than one channel";
        ++at;
        m = next();
        if (m && m->size() >= 10 && (*m)[3] == 0x05 && (*m)[4] == 0x03 &&
            m->size() == 10u + (*m)[8] && ((*m)[5] << 7 | (*m)[6]) == d.sample_number) {
            d.has_name = true;
            d.name.assign(m->begin() + 9, m->end() - 1);
            ++at;
        } else {
            d.problem = "no sample name message after the extended header";
        }
    } else {
        d.problem = "no dump header";
        return d;
    }
    m = next();
    const std::vector<uint8_t> zb_start = {0xF0, 0x00, 0x6B, 0x2E, 0x02, 0x00, 0x73};
    if (m && m->size() == 13 && std::equal(zb_start.begin(), zb_start.end(), m->begin())) {
        d.has_zbname = true;
        d.zbname_sample = (*m)[7];
        d.zbname.assign(m->begin() + 8, m->begin() + 12);
        ++at;
    }
    if (d.bits < 8 || d.bits > 28) {
        d.problem = "bits per word " + std::to_string(d.bits);
        return d;
    }
    const int w = d.bits < 15 ? 2 : d.bits < 22 ? 3 : 4;
    for (; at < d.messages.size(); ++at) {
        const std::vector<uint8_t>& p = d.messages[at];
        if (p.size() != 127 || p[1] != 0x7E || p[2] != d.device || p[3] != 0x02) {
            d.problem = "message " + std::to_string(at) + " is not a data packet";
            return d;
        }
        uint8_t sum = 0;
        for (int k = 1; k <= 124; ++k) sum ^= p[k];
        if ((sum & 0x7F) != p[125]) d.problem = "a checksum is wrong";
        d.packet_numbers.push_back(p[4]);
        for (int k = 0; k < 120 / w; ++k) d.words.push_back(receive_word(&p[5 + k * w], d.bits, w));
    }
    return d;
}

}  // namespace jx::test
