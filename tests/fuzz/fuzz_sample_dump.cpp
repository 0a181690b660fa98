// Feeds arbitrary bytes to the sample-dump description and every SDS message parser, and builds
// a dump from a sample description taken from the bytes, whose packet must read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "analysis/sample_dump.h"
#include "audio/sds.h"
#include "audio/zbname.h"

namespace {

int32_t read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return static_cast<int32_t>(v);
}

void parse_everything(const uint8_t* data, size_t size) {
    (void)jx::describe_sample_dump(data, size);
    jx::SdsHeader header;
    (void)jx::sds_parse_header(data, size, header);
    (void)jx::sds_parse_extended_header(data, size, header);
    (void)jx::sds_header_fields(data, size);
    jx::SdsSampleName name;
    (void)jx::sds_parse_sample_name(data, size, name);
    jx::SdsPacket packet;
    if (jx::sds_parse_packet(data, size, packet) == 1) {
        int32_t words[jx::sds::max_words_per_packet];
        (void)jx::sds_decode_packet(data, size > 6 ? data[6] : 0, words);
    }
    jx::SdsHandshake reply;
    (void)jx::sds_parse_handshake(data, size, size > 2 ? data[2] : 0, reply);
    jx::ZbName zb;
    if (jx::parse_zbname(data, size, zb) == 1) (void)jx::four_char_text(zb.chars.data());
}

// Bytes 0-31 describe a sample, the rest is its name and its words.
void build_and_read_back(const uint8_t* data, size_t size) {
    if (size < 32) return;
    jx::SdsDump dump;
    dump.sample.bits = data[0] % 40;
    dump.sample.rate = read32(data + 1);
    dump.sample.period = read32(data + 5);
    dump.sample.length = read32(data + 9);
    dump.sample.loop_start = read32(data + 13);
    dump.sample.loop_end = read32(data + 17);
    dump.sample.loop_type = read32(data + 21);
    dump.sample.data_start = read32(data + 25);
    auto loop_mode = static_cast<jx::LoopMode>(data[29] % 3);
    std::string_view rest(reinterpret_cast<const char*>(data + 32), size - 32);
    jx::sds_begin_dump(dump, read32(data + 9), data[30]);
    size_t header = jx::sds_build_header(
        dump, loop_mode, data[31] & 1 ? std::optional<std::string_view>(rest) : std::nullopt);
    jx::sds_build_zbname(dump, jx::four_char_value(rest));
    jx::SdsHeader back;
    int parsed = data[31] & 1 ? jx::sds_parse_extended_header(dump.header.data(), header, back)
                              : jx::sds_parse_header(dump.header.data(), header, back);
    if (parsed != 1 || back.bits != dump.bits) std::abort();
    parse_everything(dump.header.data(), dump.header_length);

    const int32_t half = int32_t{1} << (dump.bits - 1);
    for (int k = 0; k < dump.words_per_packet; ++k) {
        int32_t word = 0;
        if (rest.size() >= 4 * static_cast<size_t>(k + 1)) word = read32(data + 32 + 4 * k);
        dump.words[k] = word % half;  // within the wire's range, so it reads back unchanged
    }
    int32_t shift = dump.word_shift;
    dump.word_shift = 0;
    jx::sds_build_packet(dump);
    jx::SdsPacket packet;
    if (jx::sds_parse_packet(dump.packet.data(), jx::sds::packet_size, packet) != 1 ||
        !packet.checksum_ok)
        std::abort();
    int32_t words[jx::sds::max_words_per_packet];
    int count = jx::sds_decode_packet(dump.packet.data(), dump.bits, words);
    for (int k = 0; k < count; ++k)
        if (words[k] != dump.words[k]) std::abort();
    dump.word_shift = shift;
    jx::sds_commit_packet(dump);
    jx::sds_build_packet(dump);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    parse_everything(data, size);
    build_and_read_back(data, size);
    return 0;
}
