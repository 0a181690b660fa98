#include "audio/aiff.h"

#include <bit>
#include <cstring>

#include "audio/byte_order.h"
#include "audio/chunks.h"
#include "audio/extended80.h"
#include "audio/float_sample.h"

namespace jx {

namespace {

struct CompressionType {
    char id[5];
    int32_t code;
};

constexpr CompressionType compression_types[] = {
    {"NONE", aifc_compression::none},
    {"sowt", aifc_compression::sowt},
    {"fl32", aifc_compression::fl32},
    {"fl64", aifc_compression::fl64},
    // The same encodings under the names other writers give them: upper-case floats, and
    // integers named by their width.
    {"FL32", aifc_compression::fl32},
    {"FL64", aifc_compression::fl64},
    {"in24", aifc_compression::none},
    {"in32", aifc_compression::none},
    {"42n1", aifc_compression::sowt},  // sic: the code one common writer stores
    {"23ni", aifc_compression::sowt},
};

int32_t compression_code(const uint8_t* id) {
    for (const CompressionType& type : compression_types)
        if (std::memcmp(type.id, id, 4) == 0) return type.code;
    return aifc_compression::unknown;
}

int read_comm(SampleInfo& info, const Chunk& comm, bool aifc) {
    if (comm.size < (aifc ? 22u : 18u)) return read_chunk_size;
    info.channels = static_cast<int32_t>(read_be16(comm.body));
    info.bits = static_cast<int32_t>(read_be16(comm.body + 6));
    info.rate = read_extended80(comm.body + 8);
    info.compression = aifc ? compression_code(comm.body + 18) : aifc_compression::none;
    if (info.compression == aifc_compression::unknown) return read_not_pcm;
    if (info.channels == 0) return read_unknown_format;
    if (info.compression == aifc_compression::fl32 || info.compression == aifc_compression::fl64) {
        info.container_bytes = info.compression == aifc_compression::fl32 ? 4 : 8;
        info.bits = 24;
    } else {
        if (info.bits < 1 || info.bits > 32) return read_unknown_format;
        info.container_bytes = (info.bits - 1) / 8 + 1;
    }
    return next_chunk;
}

// Calls visit(id, position) for each marker of a `MARK` chunk. False when a marker runs past
// the chunk.
template <class Visit>
bool for_each_marker(const Chunk& mark, Visit&& visit) {
    if (mark.size < 2) return false;
    uint32_t count = read_be16(mark.body);
    uint64_t at = 2;
    for (uint32_t k = 0; k < count; ++k) {
        // id (2), position (4), name count (1) and the name; the name is padded to an even
        // length with its count byte.
        if (at + 7 > mark.size) return false;
        uint32_t name_length = mark.body[at + 6];
        if (at + 7 + name_length > mark.size) return false;
        visit(read_be16(mark.body + at), static_cast<int32_t>(read_be32(mark.body + at + 2)));
        at += 7 + name_length + (name_length % 2 == 0 ? 1 : 0);
    }
    return true;
}

ReadResult parse_form(SampleInfo& info, const uint8_t* data, size_t length, bool aifc) {
    if (length < 4 || std::memcmp(data, "FORM", 4) != 0) return read_other_file;
    if (length < 12 || std::memcmp(data + 8, aifc ? "AIFC" : "AIFF", 4) != 0)
        return read_unknown_format;
    info = SampleInfo{};
    info.format_code = aifc ? 4099 : 4097;
    bool have_format = false;
    uint32_t sound_size = 0;
    // The sustain loop names its ends by marker id; -1 matches no marker.
    int64_t loop_begin_id = -1, loop_end_id = -1;
    int result = walk_chunks(data, length, true, [&](const Chunk& chunk) -> int {
        if (chunk.is("COMM")) {
            have_format = true;
            return read_comm(info, chunk, aifc);
        }
        if (chunk.is("SSND")) {
            // The offset and block size fields before the first frame are not used.
            if (chunk.size < 8 || !fits_int32(chunk.body + 8 - data)) return read_chunk_size;
            info.data_start = static_cast<int32_t>(chunk.body + 8 - data);
            sound_size = chunk.size - 8;
            return next_chunk;
        }
        if (chunk.is("INST")) {
            if (chunk.size < 14) return read_chunk_size;
            uint32_t play_mode = read_be16(chunk.body + 8);
            if (play_mode == 0) info.loop_type = loop_type_none;
            if (play_mode == 1)
                info.loop_type = loop_type_forward;  // forward; other modes are not kept
            loop_begin_id = read_be16(chunk.body + 10);
            loop_end_id = read_be16(chunk.body + 12);
            return next_chunk;
        }
        if (chunk.is("MARK")) {
            if (!for_each_marker(chunk, [&](uint32_t, int32_t) { info.loop_present = 1; }))
                return read_chunk_size;
        }
        return next_chunk;
    });
    if (result != read_ok) return static_cast<ReadResult>(result);
    if (!have_format) return read_unknown_format;
    // Counted once the whole file is known, so that the chunks may come in any order.
    uint64_t frames = sound_size / info.container_bytes / info.channels;
    if (!fits_int32(frames)) return read_chunk_size;
    info.length = static_cast<int32_t>(frames);
    info.loop_start = 0;
    info.loop_end = info.length - 1;
    if (loop_begin_id >= 0) {
        // The sustain loop's markers, whether `MARK` comes before or after `INST`.
        walk_chunks(data, length, true, [&](const Chunk& chunk) -> int {
            if (chunk.is("MARK"))
                for_each_marker(chunk, [&](uint32_t id, int32_t position) {
                    if (id == loop_begin_id) info.loop_start = position;
                    if (id == loop_end_id) info.loop_end = position;
                });
            return next_chunk;
        });
    }
    info.period = sample_period(info.rate);
    info.file_kind = aifc ? sample_kind::aifc : sample_kind::aiff;
    return read_ok;
}

}  // namespace

bool is_aiff(const uint8_t* data, size_t length) {
    return has_container(data, length, "FORM", "AIFF");
}

bool is_aifc(const uint8_t* data, size_t length) {
    return has_container(data, length, "FORM", "AIFC");
}

ReadResult parse_aiff(SampleInfo& info, const uint8_t* data, size_t length) {
    return parse_form(info, data, length, false);
}

ReadResult parse_aifc(SampleInfo& info, const uint8_t* data, size_t length) {
    return parse_form(info, data, length, true);
}

int32_t decode_big_endian(const uint8_t* p, int n) {
    if (n < 1 || n > 4) return 0;
    return read_be_signed(p, n);
}

int32_t decode_aifc_sample(const SampleInfo& info, const uint8_t* p) {
    int n = info.container_bytes;
    int shift = 8 * n - info.bits;
    switch (info.compression) {
        case aifc_compression::none:
        case aifc_compression::sowt: {
            if (n < 1 || n > 4 || shift < 0 || shift > 7) return 0;
            if (info.compression == aifc_compression::none) return read_be_signed(p, n) >> shift;
            return read_le_signed(p, n) >> shift;
        }
        case aifc_compression::fl32:
            return float_sample(std::bit_cast<float>(read_be32(p))) >> 8;
        case aifc_compression::fl64: {
            uint64_t bits = (uint64_t{read_be32(p)} << 32) | read_be32(p + 4);
            return double_sample(std::bit_cast<double>(bits)) >> 8;
        }
    }
    return 0;
}

}  // namespace jx
