#pragma once
// The chunk walk shared by the RIFF (WAV) and IFF (AIFF, AIFC) readers: a 12-byte container
// header (magic, size, form type) followed by chunks of a 4-character id, a 32-bit body size and
// the body, padded to an even length.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "audio/byte_order.h"
#include "audio/sample_info.h"

namespace jx {

struct Chunk {
    const uint8_t* id;
    const uint8_t* body;
    uint32_t size;

    bool is(const char* four) const { return std::memcmp(id, four, 4) == 0; }
};

// True when the data holds the 12-byte container header with this magic and form type.
inline bool has_container(const uint8_t* data, size_t length, const char* magic,
                          const char* form_type) {
    return length >= 12 && std::memcmp(data, magic, 4) == 0 &&
           std::memcmp(data + 8, form_type, 4) == 0;
}

// What a chunk visitor returns to go on to the next chunk.
constexpr int next_chunk = 0;

// Visits the chunks from byte 12 on. The walk stays inside the container's size field, or
// inside the data when that field claims more than the data holds. Returns read_ok after the
// last chunk, read_chunk_size when a chunk or its header runs past that limit, or the first
// result of visit(chunk) other than next_chunk. The caller has checked that the data holds the
// 12-byte header.
template <class Visit>
int walk_chunks(const uint8_t* data, size_t length, bool big_endian, Visit&& visit) {
    uint64_t size_field = big_endian ? read_be32(data + 4) : read_le32(data + 4);
    uint64_t limit = size_field < length - 8 ? size_field : length - 8;  // counted from byte 8
    uint64_t offset = 4;
    while (offset < limit) {
        if (offset + 8 > limit) return read_chunk_size;
        const uint8_t* header = data + 8 + offset;
        uint32_t size = big_endian ? read_be32(header + 4) : read_le32(header + 4);
        uint64_t end = offset + 8 + size;
        if (end > limit) return read_chunk_size;
        if (int result = visit(Chunk{header, header + 8, size}); result != next_chunk)
            return result;
        offset = end + (size & 1);
    }
    return read_ok;
}

}  // namespace jx
