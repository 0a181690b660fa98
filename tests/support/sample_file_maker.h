#pragma once
// Builds WAV, AIFF and AIFC files chunk by chunk for tests, with every size field computed here,
// so that a fixture shows exactly the layout a case needs, faults included.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "audio/sample_info.h"

namespace jx::test {

using Bytes = std::vector<uint8_t>;

inline void put(Bytes& out, uint32_t value, int bytes, bool big_endian) {
    for (int k = 0; k < bytes; ++k) {
        int shift = big_endian ? 8 * (bytes - 1 - k) : 8 * k;
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}
inline Bytes le(std::initializer_list<std::pair<uint32_t, int>> fields) {
    Bytes out;
    for (auto [value, bytes] : fields) put(out, value, bytes, false);
    return out;
}
inline Bytes be(std::initializer_list<std::pair<uint32_t, int>> fields) {
    Bytes out;
    for (auto [value, bytes] : fields) put(out, value, bytes, true);
    return out;
}
inline Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
inline Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// id, body size, body and, for an odd size, one pad byte.
inline Bytes chunk(const std::string& id, const Bytes& body, bool big_endian) {
    Bytes out = text(id);
    put(out, static_cast<uint32_t>(body.size()), 4, big_endian);
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2) out.push_back(0);
    return out;
}

// ---- RIFF WAVE

inline Bytes wav_chunk(const std::string& id, const Bytes& body) {
    return chunk(id, body, false);
}

inline Bytes riff(std::initializer_list<Bytes> chunks) {
    Bytes body = text("WAVE");
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes out = text("RIFF");
    put(out, static_cast<uint32_t>(body.size()), 4, false);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline Bytes fmt_chunk(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits) {
    uint32_t block = channels * ((bits + 7) / 8);
    return wav_chunk(
        "fmt ", le({{tag, 2}, {channels, 2}, {rate, 4}, {rate * block, 4}, {block, 2}, {bits, 2}}));
}

// WAVE_FORMAT_EXTENSIBLE with the given sub-format tag (1 PCM, 3 float).
inline Bytes fmt_extensible(uint32_t subformat, uint32_t channels, uint32_t rate, uint32_t bits) {
    uint32_t block = channels * ((bits + 7) / 8);
    return wav_chunk("fmt ", join({le({{0xFFFE, 2},
                                       {channels, 2},
                                       {rate, 4},
                                       {rate * block, 4},
                                       {block, 2},
                                       {bits, 2},
                                       {22, 2},
                                       {bits, 2},
                                       {0, 4},
                                       {subformat, 2}}),
                                   Bytes{0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA,
                                         0x00, 0x38, 0x9B, 0x71}}));
}

struct SmplLoop {
    uint32_t type, start, end;
};
inline Bytes smpl_chunk(uint32_t period, std::initializer_list<SmplLoop> loops) {
    Bytes body = le({{0, 4},
                     {0, 4},
                     {period, 4},
                     {60, 4},
                     {0, 4},
                     {0, 4},
                     {0, 4},
                     {static_cast<uint32_t>(loops.size()), 4},
                     {0, 4}});
    for (const SmplLoop& l : loops)
        body = join({body, le({{0, 4}, {l.type, 4}, {l.start, 4}, {l.end, 4}, {0, 4}, {0, 4}})});
    return wav_chunk("smpl", body);
}

// ---- IFF AIFF / AIFC

inline Bytes aiff_chunk(const std::string& id, const Bytes& body) {
    return chunk(id, body, true);
}

inline Bytes form(const std::string& type, std::initializer_list<Bytes> chunks) {
    Bytes body = text(type);
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes out = text("FORM");
    put(out, static_cast<uint32_t>(body.size()), 4, true);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

using Extended = std::array<uint8_t, 10>;
constexpr Extended rate_44100 = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
constexpr Extended rate_48000 = {0x40, 0x0E, 0xBB, 0x80, 0, 0, 0, 0, 0, 0};

// An AIFF `COMM` chunk, or an AIFC one when a compression type is given.
inline Bytes comm_chunk(uint32_t channels, uint32_t frames, uint32_t bits, const Extended& rate,
                        const std::string& compression = "") {
    Bytes body =
        join({be({{channels, 2}, {frames, 4}, {bits, 2}}), Bytes(rate.begin(), rate.end())});
    if (!compression.empty()) body = join({body, text(compression), Bytes{0}});
    return aiff_chunk("COMM", body);
}

inline Bytes ssnd_chunk(const Bytes& frames) {
    return aiff_chunk("SSND", join({be({{0, 4}, {0, 4}}), frames}));
}

inline Bytes inst_chunk(uint32_t play_mode, uint32_t begin_id, uint32_t end_id) {
    return aiff_chunk("INST", join({Bytes{60, 0, 127, 0, 127, 0}, be({{0, 2}}),
                                    be({{play_mode, 2}, {begin_id, 2}, {end_id, 2}}),
                                    be({{0, 2}, {0, 2}, {0, 2}})}));
}

struct Marker {
    uint32_t id, position;
    std::string name;
};
inline Bytes mark_chunk(std::initializer_list<Marker> markers) {
    Bytes body = be({{static_cast<uint32_t>(markers.size()), 2}});
    for (const Marker& m : markers) {
        body =
            join({body, be({{m.id, 2}, {m.position, 4}, {static_cast<uint32_t>(m.name.size()), 1}}),
                  text(m.name)});
        if (m.name.size() % 2 == 0) body.push_back(0);  // the name with its count is even
    }
    return aiff_chunk("MARK", body);
}

// Every field of a parse result in one line, so that a test states a whole result at once.
inline std::string summary(const SampleInfo& s) {
    return "kind " + std::to_string(s.file_kind) + " format " + std::to_string(s.format_code) +
           " length " + std::to_string(s.length) + " channels " + std::to_string(s.channels) +
           " bits " + std::to_string(s.bits) + " container " + std::to_string(s.container_bytes) +
           " rate " + std::to_string(s.rate) + " period " + std::to_string(s.period) + " loop " +
           std::to_string(s.loop_start) + ".." + std::to_string(s.loop_end) + " type " +
           std::to_string(s.loop_type) + " present " + std::to_string(s.loop_present) + " data " +
           std::to_string(s.data_start);
}

}  // namespace jx::test
