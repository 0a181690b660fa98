#include "analysis/sample_dump.h"

#include <gtest/gtest.h>

#include <vector>

#include "audio/sds.h"

namespace jx {
namespace {

using Bytes = std::vector<uint8_t>;

struct DumpShape {
    int32_t bits = 16;
    int32_t period = 22676;
    int32_t length = 100;
    int32_t loop_type = 0x7F;
    int packets = 3;
};

// A dump as the sender builds it: the header, then packets numbered 0, 1, ...
Bytes sample_dump(const DumpShape& shape, int first_packet = 0) {
    SdsDump dump;
    dump.sample.bits = shape.bits;
    dump.sample.period = shape.period;
    dump.sample.length = shape.length;
    dump.sample.loop_start = 4;
    dump.sample.loop_end = shape.length - 1;
    dump.sample.loop_type = shape.loop_type;
    sds_begin_dump(dump, 1, 0);
    sds_build_header(dump, loop_file, std::nullopt);
    Bytes all(dump.header.begin(), dump.header.begin() + dump.header_length);
    dump.committed_packet_number = first_packet;
    for (int k = 0; k < shape.packets; ++k) {
        for (int w = 0; w < dump.words_per_packet; ++w) dump.words[w] = (k * 131 + w * 17) % 2000;
        sds_build_packet(dump);
        all.insert(all.end(), dump.packet.begin(), dump.packet.begin() + sds::packet_size);
        sds_commit_packet(dump);
    }
    return all;
}

// Offset of packet k in a dump built above with a 21-byte header.
size_t packet_at(int k) {
    return 21 + 127 * static_cast<size_t>(k);
}

Bytes without(Bytes data, size_t from, size_t count) {
    data.erase(data.begin() + from, data.begin() + from + count);
    return data;
}

Bytes inserted(Bytes data, size_t at, const Bytes& more) {
    data.insert(data.begin() + at, more.begin(), more.end());
    return data;
}

Bytes with_byte(Bytes data, size_t at, uint8_t value) {
    data.at(at) = value;
    return data;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string describe(const Bytes& data) {
    return describe_sample_dump(data.data(), data.size());
}

TEST(DescribeSampleDump, OneWholeDumpShowsItsHeader) {
    EXPECT_EQ(describe(sample_dump({})),
              "Dump length: 100 Sample Rate: 44100\nBits: 16 Loop OFF. Loop start: 4 Loop end: 99");
    EXPECT_EQ(describe(sample_dump(
                  {.bits = 24, .period = 20833, .length = 7, .loop_type = 0, .packets = 1})),
              "Dump length: 7 Sample Rate: 48000\nBits: 24 Loop ON. Loop start: 4 Loop end: 6");
    EXPECT_EQ(describe(sample_dump({.period = 31250})),
              "Dump length: 100 Sample Rate: 32000\nBits: 16 Loop OFF. Loop start: 4 Loop end: 99");
    // No period gives no rate; the rest is still shown.
    EXPECT_EQ(describe(sample_dump({.period = 0})),
              "Dump length: 100 Sample Rate: 0\nBits: 16 Loop OFF. Loop start: 4 Loop end: 99");
}

TEST(DescribeSampleDump, CountsWholeDumpsAndFaults) {
    Bytes one = sample_dump({});
    Bytes ten = sample_dump({.length = 400, .packets = 10});
    struct Case {
        const char* what;
        Bytes data;
        const char* expected;
    } cases[] = {
        {"two whole dumps", one + one, "2 correct and 0 broken sample dumps."},
        {"packet 5 of 10 missing", without(ten, packet_at(5), 127),
         "0 correct and 4 broken sample dumps."},
        {"one packet with a wrong number", with_byte(ten, packet_at(3) + 4, 9),
         "Broken sample dump."},
        {"only one checksum wrong", with_byte(ten, packet_at(2) + 125, ten[packet_at(2) + 125] ^ 1),
         "0 correct and 0 broken sample dumps."},
        {"a packet that ends early", without(ten, packet_at(4) + 50, 60), "Broken sample dump."},
        {"a whole dump after a broken one", with_byte(one, packet_at(1) + 4, 5) + one,
         "1 correct and 1 broken sample dumps."},
        {"packets numbered past 127 wrap to 0", sample_dump({.length = 5200, .packets = 130}),
         "Dump length: 5200 Sample Rate: 44100\nBits: 16 Loop OFF. Loop start: 4 Loop end: 5199"},
        {"packets numbered from 1", sample_dump({}, 1), "0 correct and 3 broken sample dumps."},
        {"other universal messages between packets",
         inserted(one, packet_at(2), {0xF0, 0x7E, 0x00, 0x7F, 0x01, 0xF7}),
         "Dump length: 100 Sample Rate: 44100\nBits: 16 Loop OFF. Loop start: 4 Loop end: 99"},
    };
    for (const Case& c : cases) EXPECT_EQ(describe(c.data), c.expected) << c.what;
}

TEST(DescribeSampleDump, CutOffDumps) {
    Bytes one = sample_dump({});
    const std::string header_only =
        "Dump length: 100 Sample Rate: 44100\nBits: 16 Loop OFF. Loop start: 4 Loop end: 99";
    struct Case {
        const char* what;
        size_t keep;
        std::string expected;
    } cases[] = {
        {"after the header", 21, header_only},
        {"after the second packet", packet_at(2), header_only},
        // A packet cut by the end of the data ended early, as one cut by an F7 does.
        {"inside the last packet", packet_at(2) + 60, "Broken sample dump."},
        {"before the last checksum", packet_at(3) - 2, "Broken sample dump."},
        {"right after a packet's sub-id", packet_at(2) + 4, "Broken sample dump."},
        {"inside the next message's start", packet_at(2) + 2, header_only},
        // Fields the data does not reach show as 0, and no loop type as no loop.
        {"header cut at 12 bytes", 12,
         "Dump length: 0 Sample Rate: 44100\nBits: 16 Loop OFF. Loop start: 0 Loop end: 0"},
        {"header cut at 5 bytes", 5,
         "Dump length: 0 Sample Rate: 0\nBits: 0 Loop OFF. Loop start: 0 Loop end: 0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describe(Bytes(one.begin(), one.begin() + c.keep)), c.expected) << c.what;
}

}  // namespace
}  // namespace jx
