#include "audio/sample_frames.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/sample_file.h"
#include "audio/sample_words.h"
#include "audio/sds.h"
#include "audio/waveform_synthesis.h"

namespace jx {

bool read_file_frames(const uint8_t* data, size_t length, SampleFrames& out) {
    out = {};
    SampleInfo s;
    if (parse_sample(s, data, length) != read_ok || s.channels < 1) return false;
    const int64_t frames = frames_in_data(s, length);
    const int64_t frame_bytes = int64_t{s.channels} * s.container_bytes;
    const float scale = static_cast<float>(std::ldexp(2.0, -s.bits));
    out.rate = s.rate;
    out.bits = s.bits;
    out.declared = s.length;
    out.looped = s.loop_type != loop_type_none;
    out.loop_start = s.loop_start;
    out.loop_end = s.loop_end;
    out.channels.assign(static_cast<size_t>(s.channels),
                        std::vector<float>(static_cast<size_t>(frames)));
    const uint8_t* p = data + s.data_start;
    for (int64_t f = 0; f < frames; ++f, p += frame_bytes)
        for (int32_t c = 0; c < s.channels; ++c)
            out.channels[c][f] =
                static_cast<float>(sample_word(s, p + c * s.container_bytes)) * scale;
    return true;
}

bool read_dump_frames(const uint8_t* data, size_t length, SampleFrames& out) {
    out = {};
    SdsHeader header;
    const uint8_t* end_of_header =
        static_cast<const uint8_t*>(std::memchr(data, sysex_end, length));
    if (end_of_header == nullptr) return false;
    const size_t header_length = static_cast<size_t>(end_of_header - data) + 1;
    if (sds_parse_header(data, header_length, header) != message_whole &&
        sds_parse_extended_header(data, header_length, header) != message_whole)
        return false;
    // Words of any declared depth travel as 8 to 28 bits, as the receiver reads them.
    const int32_t channels = std::clamp(header.channels, 1, 8);
    const int32_t wire_bits = sds_wire_bits(header.bits);
    const float scale = static_cast<float>(std::ldexp(2.0, -wire_bits));
    out.rate = header.rate;
    out.bits = header.bits;
    out.declared = header.length / channels;
    out.looped = header.loop_type != loop_type_none;
    out.loop_start = header.loop_start / channels;
    out.loop_end = header.loop_end / channels;
    out.channels.assign(static_cast<size_t>(channels), {});
    // Room for what the header announces, but never more than the packets present can hold:
    // a header may announce far more than ever arrives.
    const int64_t room =
        std::min<int64_t>(out.declared, static_cast<int64_t>(length / sds::packet_size + 1) *
                                            sds::max_words_per_packet / channels);
    for (auto& channel : out.channels) channel.reserve(static_cast<size_t>(room));
    // The packets of this dump in the order they stand, up to the next dump header; the words
    // of several channels are interleaved.
    int32_t words[sds::max_words_per_packet];
    int64_t taken = 0;
    for (size_t p = header_length; p < length && taken < header.length;) {
        const uint8_t* next =
            static_cast<const uint8_t*>(std::memchr(data + p, sysex_end, length - p));
        const size_t end = next ? static_cast<size_t>(next - data) + 1 : length;
        SdsPacket packet;
        const MessageRead read = sds_parse_packet(data + p, end - p, packet);
        if (read == message_whole) {
            const int count = sds_decode_packet(data + p, header.bits, words);
            for (int k = 0; k < count && taken < header.length; ++k, ++taken)
                out.channels[taken % channels].push_back(static_cast<float>(words[k]) * scale);
        } else if (is_sds_dump_header(data + p, end - p)) {
            break;
        }
        p = end;
    }
    for (auto& channel : out.channels) channel.resize(out.channels.back().size());
    return true;
}

bool read_tonepak_frames(const uint8_t* data, size_t length, SampleFrames& out) {
    out = {};
    const uint8_t header[] = {sysex_start, maker_id[0], maker_id[1],       maker_id[2],
                              0x03,        0x00,        tonepak_message_id};
    if (length < static_cast<size_t>(tonepak_message_length) ||
        std::memcmp(data, header, sizeof header) != 0)
        return false;
    std::vector<uint8_t> bytes(tonepak_table_bytes + 7);
    unpack7(data + 14, tonepak_packed_bytes, bytes.data());
    // Every six bytes carry two points of the full-band 1024-point table, big-endian at 0 and 3.
    std::vector<float> cycle(1024);
    for (int i = 0; i < 512; ++i) {
        const uint8_t* b = bytes.data() + 6 * i;
        cycle[2 * i] = static_cast<int16_t>(b[0] << 8 | b[1]) / 32767.0f;
        cycle[2 * i + 1] = static_cast<int16_t>(b[3] << 8 | b[4]) / 32767.0f;
    }
    // The tables are kept well below full scale for the synthesis's gain curve; drawn, the cycle
    // fills the height.
    float peak = 0;
    for (float v : cycle) peak = std::max(peak, std::fabs(v));
    if (peak > 0)
        for (float& v : cycle) v /= peak;
    out.bits = 16;
    out.declared = 1024;
    out.channels.push_back(std::move(cycle));
    return true;
}

bool read_sample_frames(const uint8_t* data, size_t length, SampleFrames& out) {
    if (is_sample(data, length)) return read_file_frames(data, length, out);
    if (is_sds_dump_header(data, length)) return read_dump_frames(data, length, out);
    return read_tonepak_frames(data, length, out);
}

}  // namespace jx
