#include "audio/wav.h"

#include <bit>
#include <cstring>

#include "audio/byte_order.h"
#include "audio/chunks.h"
#include "audio/float_sample.h"

namespace jx {

namespace {

constexpr int32_t tag_pcm = 1;
constexpr int32_t tag_float = 3;
constexpr uint32_t tag_extensible = 0xFFFE;

// The tail that every sub-format identifier of a WAVE_FORMAT_EXTENSIBLE file shares; its first
// two bytes are the plain format tag (1 PCM, 3 float).
constexpr uint8_t subformat_tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The format tag an extensible file's sub-format stands for, or the extensible tag itself when
// the chunk names no sub-format. Common writers store every 24-bit, 32-bit and multichannel WAV
// as extensible, so refusing the tag outright would refuse ordinary integer and float files.
uint32_t format_tag(const Chunk& fmt) {
    uint32_t tag = read_le16(fmt.body);
    if (tag == tag_extensible && fmt.size >= 40 && read_le16(fmt.body + 16) >= 22 &&
        std::memcmp(fmt.body + 26, subformat_tail, sizeof subformat_tail) == 0)
        return read_le16(fmt.body + 24);
    return tag;
}

int read_fmt(SampleInfo& info, const Chunk& fmt) {
    if (fmt.size < 16) return read_chunk_size;
    info.format_code = static_cast<int32_t>(format_tag(fmt));
    if (info.format_code != tag_pcm && info.format_code != tag_float) return read_not_pcm;
    info.channels = static_cast<int32_t>(read_le16(fmt.body + 2));
    info.rate = static_cast<int32_t>(read_le32(fmt.body + 4));
    info.bits = static_cast<int32_t>(read_le16(fmt.body + 14));
    if (info.channels == 0) return read_unknown_format;
    if (info.format_code == tag_float) {
        // Only single precision is decoded; doubles would be read as twice as many floats.
        if (info.bits != 32) return read_not_pcm;
        info.container_bytes = 4;
        info.bits = 24;
    } else {
        if (info.bits < 1 || info.bits > 32) return read_unknown_format;
        info.container_bytes = (info.bits - 1) / 8 + 1;
    }
    return next_chunk;
}

// The first loop of a `smpl` chunk, when it declares one.
int read_smpl(SampleInfo& info, const Chunk& smpl) {
    if (smpl.size < 32) return read_chunk_size;
    if (read_le32(smpl.body + 28) == 0) return next_chunk;
    if (smpl.size < 52) return read_chunk_size;
    info.loop_type = static_cast<int32_t>(read_le32(smpl.body + 40) & 0x7F);
    info.loop_start = static_cast<int32_t>(read_le32(smpl.body + 44));
    info.loop_end = static_cast<int32_t>(read_le32(smpl.body + 48));
    info.loop_present = 1;
    return next_chunk;
}

}  // namespace

bool is_wav(const uint8_t* data, size_t length) {
    return has_container(data, length, "RIFF", "WAVE");
}

ReadResult parse_wav(SampleInfo& info, const uint8_t* data, size_t length) {
    if (length < 4 || std::memcmp(data, "RIFF", 4) != 0) return read_other_file;
    if (length < 12 || std::memcmp(data + 8, "WAVE", 4) != 0) return read_unknown_format;
    info = SampleInfo{};
    bool have_format = false;
    uint32_t data_size = 0;
    int result = walk_chunks(data, length, false, [&](const Chunk& chunk) -> int {
        if (chunk.is("fmt ")) {
            have_format = true;
            return read_fmt(info, chunk);
        }
        if (chunk.is("data")) {
            if (!fits_int32(chunk.body - data)) return read_chunk_size;
            info.data_start = static_cast<int32_t>(chunk.body - data);
            data_size = chunk.size;
            return next_chunk;
        }
        if (chunk.is("smpl")) return read_smpl(info, chunk);
        return next_chunk;
    });
    if (result != read_ok) return static_cast<ReadResult>(result);
    if (!have_format) return read_unknown_format;
    // The length is counted once the whole file is known, so a `data` chunk before `fmt ` is
    // divided by the file's own sample size and never by a stale one.
    uint64_t frames = data_size / info.container_bytes / info.channels;
    if (!fits_int32(frames)) return read_chunk_size;
    info.length = static_cast<int32_t>(frames);
    // A loop the file declares is kept whatever the order of its chunks: the default loop over
    // the whole sample only stands in for a file that has none.
    if (!info.loop_present) {
        info.loop_start = 0;
        info.loop_end = info.length - 1;
        info.loop_type = loop_type_none;
    }
    info.period = sample_period(info.rate);
    info.file_kind = sample_kind::wav;
    return read_ok;
}

int32_t decode_little_endian(const SampleInfo& info, const uint8_t* p, int container_bytes) {
    if (info.format_code == tag_float) {
        return float_sample(std::bit_cast<float>(read_le32(p)));
    }
    if (info.format_code != tag_pcm || container_bytes < 1 || container_bytes > 4) return 0;
    if (container_bytes == 1) return p[0] - 128;  // 8-bit WAV data is unsigned
    return read_le_signed(p, container_bytes);
}

}  // namespace jx
