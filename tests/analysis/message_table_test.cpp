// The message table: where each message stands, what it is taken for, and why it is damaged.
#include "analysis/message_table.h"

#include <gtest/gtest.h>

#include "maker_message.h"
#include "sds_dump_maker.h"
#include "upgrade_message.h"

namespace jx {
namespace {

using test::Bytes;

struct Expected {
    size_t length;
    const char* maker;
    int device;
    MessageKind kind;
    int32_t number;
    MessageDamage damage;
};

void expect_rows(const Bytes& data, const std::vector<Expected>& expected) {
    const std::vector<MessageRow> rows = list_messages(data.data(), data.size());
    ASSERT_EQ(rows.size(), expected.size());
    size_t offset = 0;
    for (size_t k = 0; k < rows.size(); ++k) {
        SCOPED_TRACE(k);
        const MessageRow& row = rows[k];
        const Expected& e = expected[k];
        EXPECT_EQ(row.offset, offset);
        EXPECT_EQ(row.length, e.length);
        EXPECT_EQ(maker_text(row), e.maker);
        EXPECT_EQ(row.device, e.device);
        EXPECT_STREQ(kind_text(row.kind), kind_text(e.kind));
        EXPECT_EQ(row.number, e.number);
        EXPECT_STREQ(damage_text(row.damage), damage_text(e.damage));
        offset += row.length;
    }
}

TEST(MessageTable, MakerRecordsByDeviceWithPositionAndDamage) {
    // Device 06 records: the position is the byte before the checksummed body (id + 3).
    Bytes kit = test::record(0x06, 'R', {1, 1, 5, 10, 20});
    Bytes sound_bad_sum = test::record(0x06, 'S', {1, 1, 6, 10, 20});
    sound_bad_sum[sound_bad_sum.size() - 4] ^= 1;
    Bytes song_bad_length = test::record(0x06, 'U', {1, 1, 7, 10});
    song_bad_length[song_bad_length.size() - 2] ^= 1;
    // Device 02 records sum from id + 3, so their position stands at id + 2.
    Bytes pattern = test::record(0x02, 'g', {1, 9, 30, 31});
    // Device 03 waveform messages sum from id + 4, their position at id + 3.
    Bytes waveform = test::maker_message(0x03, 0x5D, {1, 1, 4, 0, 0, 0, 0}, 4);
    Bytes unknown_id = test::record(0x06, 'Z', {1, 1, 2, 3});
    Bytes data = test::concat({kit, sound_bad_sum, song_bad_length, pattern, waveform, unknown_id});
    expect_rows(data,
                {
                    {kit.size(), "00 6B 2E", 6, MessageKind::kit, 5, MessageDamage::none},
                    {sound_bad_sum.size(), "00 6B 2E", 6, MessageKind::sound, 6,
                     MessageDamage::bad_checksum},
                    {song_bad_length.size(), "00 6B 2E", 6, MessageKind::song, 7,
                     MessageDamage::bad_length},
                    {pattern.size(), "00 6B 2E", 2, MessageKind::pattern, 9, MessageDamage::none},
                    {waveform.size(), "00 6B 2E", 3, MessageKind::waveform, 4, MessageDamage::none},
                    {unknown_id.size(), "00 6B 2E", 6, MessageKind::other, -1, MessageDamage::none},
                });
}

TEST(MessageTable, CutShortMessagesEndBeforeTheNextStatusByteOrTheData) {
    Bytes kit = test::record(0x07, 'R', {1, 1, 3, 4, 5});
    Bytes cut = Bytes(kit.begin(), kit.end() - 3);  // checksum half there, no F7
    Bytes foreign = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0xF7};
    Bytes data = test::concat({cut, foreign, cut});
    expect_rows(data,
                {
                    {cut.size(), "00 6B 2E", 7, MessageKind::kit, 3, MessageDamage::cut_short},
                    {foreign.size(), "43", -1, MessageKind::other, -1, MessageDamage::none},
                    {cut.size(), "00 6B 2E", 7, MessageKind::kit, 3, MessageDamage::cut_short},
                });
    // Bytes outside messages are passed over; a lone F0 at the end is a message cut short.
    Bytes stray = test::concat({{0x01, 0x02}, foreign, {0x7F, 0xF0}});
    const auto rows = list_messages(stray.data(), stray.size());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].offset, 2u);
    EXPECT_EQ(rows[1].offset, stray.size() - 1);
    EXPECT_EQ(rows[1].length, 1u);
    EXPECT_EQ(rows[1].damage, MessageDamage::cut_short);
}

// A real-time byte inside a message does not end it: the message is listed whole, as the recorder
// and the send take it. A lone F0, or F0 F7, names no maker.
TEST(MessageTable, RealTimeBytesStayInsideTheirMessageAndNoByteIsNoMaker) {
    Bytes clocked = {0xF0, 0x43, 0x10, 0xF8, 0x4C, 0xFE, 0x00, 0xF7};
    Bytes empty = {0xF0, 0xF7};
    Bytes lone = {0xF0};
    expect_rows(test::concat({clocked, empty, lone}),
                {
                    {clocked.size(), "43", -1, MessageKind::other, -1, MessageDamage::none},
                    {empty.size(), "", -1, MessageKind::other, -1, MessageDamage::none},
                    {lone.size(), "", -1, MessageKind::other, -1, MessageDamage::cut_short},
                });
}

TEST(MessageTable, SampleDumpMessagesCarryTheSampleAndPacketNumbers) {
    test::DumpFields dump;
    dump.device = 3;
    dump.samples.assign(100, 1000);
    Bytes header = test::dump_header(dump);
    header[4] = 0x05;  // sample number 5 + 128 * 1
    header[5] = 0x01;
    Bytes first = test::data_packet(dump, 0);
    Bytes second = test::data_packet(dump, 1);
    second[10] ^= 1;  // the checksum no longer matches
    Bytes third_cut(second.begin(), second.begin() + 60);
    Bytes identity = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    Bytes data = test::concat({header, first, second, third_cut, identity});
    expect_rows(data,
                {
                    {21, "7E", 3, MessageKind::sample_dump_header, 133, MessageDamage::none},
                    {127, "7E", 3, MessageKind::sample_dump_packet, 0, MessageDamage::none},
                    {127, "7E", 3, MessageKind::sample_dump_packet, 1, MessageDamage::bad_checksum},
                    {60, "7E", 3, MessageKind::sample_dump_packet, 1, MessageDamage::cut_short},
                    {6, "7E", 0x7F, MessageKind::universal, -1, MessageDamage::none},
                });
}

TEST(MessageTable, UpgradePacketsOutOfOrderAreTheDamagedOnes) {
    Bytes upgrade = test::packet_upgrade(0x06, 1, 4);
    const auto clean = list_messages(upgrade.data(), upgrade.size());
    ASSERT_EQ(clean.size(), 6u);
    for (const MessageRow& row : clean) EXPECT_EQ(row.damage, MessageDamage::none);
    EXPECT_EQ(clean[0].kind, MessageKind::upgrade_control);
    EXPECT_EQ(clean[1].kind, MessageKind::upgrade_block);
    EXPECT_EQ(clean[1].number, 242);
    EXPECT_EQ(clean[4].number, 245);

    // Packet 243 goes missing: 244 and 245 now come out of turn, and the end message's count
    // no longer matches the packets that checked.
    Bytes start = test::upgrade_start(0x06, 1, 4);
    Bytes broken = start;
    for (int number : {242, 244, 245})
        broken = test::concat({broken, test::upgrade_packet(0x06, 1, number, 0)});
    broken = test::concat({broken, test::upgrade_end(0x06, 4)});
    const auto rows = list_messages(broken.data(), broken.size());
    ASSERT_EQ(rows.size(), 5u);
    const MessageDamage expected[] = {MessageDamage::none, MessageDamage::none,
                                      MessageDamage::bad_upgrade, MessageDamage::bad_upgrade,
                                      MessageDamage::bad_upgrade};
    for (size_t k = 0; k < rows.size(); ++k) EXPECT_EQ(rows[k].damage, expected[k]) << k;
}

TEST(MessageTable, HeaderFieldsLabelTheBytesInsideTheMessage) {
    Bytes kit = test::record(0x06, 'R', {1, 1, 5, 10});
    auto rows = list_messages(kit.data(), kit.size());
    ASSERT_EQ(rows.size(), 1u);
    std::string labels;
    for (const HeaderField& f : header_fields(rows[0], kit.data()))
        labels += std::to_string(f.offset) + "+" + std::to_string(f.length) + " " + f.label + ";";
    EXPECT_EQ(labels, "0+1 start;1+3 maker;4+1 device;5+1 00;6+1 id;9+1 position;" +
                          std::to_string(kit.size() - 1) + "+1 end;");
    // A message cut after its maker id labels only what it holds.
    Bytes cut = {0xF0, 0x00, 0x6B, 0x2E};
    rows = list_messages(cut.data(), cut.size());
    ASSERT_EQ(rows.size(), 1u);
    for (const HeaderField& f : header_fields(rows[0], cut.data()))
        EXPECT_LE(f.offset + f.length, cut.size()) << f.label;
}

}  // namespace
}  // namespace jx
