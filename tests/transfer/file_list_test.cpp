#include "transfer/file_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/os/files.h"
#include "transfer/add_files.h"
#include "xdg_folders.h"

namespace jx {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes strings(std::initializer_list<std::string> parts) {
    Bytes out;
    for (const std::string& s : parts) {
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
    }
    return out;
}

Bytes document(std::initializer_list<std::string> records, const std::string& position = "0") {
    Bytes out = strings({"Jx Filelist", "0", position});
    Bytes rest = strings(records);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

struct FileList : ::testing::Test {
    test::XdgFolders xdg;
    test::TempDir& dir = xdg.dir;
    TransferList list;
    void SetUp() override {
        std::filesystem::create_directories(dir.path / "a/sub");
        std::filesystem::create_directories(dir.path / "b");
        std::filesystem::create_directories(dir.path / "ab");
    }

    // A file with its own bytes, so that a loaded entry shows which file it came from.
    std::string file(const std::string& name) {
        return dir.write(name, Bytes(name.begin(), name.end()));
    }
    void add(const std::string& path, char loop = '0', char channel = '0') {
        ASSERT_TRUE(add_files(list, path, loop, channel).empty()) << path;
    }
    Bytes read(const std::string& path) { return read_whole_file(path).value_or(Bytes{'?'}); }

    // Name, options and bytes of every entry.
    std::vector<std::string> entries() const {
        std::vector<std::string> all;
        for (const ListItem& item : list.items)
            all.push_back(std::string{item.entry->loop_option, item.entry->channel_option, ' '} +
                          item.name + " = " +
                          std::string(item.entry->data.begin(), item.entry->data.end()));
        return all;
    }
};

TEST_F(FileList, RecordsBelowTheDocumentFolderAreRelative) {
    std::string k = file("a/k.syx"), s = file("b/s.wav"), x = file("a/sub/x.wav"),
                ab = file("ab/x.syx");
    add(k, '0', '1');
    add(s, '0', '1');
    add(x, '2', '1');
    add(ab);
    std::string doc = dir.file("a/list.jx");
    ListSave saved = save_file_list(list, doc, "12");
    EXPECT_TRUE(saved.written);
    EXPECT_TRUE(saved.left_out.empty());
    // The prefix is the folder with its slash: a/../ab is not below a.
    EXPECT_EQ(read(doc), document({"01*k.syx", "01" + s, "21*sub/x.wav", "00" + ab}, "12"));

    // Loading replaces the list with the same entries, read again from disk.
    std::vector<std::string> before = entries();
    add(file("b/other.syx"));
    list.show_next = {};
    load_file_list(list, doc);
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(list.show_next.sample_position, 12);
    EXPECT_EQ(selected_count(list), 1);  // the first entry added to the emptied list is shown
    EXPECT_TRUE(list.items[0].selected);
}

TEST_F(FileList, RelativeRecordsFollowTheDocument) {
    file("a/k.syx");
    file("a/sub/x.wav");
    std::string doc =
        dir.write("a/moved.jx", document({"12*k.syx", "00*sub\\x.wav", "00*/sub/x.wav"}));
    load_file_list(list, doc);
    EXPECT_EQ(entries(),
              (std::vector<std::string>{"12 " + dir.file("a/k.syx") + " = a/k.syx",
                                        "00 " + dir.file("a/sub/x.wav") + " = a/sub/x.wav",
                                        "00 " + dir.file("a/sub/x.wav") + " = a/sub/x.wav"}));
}

TEST_F(FileList, DocumentsThatDoNotMatchChangeNothing) {
    std::string kept = file("b/kept.syx");
    std::string k = file("a/k.syx");
    const Bytes cases[] = {
        strings({"Jx Filelist", "1", "5", "00" + k}),  // another version
        strings({"Jx filelist", "0", "5", "00" + k}),  // magic compared with case
        strings({"Jx Filelist", "0", "", "00" + k}),   // no sample position
        strings({"Jx Filelist", "0"}),
        Bytes{'J', 'x'},
        Bytes{},
    };
    add(kept);
    for (const Bytes& bytes : cases) {
        load_file_list(list, dir.write("a/bad.jx", bytes));
        EXPECT_EQ(list.items.size(), 1u);
        EXPECT_EQ(list.items[0].name, kept);
        EXPECT_FALSE(list.show_next.sample_position);
    }
    load_file_list(list, dir.file("a/missing.jx"));
    EXPECT_EQ(list.items.size(), 1u);
}

TEST_F(FileList, SamplePositionOfZeroLeavesTheEdit) {
    std::string k = file("a/k.syx");
    for (const char* position : {"0", "-3", "abc"}) {
        load_file_list(list, dir.write("a/zero.jx", document({"00" + k}, position)));
        EXPECT_FALSE(list.show_next.sample_position) << position;
        EXPECT_EQ(list.items.size(), 1u);  // the document is still loaded
    }
    load_file_list(list, dir.write("a/big.jx", document({}, " +99999999999x")));
    EXPECT_EQ(list.show_next.sample_position, 2147483647);
    EXPECT_TRUE(list.items.empty());
}

TEST_F(FileList, UnreadableEntriesAreDroppedAndLoadingStopsWhereTheDocumentDoes) {
    std::string k = file("a/k.syx");
    std::string s = file("b/s.wav");
    // A received dump's name is stored like a path and is dropped on loading.
    insert_entry(list, "unnamed3", std::make_unique<Entry>(), -1);
    std::string doc = dir.file("a/dump.jx");
    save_file_list(list, doc, "");
    EXPECT_EQ(read(doc), document({"00unnamed3"}));
    load_file_list(list, doc);
    EXPECT_TRUE(list.items.empty());

    struct Case {
        Bytes bytes;
        std::vector<std::string> names;
    };
    Bytes cut = document({"00" + k});
    Bytes tail{'0', '0'};
    tail.insert(tail.end(), s.begin(), s.end());
    cut.insert(cut.end(), tail.begin(), tail.end());  // the last record has no zero byte
    const Case cases[] = {
        {cut, {k, s}},
        {document({"00" + k, "", "00" + s}), {k}},            // an empty string ends the list
        {document({"00" + k, "0", "00", "00" + s}), {k, s}},  // too short to name a file
        {document({"00" + k, "00/" + std::string(257, 'x'), "00" + s}), {k}},  // 260 characters
        {document({"00" + dir.file("a/missing.syx"), "00" + s}), {s}},
    };
    for (const Case& c : cases) {
        load_file_list(list, dir.write("a/case.jx", c.bytes));
        std::vector<std::string> names;
        for (const ListItem& item : list.items) names.push_back(item.name);
        EXPECT_EQ(names, c.names);
    }
}

TEST_F(FileList, DocumentsNamingDocumentsDoNotNest) {
    std::string k = file("a/k.syx");
    std::string s = file("b/s.wav");
    std::string self = dir.file("a/self.jx");
    dir.write("a/other.jx", document({"00" + s}));
    dir.write("a/self.jx", document({"00" + k, "00*self.jx", "00*other.jx", "00" + s}));
    load_file_list(list, self);
    ASSERT_EQ(list.items.size(), 2u);
    EXPECT_EQ(list.items[0].name, k);
    EXPECT_EQ(list.items[1].name, s);
}

TEST_F(FileList, RecordsLongerThanTheLimitAreLeftOut) {
    // Record = two options + '*' + the rest below a/: 259 characters fit, 260 do not.
    std::string folder = "a/" + std::string(150, 'd') + "/";
    std::filesystem::create_directories(dir.path / folder);
    std::string fits = folder + std::string(256 - 155, 'f') + ".syx";
    std::string too_long = folder + std::string(257 - 155, 'g') + ".syx";
    for (const std::string& name : {fits, too_long}) {
        dir.write(name, {1});
        add(dir.file(name));
    }
    ListSave saved = save_file_list(list, dir.file("a/long.jx"), "");
    EXPECT_TRUE(saved.written);
    EXPECT_EQ(saved.left_out, std::vector<std::string>{dir.file(too_long)});
    load_file_list(list, dir.file("a/long.jx"));
    ASSERT_EQ(list.items.size(), 1u);
    EXPECT_EQ(list.items[0].name, dir.file(fits));
}

TEST_F(FileList, SamplePositionIsWrittenAsAnUnsignedNumberBelow2To31) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "0"},           {"17", "17"},        {"2147483647", "2147483647"},
        {"2147483648", "0"}, {"4294967296", "0"}, {"x", "0"}};
    for (auto [edit, stored] : cases) {
        save_file_list(list, dir.file("a/pos.jx"), edit);
        EXPECT_EQ(read(dir.file("a/pos.jx")), document({}, stored)) << edit;
    }
}

TEST_F(FileList, TheListKeptBetweenRunsRoundTrips) {
    std::string k = file("a/k.syx");
    std::string s = file("b/s.wav");
    add(k, '1', '2');
    add(s);
    insert_entry(list, "unnamed1", std::make_unique<Entry>(), -1);
    // The whole record must fit in 259 characters, or reading it back would stop there.
    std::string longest = dir.file("b/") + std::string(257 - dir.file("b/").size(), 'l');
    insert_entry(list, longest, std::make_unique<Entry>(), -1);
    insert_entry(list, longest + "m", std::make_unique<Entry>(), -1);
    ListSave saved = store_list(list);
    EXPECT_TRUE(saved.written);
    EXPECT_EQ(saved.left_out, std::vector<std::string>{longest + "m"});
    EXPECT_EQ(read(xdg.stored_list()), strings({"12" + k, "00" + s, "00unnamed1", "00" + longest}));

    // Restoring appends to what is there.
    TransferList restored;
    add_files(restored, k, '0', '0');
    restore_list(restored);
    ASSERT_EQ(restored.items.size(), 3u);
    EXPECT_EQ(restored.items[1].name, k);
    EXPECT_EQ(restored.items[1].entry->loop_option, '1');
    EXPECT_EQ(restored.items[1].entry->channel_option, '2');
    EXPECT_EQ(restored.items[2].name, s);

    // An empty list leaves an empty file.
    list.items.clear();
    EXPECT_TRUE(store_list(list).written);
    EXPECT_EQ(read(xdg.stored_list()), Bytes{});
}

TEST_F(FileList, StoredListReadingRules) {
    std::string k = file("a/k.syx");
    std::string s = file("b/s.wav");
    std::filesystem::create_directories(dir.path / "data/Tessarin");
    const std::pair<Bytes, size_t> cases[] = {
        {strings({"00" + k, "00" + std::string(258, 'x'), "00" + s}), 1},  // 260: stop
        {strings({"00" + k, "", "00" + s}), 1},
        {strings({"00" + k, "00*" + s, "00" + dir.file("a/x.jx"), "00" + s}), 2},
    };
    for (const auto& [bytes, count] : cases) {
        dir.write("data/Tessarin/jx_files.dat", bytes);
        list.items.clear();
        restore_list(list);
        EXPECT_EQ(list.items.size(), count);
    }
    std::filesystem::remove(xdg.stored_list());
    list.items.clear();
    restore_list(list);
    EXPECT_TRUE(list.items.empty());
}

TEST_F(FileList, NoDataFolderMeansNothingStored) {
    dir.write("data", {1});  // a file where the data folder should be
    add(file("a/k.syx"));
    EXPECT_FALSE(store_list(list).written);
    test::ScopedEnv no_xdg("XDG_DATA_HOME", "");
    test::ScopedEnv no_home("HOME", "");
    EXPECT_EQ(stored_list_path(), "");
    EXPECT_FALSE(store_list(list).written);
    restore_list(list);
    EXPECT_EQ(list.items.size(), 1u);
}

}  // namespace
}  // namespace jx
