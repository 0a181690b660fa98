#include "audio/sds.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "sds_stream.h"

namespace jx {
namespace {

using Bytes = std::vector<uint8_t>;

using test::groups_lsb_first;
using test::receive_word;

uint8_t xor_of_bytes_1_to_124(const uint8_t* packet) {
    uint8_t x = 0;
    for (int k = 1; k <= 124; ++k) x ^= packet[k];
    return x & 0x7F;
}

SdsDump dump_of(int bits, int length = 1000) {
    SdsDump dump;
    dump.sample.bits = bits;
    dump.sample.rate = 44100;
    dump.sample.period = 22676;
    dump.sample.length = length;
    dump.sample.loop_start = 0;
    dump.sample.loop_end = length - 1;
    dump.sample.loop_type = 0x7F;
    return dump;
}

TEST(SdsPacket, WordsComeBackAsTheyWentInAtEveryPacking) {
    struct Case {
        int bits, bytes_per_word, words_per_packet;
    } cases[] = {{8, 2, 60},  {14, 2, 60}, {15, 3, 40}, {16, 3, 40},
                 {21, 3, 40}, {22, 4, 30}, {24, 4, 30}};
    std::mt19937 rng(3);
    for (const Case& c : cases) {
        SdsDump dump = dump_of(c.bits);
        sds_begin_dump(dump, 0, 0x05);
        ASSERT_EQ(dump.bytes_per_word, c.bytes_per_word) << c.bits;
        ASSERT_EQ(dump.words_per_packet, c.words_per_packet) << c.bits;
        const int32_t lowest = -(1 << (c.bits - 1)), highest = (1 << (c.bits - 1)) - 1;
        std::vector<int32_t> sent(c.words_per_packet);
        for (int k = 0; k < c.words_per_packet; ++k)
            sent[k] = k == 0   ? lowest
                      : k == 1 ? highest
                      : k == 2 ? 0
                      : k == 3 ? -1
                               : static_cast<int32_t>(rng() % (uint32_t(1) << c.bits)) + lowest;
        std::copy(sent.begin(), sent.end(), dump.words.begin());
        ASSERT_EQ(sds_build_packet(dump), 127u);
        const uint8_t* p = dump.packet.data();
        EXPECT_EQ(Bytes(p, p + 5), (Bytes{0xF0, 0x7E, 0x05, 0x02, 0x00})) << c.bits;
        EXPECT_EQ(p[125], xor_of_bytes_1_to_124(p)) << c.bits;
        EXPECT_EQ(p[126], 0xF7) << c.bits;
        for (int k = 5; k < 125; ++k) ASSERT_LT(p[k], 0x80) << c.bits << " byte " << k;
        for (int k = 0; k < c.words_per_packet; ++k)
            ASSERT_EQ(receive_word(p + 5 + k * c.bytes_per_word, c.bits, c.bytes_per_word), sent[k])
                << c.bits << " bits, word " << k;
        std::vector<int32_t> decoded(c.words_per_packet);
        EXPECT_EQ(sds_decode_packet(p, c.bits, decoded.data()), c.words_per_packet);
        EXPECT_EQ(decoded, sent) << c.bits;
    }
}

TEST(SdsPacket, SixteenBitSilenceAndLowestValue) {
    uint8_t out[3];
    sds_encode_word(0, 16, 3, out);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x40, 0x00, 0x00}));
    sds_encode_word(-32768, 16, 3, out);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x00, 0x00, 0x00}));
    sds_encode_word(32767, 16, 3, out);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x7F, 0x7F, 0x60}));
}

TEST(SdsPacket, DepthsADumpCannotCarryGoAsTheNearestOne) {
    // 32-bit words lose their low four bits; 4-bit words are scaled up to 8 bits.
    struct Case {
        int sample_bits, wire_bits;
        int32_t word, received;
    } cases[] = {{32, 28, -0x12345678, -0x1234568},
                 {32, 28, 0x7FFFFFFF, 0x7FFFFFF},
                 {4, 8, -8, -128},
                 {4, 8, 7, 112}};
    for (const Case& c : cases) {
        SdsDump dump = dump_of(c.sample_bits);
        sds_begin_dump(dump, 0, 0);
        EXPECT_EQ(dump.bits, c.wire_bits);
        dump.words[0] = c.word;
        sds_build_packet(dump);
        EXPECT_EQ(receive_word(dump.packet.data() + 5, c.wire_bits, dump.bytes_per_word),
                  c.received)
            << c.sample_bits << " bits, word " << c.word;
        sds_build_header(dump, loop_file, std::nullopt);
        EXPECT_EQ(dump.header[6], c.wire_bits);
    }
}

TEST(SdsPacket, ARebuiltPacketIsTheSameUntilItIsCommitted) {
    SdsDump dump = dump_of(16, 100000);
    EXPECT_EQ(sds_begin_dump(dump, 3, 0), 100000);
    dump.read_position = 1234;
    dump.words[0] = 77;
    sds_build_packet(dump);
    Bytes first(dump.packet.begin(), dump.packet.begin() + 127);
    EXPECT_EQ(dump.sample_position, 40);
    sds_build_packet(dump);  // a NAK: built again without a commit
    EXPECT_EQ(Bytes(dump.packet.begin(), dump.packet.begin() + 127), first);
    EXPECT_EQ(dump.committed_read_position, dump.sample.data_start);
    sds_commit_packet(dump);
    EXPECT_EQ(dump.committed_read_position, 1234);
    EXPECT_EQ(dump.committed_sample_position, 40);
    sds_build_packet(dump);
    EXPECT_EQ(dump.packet[4], 1);
    // Packet 128 (the 129th) is numbered 0 again.
    for (int k = 2; k <= 128; ++k) {
        sds_commit_packet(dump);
        sds_build_packet(dump);
    }
    EXPECT_EQ(dump.packet[4], 0);
    EXPECT_EQ(dump.sample_position, 129 * 40);
    EXPECT_EQ(dump.packet[125], xor_of_bytes_1_to_124(dump.packet.data()));
}

TEST(SdsHeader, DumpHeaderFields) {
    SdsDump dump = dump_of(16, 100);
    dump.sample.loop_start = 10;
    dump.sample.loop_end = 20000;
    dump.sample.loop_type = 0x00;
    sds_begin_dump(dump, 200, 0x11);
    ASSERT_EQ(sds_build_header(dump, loop_file, std::nullopt), 21u);
    const uint8_t* h = dump.header.data();
    EXPECT_EQ(Bytes(h, h + 7), (Bytes{0xF0, 0x7E, 0x11, 0x01, 0x48, 0x01, 16}));
    EXPECT_EQ(groups_lsb_first(h + 7, 3), 22676);
    EXPECT_EQ(groups_lsb_first(h + 10, 3), 100);
    EXPECT_EQ(groups_lsb_first(h + 13, 3), 10);
    EXPECT_EQ(groups_lsb_first(h + 16, 3), 20000);
    EXPECT_EQ(h[19], 0x00);
    EXPECT_EQ(h[20], 0xF7);
    EXPECT_EQ(dump.header_length, 21u);

    SdsHeader back;
    ASSERT_EQ(sds_parse_header(h, 21, back), 1);
    EXPECT_EQ(back.device, 0x11);
    EXPECT_EQ(back.sample_number, 200);
    EXPECT_EQ(back.bits, 16);
    EXPECT_EQ(back.period, 22676);
    EXPECT_EQ(back.rate, 44100);
    EXPECT_EQ(back.length, 100);
    EXPECT_EQ(back.loop_start, 10);
    EXPECT_EQ(back.loop_end, 20000);
    EXPECT_EQ(back.loop_type, 0);
    EXPECT_EQ(sds_parse_header(h, 20, back), -1);
    EXPECT_EQ(sds_parse_header(h + 1, 20, back), 0);
}

TEST(SdsHeader, ExtendedHeaderAndNameCarryTheSampleNumberHighPartFirst) {
    SdsDump dump = dump_of(24, 3000000);
    dump.sample.rate = 96000;
    dump.sample.loop_type = 0x00;
    dump.sample.loop_start = 5;
    sds_begin_dump(dump, 200, 0x00);
    ASSERT_EQ(sds_build_header(dump, loop_file, "kick"), 34u + 14u);
    const uint8_t* h = dump.header.data();
    EXPECT_EQ(Bytes(h, h + 8), (Bytes{0xF0, 0x7E, 0x00, 0x05, 0x05, 0x01, 0x48, 24}));
    EXPECT_EQ(groups_lsb_first(h + 8, 4), 96000);
    EXPECT_EQ(Bytes(h + 12, h + 16), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(groups_lsb_first(h + 16, 4), 3000000);  // beyond 21 bits: the header would lose it
    EXPECT_EQ(h[20], 0);
    EXPECT_EQ(groups_lsb_first(h + 21, 5), 5);
    EXPECT_EQ(groups_lsb_first(h + 26, 4), 2999999);
    EXPECT_EQ(Bytes(h + 31, h + 34), (Bytes{0x00, 0x01, 0xF7}));
    EXPECT_EQ(Bytes(h + 34, h + 48),
              (Bytes{0xF0, 0x7E, 0x00, 0x05, 0x03, 0x01, 0x48, 0x00, 4, 'k', 'i', 'c', 'k', 0xF7}));

    SdsHeader back;
    ASSERT_EQ(sds_parse_extended_header(h, 34, back), 1);
    EXPECT_EQ(back.sample_number, 200);
    EXPECT_EQ(back.rate, 96000);
    EXPECT_EQ(back.length, 3000000);
    EXPECT_EQ(back.loop_end, 2999999);
    EXPECT_EQ(back.channels, 1);
    SdsSampleName name;
    ASSERT_EQ(sds_parse_sample_name(h + 34, 14, name), 1);
    EXPECT_EQ(name.sample_number, 200);
    EXPECT_EQ(name.name, "kick");
    EXPECT_EQ(sds_parse_sample_name(h + 34, 13, name), -1);
    EXPECT_EQ(sds_parse_sample_name(h, 34, name), 0);
    EXPECT_EQ(sds_parse_extended_header(h + 34, 14, back), 0);
}

TEST(SdsHeader, NamesAreCutTo127AndKeptToDataBytes) {
    struct Case {
        std::string name;
        std::string sent;
    } cases[] = {
        {std::string(130, 'a'), std::string(127, 'a')},
        {"", ""},
        {"Grüße", "Gr??e"},         // letters the devices cannot show
        {"snare\x80x", "snare?x"},  // a malformed UTF-8 byte
    };
    for (const Case& c : cases) {
        SdsDump dump = dump_of(16);
        sds_begin_dump(dump, 1, 0);
        size_t size = sds_build_header(dump, loop_file, c.name);
        ASSERT_EQ(size, 34 + 10 + c.sent.size()) << c.name;
        const uint8_t* m = dump.header.data() + 34;
        EXPECT_EQ(m[8], c.sent.size());
        EXPECT_EQ(std::string(m + 9, m + 9 + c.sent.size()), c.sent);
        EXPECT_EQ(m[9 + c.sent.size()], 0xF7);
    }
}

TEST(SdsHeader, LoopFieldsFollowTheLoopMode) {
    struct Case {
        const char* what;
        LoopMode mode;
        int32_t file_start, file_end, file_type;
        int32_t start, end, type;
    } cases[] = {
        {"file's loop", loop_file, 10, 99, 0x00, 10, 99, 0x00},
        {"file without loop", loop_file, 0, 999, 0x7F, 0, 999, 0x7F},
        {"file's own loop type", loop_file, 10, 99, 0x81, 10, 99, 0x01},
        {"on, no loop end: whole sample", loop_on, 0, 0, 0x7F, 0, 999, 0x00},
        {"on keeps a loop", loop_on, 10, 99, 0x7F, 10, 99, 0x00},
        {"off keeps the fields", loop_off, 10, 99, 0x00, 10, 99, 0x7F},
    };
    for (const Case& c : cases) {
        for (bool extended : {false, true}) {
            SdsDump dump = dump_of(16, 1000);
            dump.sample.loop_start = c.file_start;
            dump.sample.loop_end = c.file_end;
            dump.sample.loop_type = c.file_type;
            sds_begin_dump(dump, 0, 0);
            sds_build_header(dump, c.mode,
                             extended ? std::optional<std::string_view>("x") : std::nullopt);
            SdsHeader h;
            int parsed = extended ? sds_parse_extended_header(dump.header.data(), 34, h)
                                  : sds_parse_header(dump.header.data(), 21, h);
            ASSERT_EQ(parsed, 1) << c.what;
            EXPECT_EQ(h.loop_start, c.start) << c.what;
            EXPECT_EQ(h.loop_end, c.end) << c.what;
            EXPECT_EQ(h.loop_type, c.type) << c.what;
        }
    }
}

TEST(SdsHeader, LoopOnForASampleWithoutWordsEndsAtWordZero) {
    for (int32_t length : {0, -1, INT32_MIN}) {
        SdsDump dump = dump_of(16);
        dump.sample.length = length;
        dump.sample.loop_end = 0;
        sds_begin_dump(dump, 0, 0);
        sds_build_header(dump, loop_on, std::nullopt);
        EXPECT_EQ(dump.sample.loop_end, 0) << length;
    }
}

TEST(SdsRate, PeriodAndRateWithTheTwoCorrections) {
    struct Case {
        int32_t rate, period;
    } to_period[] = {{44100, 22676}, {48000, 20833}, {32000, 31250}, {1, 1000000000}, {0, 0}};
    for (const Case& c : to_period) EXPECT_EQ(sample_period(c.rate), c.period) << c.rate;
    struct Back {
        int32_t period, rate;
    } to_rate[] = {{22676, 44100}, {20833, 48000}, {31250, 32000}, {22675, 44101},
                   {0, 0},         {-5, 0},        {2097151, 477}};
    for (const Back& c : to_rate) EXPECT_EQ(sds_rate_from_period(c.period), c.rate) << c.period;
}

TEST(SdsHandshake, TemplatesAndRecognition) {
    EXPECT_EQ(sds_handshake(sds::ack, 0x05, 0x12),
              (std::array<uint8_t, 6>{0xF0, 0x7E, 0x05, 0x7F, 0x12, 0xF7}));
    EXPECT_EQ(sds_handshake(sds::nak, 0x00, 0x7F),
              (std::array<uint8_t, 6>{0xF0, 0x7E, 0x00, 0x7E, 0x7F, 0xF7}));
    EXPECT_EQ(sds_handshake(sds::cancel, 0x7F, 0),
              (std::array<uint8_t, 6>{0xF0, 0x7E, 0x7F, 0x7D, 0x00, 0xF7}));
    // A device number above 7F would end the message: only its low seven bits go out.
    EXPECT_EQ(sds_handshake(sds::ack, 0x85, 0)[2], 0x05);

    struct Case {
        Bytes message;
        uint8_t device;
        int result, type, packet;
    } cases[] = {
        {{0xF0, 0x7E, 0x05, 0x7F, 0x12, 0xF7}, 0x05, 1, 0x7F, 0x12},
        {{0xF0, 0x7E, 0x05, 0x7E, 0x03, 0xF7}, 0x05, 1, 0x7E, 0x03},
        {{0xF0, 0x7E, 0x05, 0x7D, 0x00, 0xF7}, 0x05, 1, 0x7D, 0x00},
        {{0xF0, 0x7E, 0x05, 0x7C, 0x00, 0x01, 0x02, 0xF7}, 0x05, 1, 0x7C, 0x00},
        {{0xF0, 0x7E, 0x05, 0x7C, 0xF7}, 0x05, 1, 0x7C, -1},
        {{0xF0, 0x7E, 0x06, 0x7F, 0x00, 0xF7}, 0x05, 0, 0, 0},  // another device
        {{0xF0, 0x7F, 0x05, 0x7F, 0x00, 0xF7}, 0x05, 0, 0, 0},  // real-time universal
        {{0xF0, 0x7E, 0x05, 0x7B, 0x00, 0xF7}, 0x05, 0, 0, 0},
        {{0xF0, 0x7E, 0x05, 0xFF, 0x00, 0xF7}, 0x05, 0, 0, 0},
        {{0xF0, 0x7E, 0x05}, 0x05, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SdsHandshake reply;
        ASSERT_EQ(sds_parse_handshake(c.message.data(), c.message.size(), c.device, reply),
                  c.result)
            << c.message.size() << " bytes, type " << int(c.message.size() > 3 ? c.message[3] : 0);
        if (c.result == 1) {
            EXPECT_EQ(reply.type, c.type);
            EXPECT_EQ(reply.packet_number, c.packet);
        }
    }
}

TEST(SdsParse, DataPacketsAndDamage) {
    SdsDump dump = dump_of(16);
    sds_begin_dump(dump, 0, 0x03);
    dump.committed_packet_number = 9;
    sds_build_packet(dump);
    Bytes p(dump.packet.begin(), dump.packet.begin() + 127);
    SdsPacket packet;
    ASSERT_EQ(sds_parse_packet(p.data(), p.size(), packet), 1);
    EXPECT_EQ(packet.device, 0x03);
    EXPECT_EQ(packet.packet_number, 9);
    EXPECT_TRUE(packet.checksum_ok);
    p[60] ^= 0x01;
    ASSERT_EQ(sds_parse_packet(p.data(), p.size(), packet), 1);
    EXPECT_FALSE(packet.checksum_ok);
    EXPECT_EQ(sds_parse_packet(p.data(), 126, packet), -1);
    EXPECT_EQ(sds_parse_packet(dump.header.data(), 0, packet), 0);
    EXPECT_TRUE(is_sds_dump_header(Bytes{0xF0, 0x7E, 0x00, 0x01}.data(), 4));
    EXPECT_FALSE(is_sds_dump_header(Bytes{0xF0, 0x7E, 0x00, 0x01}.data(), 3));
}

// The checksum takes in every byte from the sub-ID to the last data byte, each bit of it, and
// nothing of the F0, the checksum byte itself or the F7; the copy that takes it on the way writes
// the packet and not a byte more.
TEST(SdsPacket, ChecksumCoversBytesOneTo124AndNoOthers) {
    SdsDump dump = dump_of(16);
    sds_begin_dump(dump, 0, 0x03);
    sds_build_packet(dump);
    const Bytes packet(dump.packet.begin(), dump.packet.begin() + 127);
    const uint8_t sum = sds_packet_checksum(packet.data());
    EXPECT_EQ(sum, packet[125]);
    for (size_t k = 0; k < packet.size(); ++k) {
        for (uint8_t bit = 1; bit < 0x80; bit <<= 1) {
            Bytes changed = packet;
            changed[k] ^= bit;
            const bool covered = k >= 1 && k <= 124;
            EXPECT_EQ(sds_packet_checksum(changed.data()), covered ? (sum ^ bit) : sum)
                << "byte " << k << ", bit " << int{bit};
            Bytes out(packet.size() + 16, 0xAA);
            EXPECT_EQ(sds_copy_packet(changed.data(), out.data() + 8), covered ? (sum ^ bit) : sum)
                << "byte " << k << ", bit " << int{bit};
            EXPECT_EQ(Bytes(out.begin() + 8, out.end() - 8), changed);
            EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), Bytes(8, 0xAA));
            EXPECT_EQ(Bytes(out.end() - 8, out.end()), Bytes(8, 0xAA));
        }
    }
}

TEST(SdsHeader, FieldsOfAHeaderCutShortStayEmpty) {
    Bytes full = {0xF0, 0x7E, 0x00, 0x01, 0x05, 0x00, 16, 0x14, 0x31, 0x01, 0x64, 0x00, 0x00};
    SdsHeader h = sds_header_fields(full.data(), full.size());
    EXPECT_EQ(h.sample_number, 5);
    EXPECT_EQ(h.period, 0x14 + 0x31 * 128 + 1 * 16384);
    EXPECT_EQ(h.length, 100);
    EXPECT_EQ(h.loop_start, 0);
    EXPECT_EQ(h.loop_type, 0x7F);
    SdsHeader cut = sds_header_fields(full.data(), 9);  // period cut off
    EXPECT_EQ(cut.bits, 16);
    EXPECT_EQ(cut.period, 0);
    EXPECT_EQ(cut.rate, 0);
}

}  // namespace
}  // namespace jx
