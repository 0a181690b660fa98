#include "audio/sds.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "platform/os/text.h"

namespace jx {

namespace {

// Value split into 7-bit groups, least significant first; signed values shift arithmetically,
// so the top group of a five-byte field holds bits 28 to 31.
uint8_t* put_groups(uint8_t* out, int32_t value, int groups) {
    for (int k = 0; k < groups; ++k) *out++ = static_cast<uint8_t>((value >> (7 * k)) & 0x7F);
    return out;
}

// Up to five groups (35 bits); a value beyond what 32 bits hold signed is kept at the largest
// that does, never wrapped into another one.
int32_t get_groups(const uint8_t* in, int groups) {
    uint64_t value = 0;
    for (int k = 0; k < groups; ++k) value |= static_cast<uint64_t>(in[k] & 0x7F) << (7 * k);
    return fits_int32(value) ? static_cast<int32_t>(value) : INT32_MAX;
}

// Every byte of a message must be a data byte; a device number above 7F would end the message
// on the wire, so only its low seven bits are sent.
uint8_t data_byte(uint32_t value) {
    return static_cast<uint8_t>(value & 0x7F);
}

bool starts_sds(const uint8_t* data, size_t length, uint8_t sub_id) {
    return length >= 4 && data[0] == sysex_start && data[1] == universal_non_realtime &&
           data[3] == sub_id;
}

// Room for `size` more bytes in the header buffer.
bool header_room(const SdsDump& dump, size_t size) {
    return dump.header_length + size <= dump.header.size();
}

void apply_loop_mode(SampleInfo& sample, LoopMode loop_mode, int32_t& loop_type) {
    switch (loop_mode) {
        case loop_on:
            if (sample.loop_end == 0) {
                sample.loop_start = 0;
                sample.loop_end = sample.length > 0 ? sample.length - 1 : 0;
            }
            loop_type = loop_type_forward;
            break;
        case loop_off:
            loop_type = loop_type_none;
            break;
        case loop_file:
            loop_type = sample.loop_type & 0x7F;
    }
}

// The name as our devices can show it: Windows-1252 characters, and a '?' for anything that is
// not a 7-bit data byte, at most 127 of them.
std::string name_bytes(std::string_view utf8) {
    std::string name = utf8_to_cp1252(std::string(utf8));
    if (name.size() > sds::max_name_chars) name.resize(sds::max_name_chars);
    for (char& c : name)
        if (static_cast<uint8_t>(c) >= 0x80) c = '?';
    return name;
}

std::string field_problem(const char* what, int64_t value, int64_t limit) {
    return what + std::string(" ") + std::to_string(value) +
           " does not fit the dump header (0 to " + std::to_string(limit) + ")";
}

}  // namespace

std::string sds_header_problem(const SampleInfo& sample, int32_t sample_number, LoopMode loop_mode,
                               bool extended) {
    if (sample_number < 0 || sample_number > sds::max_sample_number)
        return field_problem("sample number", sample_number, sds::max_sample_number);
    SampleInfo s = sample;
    int32_t loop_type = 0;
    apply_loop_mode(s, loop_mode, loop_type);
    // The extended header carries the rate in 28 bits and the length and loop in 35: any
    // length a sample here can have. The plain one has 21 bits for each.
    const int64_t limit = extended ? INT32_MAX : sds::max_header_field;
    const std::pair<const char*, int32_t> fields[] = {
        {"length of frames", s.length}, {"loop start", s.loop_start}, {"loop end", s.loop_end}};
    for (auto [what, value] : fields)
        if (value < 0 || value > limit) return field_problem(what, value, limit);
    if (!extended && (s.period < 0 || s.period > sds::max_header_field))
        return field_problem("sample period (ns)", s.period, sds::max_header_field);
    if (extended && (s.rate < 0 || s.rate > 0xFFFFFFF))
        return field_problem("sample rate", s.rate, 0xFFFFFFF);
    return "";
}

int32_t sds_wire_bits(int32_t bits) {
    return std::clamp(bits, sds::min_bits, sds::max_bits);
}

SdsPacking sds_packing(int32_t bits) {
    bits = sds_wire_bits(bits);
    if (bits < 15) return {2, 60};
    if (bits <= 21) return {3, 40};
    return {4, 30};
}

int32_t sds_begin_dump(SdsDump& dump, int32_t sample_number, uint8_t device) {
    dump.sample_number = sample_number & 0x3FFF;
    dump.device = data_byte(device);
    dump.bits = sds_wire_bits(dump.sample.bits);
    // Depths outside what a dump carries are scaled to the nearest one; a depth that no sample
    // can have leaves the words as they are.
    bool sane = dump.sample.bits >= 1 && dump.sample.bits <= 32;
    dump.word_shift = sane ? dump.bits - dump.sample.bits : 0;
    SdsPacking packing = sds_packing(dump.bits);
    dump.bytes_per_word = packing.bytes_per_word;
    dump.words_per_packet = packing.words_per_packet;
    dump.packet_number = dump.committed_packet_number = 0;
    dump.sample_position = dump.committed_sample_position = 0;
    dump.read_position = dump.committed_read_position = dump.sample.data_start;
    dump.header_length = 0;
    return dump.sample.length;
}

size_t sds_build_header(SdsDump& dump, LoopMode loop_mode, std::optional<std::string_view> name) {
    if (!sds_header_problem(dump.sample, dump.sample_number, loop_mode, name.has_value()).empty())
        return 0;
    int32_t loop_type = loop_type_none;
    apply_loop_mode(dump.sample, loop_mode, loop_type);
    const SampleInfo& s = dump.sample;
    size_t start = dump.header_length;
    if (!name) {
        if (!header_room(dump, sds::header_size)) return 0;
        uint8_t* p = dump.header.data() + start;
        *p++ = sysex_start;
        *p++ = universal_non_realtime;
        *p++ = dump.device;
        *p++ = sds::dump_header;
        *p++ = data_byte(dump.sample_number);
        *p++ = data_byte(dump.sample_number >> 7);
        *p++ = data_byte(dump.bits);
        p = put_groups(p, s.period, 3);
        p = put_groups(p, s.length, 3);
        p = put_groups(p, s.loop_start, 3);
        p = put_groups(p, s.loop_end, 3);
        *p++ = data_byte(loop_type);
        *p++ = sysex_end;
        dump.header_length = p - dump.header.data();
        return dump.header_length - start;
    }
    std::string chars = name_bytes(*name);
    if (!header_room(dump, sds::extended_header_size + 10 + chars.size())) return 0;
    uint8_t* p = dump.header.data() + start;
    *p++ = sysex_start;
    *p++ = universal_non_realtime;
    *p++ = dump.device;
    *p++ = sds::extended;
    *p++ = sds::extended_header;
    *p++ = data_byte(dump.sample_number >> 7);
    *p++ = data_byte(dump.sample_number);
    *p++ = data_byte(dump.bits);
    p = put_groups(p, s.rate, 4);
    p = put_groups(p, 0, 4);  // no fraction of a hertz
    p = put_groups(p, s.length, 5);
    p = put_groups(p, s.loop_start, 5);
    p = put_groups(p, s.loop_end, 5);
    *p++ = data_byte(loop_type);
    *p++ = 0x01;  // a dump always carries one channel
    *p++ = sysex_end;

    *p++ = sysex_start;
    *p++ = universal_non_realtime;
    *p++ = dump.device;
    *p++ = sds::extended;
    *p++ = sds::sample_name;
    *p++ = data_byte(dump.sample_number >> 7);
    *p++ = data_byte(dump.sample_number);
    *p++ = 0x00;
    *p++ = static_cast<uint8_t>(chars.size());
    for (char c : chars) *p++ = static_cast<uint8_t>(c);
    *p++ = sysex_end;
    dump.header_length = p - dump.header.data();
    return dump.header_length - start;
}

size_t sds_build_packet(SdsDump& dump) {
    dump.packet_number = dump.committed_packet_number;
    dump.sample_position = dump.committed_sample_position;
    uint8_t* p = dump.packet.data();
    p[0] = sysex_start;
    p[1] = universal_non_realtime;
    p[2] = dump.device;
    p[3] = sds::data_packet;
    p[4] = data_byte(dump.packet_number);
    uint8_t* out = p + 5;
    for (int k = 0; k < dump.words_per_packet; ++k) {
        uint32_t word = static_cast<uint32_t>(dump.words[k]);
        word = dump.word_shift >= 0 ? word << dump.word_shift
                                    : static_cast<uint32_t>(dump.words[k] >> -dump.word_shift);
        sds_encode_word(static_cast<int32_t>(word), dump.bits, dump.bytes_per_word, out);
        out += dump.bytes_per_word;
    }
    p[125] = sds_packet_checksum(p);
    p[126] = sysex_end;
    dump.packet_number = (dump.packet_number + 1) & 0x7F;
    dump.sample_position += dump.words_per_packet;
    return sds::packet_size;
}

void sds_commit_packet(SdsDump& dump) {
    dump.committed_packet_number = dump.packet_number;
    dump.committed_sample_position = dump.sample_position;
    dump.committed_read_position = dump.read_position;
}

void sds_encode_word(int32_t word, int32_t bits, int32_t bytes_per_word, uint8_t* out) {
    bits = sds_wire_bits(bits);
    uint32_t value = static_cast<uint32_t>(word) + (1u << (bits - 1));
    value <<= 7 * bytes_per_word - bits;
    for (int j = 0; j < bytes_per_word; ++j)
        out[j] = static_cast<uint8_t>((value >> (7 * (bytes_per_word - 1 - j))) & 0x7F);
}

int32_t sds_decode_word(const uint8_t* in, int32_t bits, int32_t bytes_per_word) {
    bits = sds_wire_bits(bits);
    uint32_t value = 0;
    for (int j = 0; j < bytes_per_word; ++j) value = (value << 7) | (in[j] & 0x7F);
    value >>= 7 * bytes_per_word - bits;
    return static_cast<int32_t>(value) - (int32_t{1} << (bits - 1));
}

namespace {

// Exclusive-or of bytes 1 to 124, many bytes at a time, the lanes folded into one byte at the end:
// bytes 0 to 111 in seven blocks of sixteen (or fourteen words of eight) with byte 0, the F0,
// taken out again; 112 to 119 in a word, 120 to 123 in a half word, then 124. With `copy` the
// whole packet goes to `out` on the way.
template <bool copy>
uint8_t packet_checksum(const uint8_t* packet, uint8_t* out) {
    uint64_t x = 0;
#if defined(__SSE2__) && defined(__x86_64__)
    __m128i acc = _mm_setzero_si128();
    for (int k = 0; k < 7; ++k) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(packet + 16 * k));
        if (copy) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * k), block);
        acc = _mm_xor_si128(acc, block);
    }
    if (copy)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 111),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(packet + 111)));
    acc = _mm_xor_si128(acc, _mm_srli_si128(acc, 8));
    x = static_cast<uint64_t>(_mm_cvtsi128_si64(acc));
#else
    for (int k = 0; k < 14; ++k) {
        uint64_t word;
        std::memcpy(&word, packet + 8 * k, sizeof word);
        x ^= word;
    }
    if (copy) std::memcpy(out, packet, sds::packet_size);
#endif
    x ^= packet[0];
    uint64_t word;
    std::memcpy(&word, packet + 112, sizeof word);
    x ^= word;
    uint32_t half;
    std::memcpy(&half, packet + 120, sizeof half);
    x ^= half;
    x ^= packet[124];
    x ^= x >> 32;
    x ^= x >> 16;
    x ^= x >> 8;
    return static_cast<uint8_t>(x & 0x7F);
}

}  // namespace

uint8_t sds_packet_checksum(const uint8_t* packet) {
    return packet_checksum<false>(packet, nullptr);
}

uint8_t sds_copy_packet(const uint8_t* packet, uint8_t* out) {
    return packet_checksum<true>(packet, out);
}

int32_t sds_rate_from_period(int32_t period) {
    if (period <= 0) return 0;
    int32_t rate = (period / 2 + 1000000000) / period;
    if (rate == 44099) return 44100;
    if (rate == 48001) return 48000;
    return rate;
}

std::array<uint8_t, sds::handshake_size> sds_handshake(uint8_t type, uint8_t device,
                                                       uint8_t packet_number) {
    std::array<uint8_t, sds::handshake_size> message = {
        sysex_start, universal_non_realtime, 0x00, data_byte(type), 0x00, sysex_end};
    message[2] = data_byte(device);
    message[4] = data_byte(packet_number);
    return message;
}

std::array<uint8_t, sds::dump_request_size> sds_dump_request(uint8_t device,
                                                             int32_t sample_number) {
    return {sysex_start,
            universal_non_realtime,
            data_byte(device),
            sds::dump_request,
            data_byte(static_cast<uint8_t>(sample_number & 0x7F)),
            data_byte(static_cast<uint8_t>((sample_number >> 7) & 0x7F)),
            sysex_end};
}

bool is_sds_dump_header(const uint8_t* data, size_t length) {
    return starts_sds(data, length, sds::dump_header);
}

SdsHeader sds_header_fields(const uint8_t* data, size_t length) {
    SdsHeader h;
    auto has = [&](size_t last) { return last < length; };
    if (has(2)) h.device = data[2];
    if (has(5)) h.sample_number = (data[4] & 0x7F) | (data[5] & 0x7F) << 7;
    if (has(6)) h.bits = data[6];
    if (has(9)) h.period = get_groups(data + 7, 3);
    if (has(12)) h.length = get_groups(data + 10, 3);
    if (has(15)) h.loop_start = get_groups(data + 13, 3);
    if (has(18)) h.loop_end = get_groups(data + 16, 3);
    if (has(19)) h.loop_type = data[19];
    h.rate = sds_rate_from_period(h.period);
    return h;
}

MessageRead sds_parse_header(const uint8_t* data, size_t length, SdsHeader& header) {
    if (!starts_sds(data, length, sds::dump_header)) return message_other;
    header = sds_header_fields(data, length);
    return length >= sds::header_size && data[20] == sysex_end ? message_whole : message_cut;
}

MessageRead sds_parse_extended_header(const uint8_t* data, size_t length, SdsHeader& header) {
    if (!starts_sds(data, length, sds::extended) || length < 5 || data[4] != sds::extended_header)
        return message_other;
    if (length < sds::extended_header_size || data[33] != sysex_end) return message_cut;
    header.device = data[2];
    header.sample_number = (data[5] & 0x7F) << 7 | (data[6] & 0x7F);
    header.bits = data[7];
    header.rate = get_groups(data + 8, 4);
    header.period = sample_period(header.rate);
    header.length = get_groups(data + 16, 5);
    header.loop_start = get_groups(data + 21, 5);
    header.loop_end = get_groups(data + 26, 5);
    header.loop_type = data[31];
    header.channels = data[32];
    return message_whole;
}

MessageRead sds_parse_sample_name(const uint8_t* data, size_t length, SdsSampleName& name) {
    if (!starts_sds(data, length, sds::extended) || length < 5 || data[4] != sds::sample_name)
        return message_other;
    if (length < 10) return message_cut;
    size_t n = data[8];
    if (length < 10 + n || data[9 + n] != sysex_end) return message_cut;
    name.device = data[2];
    name.sample_number = (data[5] & 0x7F) << 7 | (data[6] & 0x7F);
    name.name.assign(reinterpret_cast<const char*>(data + 9), n);
    return message_whole;
}

MessageRead sds_parse_packet(const uint8_t* data, size_t length, SdsPacket& packet) {
    if (!starts_sds(data, length, sds::data_packet)) return message_other;
    if (length < sds::packet_size || data[126] != sysex_end) return message_cut;
    packet.device = data[2];
    packet.packet_number = data[4];
    packet.checksum_ok = sds_packet_checksum(data) == data[125];
    return message_whole;
}

int sds_decode_packet(const uint8_t* packet, int32_t bits, int32_t* words) {
    SdsPacking packing = sds_packing(bits);
    for (int k = 0; k < packing.words_per_packet; ++k)
        words[k] =
            sds_decode_word(packet + 5 + k * packing.bytes_per_word, bits, packing.bytes_per_word);
    return packing.words_per_packet;
}

MessageRead sds_parse_handshake(const uint8_t* data, size_t length, uint8_t device,
                                SdsHandshake& reply) {
    if (length < 4 || data[0] != sysex_start || data[1] != universal_non_realtime ||
        data[2] != data_byte(device) || data[3] < sds::wait || data[3] > sds::ack)
        return message_other;
    reply.type = data[3];
    reply.packet_number = length > 4 && data[4] != sysex_end ? data[4] : -1;
    return message_whole;
}

}  // namespace jx
