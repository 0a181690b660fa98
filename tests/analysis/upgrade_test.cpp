#include "analysis/upgrade.h"

#include <gtest/gtest.h>

#include "analysis/sysex_scan.h"
#include "maker_message.h"
#include "upgrade_message.h"

namespace jx {
namespace {

using test::Bytes;
using test::concat;

const std::string whole = "Sysex Upgrade";
const std::string broken = "Sysex Upgrade (Broken!)";

std::string describe(uint8_t device_code, const Bytes& data) {
    return describe_dump(device_code, data.data(), data.size()).value_or("<none>");
}

struct DeviceCase {
    const char* what;
    uint8_t device;
    Bytes dump;
    std::string expected;
};

Bytes with_byte(Bytes m, size_t at, uint8_t value) {
    m.at(at) = value;
    return m;
}

TEST(PacketUpgrade, Verdicts) {
    using test::upgrade_end;
    using test::upgrade_packet;
    using test::upgrade_start;
    Bytes p0 = upgrade_packet(0x06, 5, 242, 0), p1 = upgrade_packet(0x06, 5, 243, 1),
          p2 = upgrade_packet(0x06, 5, 244, 2);
    Bytes start = upgrade_start(0x06, 5, 3), end = upgrade_end(0x06, 3);
    const DeviceCase cases[] = {
        {"whole", 0x06, concat({start, p0, p1, p2, end}), whole},
        {"whole for device 07 with seed 2", 0x07, test::packet_upgrade(0x07, 2, 4), whole},
        {"seed 1 on device 07", 0x07, test::packet_upgrade(0x07, 1, 4), broken},
        {"any seed on device 06", 0x06, test::packet_upgrade(0x06, 0x33, 2), whole},
        {"a packet's checksum", 0x06, concat({start, p0, with_byte(p1, 126, p1[126] ^ 1), p2, end}),
         broken},
        {"packets numbered from 0", 0x06,
         concat({start, upgrade_packet(0x06, 5, 0, 0), upgrade_packet(0x06, 5, 1, 1),
                 upgrade_packet(0x06, 5, 2, 2), end}),
         broken},
        {"packets out of order", 0x06, concat({start, p0, p2, p1, end}), broken},
        {"no end message", 0x06, concat({start, p0, p1, p2}), broken},
        {"two end messages", 0x06, concat({start, p0, p1, p2, end, end}), broken},
        {"end counts another number", 0x06, concat({start, p0, p1, p2, upgrade_end(0x06, 4)}),
         broken},
        {"fewer packets than announced", 0x06,
         concat({upgrade_start(0x06, 5, 4), p0, p1, p2, upgrade_end(0x06, 4)}), broken},
        {"start names another first packet", 0x06,
         concat({upgrade_start(0x06, 5, 3, 241), p0, p1, p2, end}), broken},
        {"end names another first packet", 0x06,
         concat({start, p0, p1, p2, upgrade_end(0x06, 3, 0)}), broken},
        {"start without its F7", 0x06, concat({with_byte(start, 15, 0x00), p0, p1, p2, end}),
         broken},
        {"packet before the start message", 0x06, concat({p0, start, p1, p2, end}), broken},
        {"unknown sub-command", 0x06, concat({start, p0, p1, p2, with_byte(end, 7, 0x03)}), broken},
        {"start and end without packets", 0x06, concat({start, end}),
         describe(0x06, Bytes{})},  // no data packet: not an upgrade, the counts are shown
        {"kit messages beside an upgrade", 0x06,
         concat({test::record(0x06, 'R', {1, 2, 3}), start, p0, p1, p2, end}), whole},
    };
    for (const DeviceCase& c : cases) EXPECT_EQ(describe(c.device, c.dump), c.expected) << c.what;
}

TEST(PacketUpgrade, EveryCutOfAWholeUpgradeIsBroken) {
    Bytes all = test::packet_upgrade(0x07, 2, 2);
    for (size_t n = 8; n < all.size(); ++n) {
        Bytes cut(all.begin(), all.begin() + n);
        std::string text = describe(0x07, cut);
        // Up to the first packet's id, at position 22, the dump is not an upgrade yet.
        if (text != broken) {
            EXPECT_LE(n, 22u) << n << ": " << text;
        }
    }
    EXPECT_EQ(describe(0x07, all), whole);
}

TEST(NibbleUpgrade, Verdicts) {
    using test::nibble_packet;
    using test::nibble_size;
    using test::sample_bytes;
    Bytes a2 = nibble_packet(0x02, sample_bytes(40, 1)),
          b2 = nibble_packet(0x02, sample_bytes(64, 2));
    Bytes a3 = nibble_packet(0x03, sample_bytes(40, 1));
    Bytes a5 = nibble_packet(0x05, sample_bytes(35, 3), 0x44),
          b5 = nibble_packet(0x05, sample_bytes(45, 4));  // 45 = 6 x 7 + 3: a short last group
    const DeviceCase cases[] = {
        {"whole, device 02", 0x02, concat({a2, b2, nibble_size(0x02, 104)}), whole},
        {"whole, device 03", 0x03,
         concat({nibble_packet(0x03, sample_bytes(20, 5)), nibble_size(0x03, 20)}), whole},
        {"whole, device 05", 0x05, concat({a5, b5, nibble_size(0x05, 80)}), whole},
        {"size message first: checked against the bytes before it", 0x02,
         concat({nibble_size(0x02, 0), a2}), whole},
        {"wrong total", 0x02, concat({a2, b2, nibble_size(0x02, 105)}), broken},
        {"wrong total, device 05", 0x05, concat({a5, b5, nibble_size(0x05, 79)}), broken},
        {"no size message", 0x02, concat({a2, b2}), broken},
        {"two size messages", 0x02, concat({a2, nibble_size(0x02, 40), nibble_size(0x02, 40)}),
         broken},
        {"a body byte changed", 0x02,
         concat({a2, with_byte(b2, 20, b2[20] ^ 0x01), nibble_size(0x02, 104)}), broken},
        {"a top-bit byte changed, device 05", 0x05,
         concat({with_byte(a5, 15, a5[15] ^ 0x20), b5, nibble_size(0x05, 80)}), broken},
        {"checksum pair changed", 0x05,
         concat({with_byte(a5, 8, a5[8] ^ 0x01), b5, nibble_size(0x05, 80)}), broken},
        {"start value changed", 0x03,
         concat({with_byte(a3, 10, a3[10] ^ 0x01), nibble_size(0x03, 40)}), broken},
        {"last packet without F7", 0x02,
         concat({a2, nibble_size(0x02, 40), Bytes(b2.begin(), b2.end() - 1)}), broken},
        {"last packet without F7, device 05", 0x05,
         concat({a5, nibble_size(0x05, 35), Bytes(b5.begin(), b5.end() - 1)}), broken},
        {"size message cut off", 0x02,
         concat(
             {a2, Bytes{0xF0, 0x00, 0x6B, 0x2E, 0x02, 0x00, 0x7F, 0x00, 0x00, 0x00, 0x02, 0x08}}),
         broken},
        {"packet cut off before its start value", 0x02,
         concat({a2, nibble_size(0x02, 40), Bytes{0xF0, 0x00, 0x6B, 0x2E, 0x02, 0x00, 0x7E, 0x01}}),
         broken},
        {"an empty packet (F7 after the id) only counts as a packet", 0x05,
         concat({Bytes{0xF0, 0x00, 0x6B, 0x2E, 0x05, 0x00, 0x7E, 0xF7}, nibble_size(0x05, 0)}),
         whole},
    };
    for (const DeviceCase& c : cases) EXPECT_EQ(describe(c.device, c.dump), c.expected) << c.what;
}

TEST(NibbleUpgrade, DumpsWithoutPacketsAreNoUpgrades) {
    Bytes kit = test::record(0x02, 'R', {1, 2, 3});
    EXPECT_EQ(describe(0x02, concat({kit, test::nibble_size(0x02, 0)})), describe(0x02, kit));
    // Device 05 dumps hold nothing but upgrades: without one the text is empty.
    EXPECT_EQ(describe(0x05, test::nibble_size(0x05, 0)), "");
    EXPECT_EQ(describe(0x05, test::record(0x05, 'R', {1, 2, 3})), "");
}

// A packet whose raw body is given as it stands, with the checksum and the size it adds
// computed straight from the body's definition.
struct RawPacket {
    Bytes bytes;
    int64_t size;
};

RawPacket raw_nibble_packet(uint8_t device_code, const Bytes& raw) {
    int sum = 0x01 + 0x02 + 0x03;
    int64_t size;
    if (device_code == 0x05) {
        for (size_t q = 0; q < raw.size(); q += 8)
            for (size_t j = 1; j <= 7 && q + j < raw.size(); ++j)
                sum += ((raw[q] >> (7 - j)) & 1) * 128 + (raw[q + j] & 0x7F);
        size = static_cast<int64_t>(raw.size() - (raw.size() + 7) / 8);
    } else {
        for (size_t p = 0; p + 2 < raw.size(); p += 3) {
            int v = raw[p] * 16384 + raw[p + 1] * 128 + raw[p + 2];
            sum += (v & 0xFF) + ((v >> 8) & 0xFF);
        }
        size = (static_cast<int64_t>(raw.size() + 9) * 2 - 16) / 3;
    }
    Bytes m = test::maker_start(device_code, 0x7E);
    test::put_nibbles(m, static_cast<uint8_t>(sum & 0xFF));
    for (uint8_t v : {0x01, 0x02, 0x03}) test::put_nibbles(m, v);
    m.insert(m.end(), raw.begin(), raw.end());
    m.push_back(0xF7);
    return {m, size};
}

TEST(NibbleUpgrade, PacketsInsideOtherPacketsBodiesAreEachJudged) {
    // Each packet carries the next one inside its body, with 0 to 7 bytes before it, so that
    // their groups start at every alignment; all of them share the innermost F7. The innermost
    // body may be too short for any group.
    for (auto [device, innermost] : {std::pair<uint8_t, int>{0x02, 30},
                                     {0x02, 0},
                                     {0x02, 1},
                                     {0x05, 30},
                                     {0x05, 0},
                                     {0x05, 1}}) {
        RawPacket packet = raw_nibble_packet(device, test::sample_bytes(innermost, 9));
        int64_t total = packet.size;
        for (int level = 0; level < 12; ++level) {
            Bytes raw(level % 8, 0x11);
            raw.insert(raw.end(), packet.bytes.begin(), packet.bytes.end() - 1);
            packet = raw_nibble_packet(device, raw);
            total += packet.size;
        }
        Bytes dump = concat({packet.bytes, test::nibble_size(device, static_cast<int32_t>(total))});
        EXPECT_EQ(describe(device, dump), whole) << int(device) << " " << innermost;
        dump[40] ^= 0x01;
        EXPECT_EQ(describe(device, dump), broken) << int(device) << " " << innermost;
    }
}

TEST(NibbleUpgrade, APacketWhoseF7EndsItsStartValueSumsNoGroups) {
    // The inner packet's F7 stands among its start-value pairs, which then read on into the
    // size message: F7 F0, 00 6B, 2E 02 give 70 + 0B + E2, so its checksum pair is 5 D. Its
    // body would begin past the F7, where no group may be summed. It adds (3 x 2 - 16) / 3 = -3
    // to the size, and the outer packet, closed by the same F7, carries it whole.
    Bytes inner = {0xF0, 0x00, 0x6B, 0x2E, 0x02, 0x00, 0x7E, 0x05, 0x0D};
    Bytes raw = concat({test::sample_bytes(30, 2), inner});
    RawPacket outer = raw_nibble_packet(0x02, raw);
    Bytes dump =
        concat({outer.bytes, test::nibble_size(0x02, static_cast<int32_t>(outer.size - 3))});
    EXPECT_EQ(describe(0x02, dump), whole);
}

TEST(NibbleUpgrade, StaysLinearOnNestedPacketsWithoutAnyF7) {
    for (uint8_t device : {0x02, 0x05}) {
        Bytes dump;
        for (int k = 0; k < 100000; ++k)
            dump.insert(dump.end(), {0xF0, 0x00, 0x6B, 0x2E, device, 0x00, 0x7E});
        EXPECT_EQ(describe(device, dump), broken);
    }
}

TEST(WaveformLines, Device03) {
    auto waveform = [](uint8_t position, uint8_t fill) {
        return test::maker_message(0x03, 0x5D, {0x00, fill, position, 0x10, 0x20, 0x30}, 4);
    };
    Bytes w4 = waveform(4, 1), w9 = waveform(9, 2);
    Bytes broken_w = with_byte(w9, w9.size() - 3, w9[w9.size() - 3] ^ 1);
    Bytes kit = test::record(0x03, 'R', {1, 2, 3});
    std::string counts = describe(0x03, kit);
    std::string broken_kit =
        describe(0x03, with_byte(kit, kit.size() - 3, kit[kit.size() - 3] ^ 1));
    struct Case {
        const char* what;
        Bytes dump;
        std::string expected;
    } cases[] = {
        {"one waveform alone", w4, "\nTonePAK waveform at position 5"},
        {"one broken waveform", broken_w, "\nTonePAK waveform (broken)"},
        {"kit and waveform", concat({kit, w9}), counts + "\nTonePAK waveform at position 10"},
        {"a broken kit still shows the counts",
         concat({with_byte(kit, kit.size() - 3, kit[kit.size() - 3] ^ 1), w4}),
         broken_kit + "\nTonePAK waveform at position 5"},
        {"several", concat({w4, broken_w, w9}),
         "\nNormal TPAK waveforms: 2, broken TPAK waveforms: 1"},
        {"two broken", concat({broken_w, broken_w}),
         "\nNormal TPAK waveforms: 0, broken TPAK waveforms: 2"},
        {"waveform cut off", Bytes(w4.begin(), w4.begin() + 9), "\nTonePAK waveform (broken)"},
        {"upgrade beside a waveform",
         concat({w4, test::nibble_packet(0x03, {1, 2}), test::nibble_size(0x03, 2)}), whole},
    };
    for (const Case& c : cases) EXPECT_EQ(describe(0x03, c.dump), c.expected) << c.what;
    // Device 02 has no waveforms: the same message is not counted.
    Bytes as_ka = with_byte(w4, 4, 0x02);
    EXPECT_EQ(describe(0x02, as_ka), describe(0x02, Bytes{}));
}

}  // namespace
}  // namespace jx
