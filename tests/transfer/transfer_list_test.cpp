#include "transfer/transfer_list.h"

#include <gtest/gtest.h>

#include "maker_message.h"
#include "transfer/remove_entries.h"

namespace jx {
namespace {

using test::Bytes;
using test::concat;
using test::record;

std::unique_ptr<Entry> make_entry(const Bytes& data) {
    auto e = std::make_unique<Entry>();
    e->data = data;
    return e;
}

Bytes riff(const char* form) {
    Bytes b = {'R', 'I', 'F', 'F', 4, 0, 0, 0};
    b.insert(b.end(), form, form + 4);
    return b;
}

Bytes iff(const char* form) {
    Bytes b = {'F', 'O', 'R', 'M', 0, 0, 0, 4};
    b.insert(b.end(), form, form + 4);
    return b;
}

const Bytes body = {1, 2, 3, 4, 5};
const Bytes sds_header = {0xF0, 0x7E, 0x00, 0x01, 0x00, 0x00, 16, 0, 0,    0,   0,
                          0,    0,    0,    0,    0,    0,    0,  0, 0x7F, 0xF7};

TEST(EntryType, FirstTestThatHoldsDecides) {
    struct Case {
        const char* what;
        Bytes data;
        const char* type;
    } cases[] = {
        {"empty", {}, "-"},
        {"one byte", {0xF0}, "-"},
        {"WAV", riff("WAVE"), "WAV"},
        {"RIFF of another form", riff("AVI "), "-"},
        {"AIFF", iff("AIFF"), "AIFF"},
        {"AIFC", iff("AIFC"), "AIFC"},
        {"FORM cut before its form", Bytes{'F', 'O', 'R', 'M', 0, 0, 0, 4, 'A', 'I', 'F'}, "-"},
        {"WAV holding a device 02 header", concat({riff("WAVE"), record(0x02, 'R', body)}), "WAV"},
        {"KA", record(0x02, 'R', body), "KA"},
        {"KB", record(0x03, 'R', body), "KB"},
        {"KC", record(0x05, 'R', body), "KC"},
        {"KRX", record(0x01, 'R', body), "KRX"},
        {"KE", record(0x06, 'R', body), "KE"},
        {"KG", record(0x07, 'R', body), "KG"},
        {"devices in order 02, 03, 05, 01, 06, 07",
         concat({record(0x07, 'R', body), record(0x01, 'R', body), record(0x03, 'R', body)}), "KB"},
        {"06 before 07", concat({record(0x07, 'R', body), record(0x06, 'R', body)}), "KE"},
        {"SDS header", sds_header, "SDS"},
        {"SDS header also holding a device 02 message",
         concat({sds_header, record(0x02, 'R', body)}), "KA"},
        {"SDS test before devices 06 and 07", concat({sds_header, record(0x06, 'R', body)}), "SDS"},
        {"SDS cut to three bytes", Bytes{0xF0, 0x7E, 0x00}, "-"},
    };
    for (const Case& c : cases) {
        Entry e;
        e.data = c.data;
        EXPECT_STREQ(entry_type_text(entry_type(e)), c.type) << c.what;
    }
}

TEST(SizeText, BytesUpTo1023ThenNearestKilobyteWithHalvesDown) {
    struct Case {
        uint64_t length;
        const char* text;
    } cases[] = {{0, "0"},
                 {1023, "1023"},
                 {1024, "1k"},
                 {1536, "1k"},
                 {1537, "2k"},
                 {8 * 1024 * 1024, "8192k"},
                 {5000000000ull, "4882812k"}};
    for (const Case& c : cases) EXPECT_EQ(size_text(c.length), c.text) << c.length;
}

struct ListFixture : ::testing::Test {
    TransferList list;
    void SetUp() override {
        for (int k = 0; k < 6; ++k)
            insert_entry(list, std::string(1, 'e').append(std::to_string(k)),
                         make_entry(Bytes(k, 0)), -1);
    }
    std::string names() {
        std::string all;
        for (const ListItem& item : list.items) all += item.name + " ";
        return all;
    }
};

TEST_F(ListFixture, InsertSetsTheColumnsAndPlacesTheItem) {
    EXPECT_EQ(insert_entry(list, "front", make_entry(record(0x06, 'R', body)), 0), 0);
    EXPECT_EQ(insert_entry(list, "back", make_entry(Bytes(2000, 0)), -1), 7);
    EXPECT_EQ(list.items[0].type_text, "KE");
    EXPECT_EQ(list.items[7].size_text, "2k");
    EXPECT_EQ(entry_at(list, 7)->length(), 2000u);
    EXPECT_EQ(entry_at(list, 8), nullptr);
    EXPECT_EQ(entry_at(list, -1), nullptr);
    EXPECT_EQ(entry_name(list, 0), "front");
    EXPECT_EQ(entry_name(list, 99), "");
    set_entry_name(list, 0, "renamed");
    EXPECT_EQ(entry_name(list, 0), "renamed");
}

TEST_F(ListFixture, IteratesTheSelectionInOrder) {
    EXPECT_EQ(first_selected(list), -1);
    EXPECT_EQ(next_selected(list), -1);
    for (int k : {4, 1, 2}) set_selected(list, k, true);
    EXPECT_EQ(selected_count(list), 3);
    std::vector<int> seen;
    for (int k = first_selected(list); k >= 0; k = next_selected(list)) seen.push_back(k);
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 4}));
    set_focused(list, 3);
    EXPECT_EQ(first_focused(list), 3);
}

TEST_F(ListFixture, RemovingTheSelectionSelectsTheItemAtTheLastRemovedPlace) {
    set_selected(list, 1, true);
    set_selected(list, 3, true);
    list.removing = true;
    remove_entries(list, -1);
    EXPECT_EQ(names(), "e0 e2 e4 e5 ");
    // The last removal happened at index 2 (e3 after e1 had gone), where e4 now stands.
    EXPECT_EQ(first_selected(list), 2);
    EXPECT_EQ(selected_count(list), 1);
    EXPECT_FALSE(list.removing);
}

TEST_F(ListFixture, RemovingTheLastItemsSelectsNothing) {
    set_selected(list, 4, true);
    set_selected(list, 5, true);
    remove_entries(list, -1);
    EXPECT_EQ(names(), "e0 e1 e2 e3 ");
    EXPECT_EQ(selected_count(list), 0);
}

TEST_F(ListFixture, RemovingOneIndexAndRemovingWithoutSelection) {
    remove_entries(list, -1);
    EXPECT_EQ(list.items.size(), 6u);
    remove_entries(list, 0);
    EXPECT_EQ(names(), "e1 e2 e3 e4 e5 ");
    EXPECT_EQ(first_selected(list), 0);
}

TEST_F(ListFixture, RemovalShowsTheNewlySelectedEntry) {
    insert_entry(list, "kit", make_entry(record(0x06, 'R', body)), 1);
    set_selected(list, 0, true);
    remove_entries(list, -1);
    ASSERT_TRUE(list.show_next.info);
    EXPECT_EQ(list.show_next.info->text.substr(0, 30), "Normal Globals: 0 Kits: 1 Soun");
}

TEST_F(ListFixture, MoveLeavesTheItemAtTheTarget) {
    Entry* moved = entry_at(list, 0);
    move_entry(list, 0, 3);
    EXPECT_EQ(names(), "e1 e2 e3 e0 e4 e5 ");
    EXPECT_EQ(entry_at(list, 3), moved);
    move_entry(list, 3, 0);
    EXPECT_EQ(names(), "e0 e1 e2 e3 e4 e5 ");
    for (auto [from, to] : {std::pair{2, 2}, {-1, 2}, {2, -1}, {2, 6}}) {
        move_entry(list, from, to);
        EXPECT_EQ(names(), "e0 e1 e2 e3 e4 e5 ") << from << "->" << to;
    }
}

}  // namespace
}  // namespace jx
