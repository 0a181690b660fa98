#include "transfer/add_files.h"

#include <gtest/gtest.h>

#include "maker_message.h"
#include "midi_file_maker.h"
#include "platform/window/headless_window.h"
#include "temp_dir.h"

namespace jx {
namespace {

using test::Bytes;

struct AddFiles : ::testing::Test {
    test::TempDir dir;
    HeadlessWindow window;
    TransferList list;
    Bytes kit = test::record(0x06, 'R', {1, 2, 3, 4, 5});

    std::vector<std::string> names() const {
        std::vector<std::string> all;
        for (const ListItem& item : list.items) all.push_back(item.name);
        return all;
    }
    void answer_open(std::vector<std::string> names, int filter_index = 1) {
        window.open_answers.push_back(FileDialogResult{std::move(names), filter_index});
    }
};

TEST_F(AddFiles, ReadsTheWholeFileWithTheGivenOptions) {
    std::string path = dir.write("kit.syx", kit);
    EXPECT_TRUE(add_files(list, path, '1', '2').empty());
    ASSERT_EQ(list.items.size(), 1u);
    const ListItem& item = list.items[0];
    EXPECT_EQ(item.name, path);
    EXPECT_EQ(item.entry->data, kit);
    EXPECT_EQ(item.entry->loop_option, '1');
    EXPECT_EQ(item.entry->channel_option, '2');
    EXPECT_EQ(item.type_text, "KE");
    // The first file added to an empty selection is selected and shown.
    EXPECT_TRUE(item.selected);
    ASSERT_TRUE(list.show_next.info);
    EXPECT_EQ(list.show_next.info->text.substr(0, 25), "Normal Globals: 0 Kits: 1");
}

TEST_F(AddFiles, EmptyFilesAndContentTyping) {
    add_files(list, dir.write("empty.syx", {}), '0', '0');
    add_files(list, dir.write("dump.wav", kit), '0', '0');
    add_files(list, dir.write("list.JX", kit), '0', '0');  // not a document: case matters
    ASSERT_EQ(list.items.size(), 3u);
    EXPECT_EQ(list.items[0].size_text, "0");
    EXPECT_EQ(list.items[0].type_text, "-");
    EXPECT_EQ(list.items[1].type_text, "KE");
    EXPECT_EQ(list.items[2].type_text, "KE");
}

TEST_F(AddFiles, LaterFilesLeaveTheSelectionAndInfoAlone) {
    add_files(list, dir.write("a.syx", {}), '0', '0');
    list.show_next = {};  // the window took it
    add_files(list, dir.write("b.syx", kit), '0', '0');
    EXPECT_EQ(selected_count(list), 1);
    EXPECT_TRUE(list.items[0].selected);
    EXPECT_FALSE(list.show_next.info);
}

TEST_F(AddFiles, UnreadableFilesAreSkippedWithTheirReasons) {
    std::string missing = dir.file("missing.syx");
    std::string not_a_list = dir.write("not_a_list.jx", {1, 2, 3});
    struct Case {
        std::string path, reason;
    } cases[] = {
        {missing, "no such file or directory"},
        {dir.path.string(), "is a directory"},
        {not_a_list, "not a Jx Filelist document"},
        {dir.file("missing.jx"), "no such file or directory"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(add_files(list, c.path, '0', '0'),
                  (std::vector<FileProblem>{{c.path, c.reason}}));
    EXPECT_TRUE(list.items.empty());
    EXPECT_TRUE(window.open_requests.empty());
}

// A MIDI file's SysEx becomes one entry under the file's name that looks as the .syx of its
// messages does; a damaged one is skipped with the reason, as any unreadable file is.
TEST_F(AddFiles, MidiFilesBringTheirSysexAsOneEntry) {
    const Bytes sound = test::record(0x06, 'S', {6, 7, 8});
    const Bytes notes{0x00, 0x90, 0x3C, 0x40, 0x60, 0x3C, 0x00};
    const std::string syx = dir.write("dump.syx", test::concat({kit, sound}));
    const std::string mid = dir.write(
        "dump.MID", test::midi_file(1, {test::concat({test::sysex_event(kit), notes}),
                                        test::concat({notes, test::sysex_event(sound)})}));
    EXPECT_TRUE(add_files(list, syx, '0', '0').empty());
    ASSERT_TRUE(list.show_next.info);
    const std::string syx_info = list.show_next.info->text;
    list.show_next = {};
    list.items[0].selected = false;
    EXPECT_TRUE(add_files(list, mid, '0', '0').empty());
    ASSERT_EQ(list.items.size(), 2u);
    EXPECT_EQ(list.items[1].name, mid);
    EXPECT_EQ(list.items[1].entry->data, list.items[0].entry->data);
    EXPECT_EQ(list.items[1].type_text, "KE");
    EXPECT_EQ(list.items[1].size_text, list.items[0].size_text);
    ASSERT_TRUE(list.show_next.info);
    EXPECT_EQ(list.show_next.info->text, syx_info);

    // Named as a MIDI file without being one, or cut off inside a track.
    Bytes cut = test::midi_file(0, {test::sysex_event(kit)});
    cut.resize(cut.size() - 4);
    for (const std::string& path :
         {dir.write("fake.mid", kit), dir.write("cut.midi", cut), dir.write("cut.syx", cut)}) {
        const std::vector<FileProblem> problems = add_files(list, path, '0', '0');
        ASSERT_EQ(problems.size(), 1u) << path;
        EXPECT_EQ(problems[0].reason.rfind("MIDI file: ", 0), 0u) << problems[0].reason;
    }
    EXPECT_EQ(list.items.size(), 2u);
}

TEST_F(AddFiles, OpenDialogAsksForTheThreeFiltersAndRemembersTheChoice) {
    std::string a = dir.write("a.syx", kit);
    answer_open({a}, 3);
    add_files(list, std::nullopt, '0', '0', window.open_dialog());
    ASSERT_EQ(window.open_requests.size(), 1u);
    const FileDialogRequest& asked = window.open_requests[0];
    ASSERT_EQ(asked.filters.size(), 3u);
    EXPECT_EQ(asked.filters[0].description, "SysEx/Wave Files (*.syx,*.wav,*.aiff,*.aif,*.aifc)");
    EXPECT_EQ(asked.filters[0].pattern, "*.syx;*.wav;*.aif;*.aiff;*.aifc");
    EXPECT_EQ(asked.filters[1].pattern, "*.jx");
    EXPECT_EQ(asked.filters[2].description, "All Files (*.*)");
    EXPECT_EQ(asked.filter_index, 1);
    EXPECT_EQ(asked.default_extension, "syx");
    EXPECT_TRUE(asked.allow_multiple && asked.must_exist && asked.hide_read_only);
    EXPECT_EQ(names(), std::vector<std::string>{a});
    EXPECT_EQ(list.dialog_filter_index, 3);

    add_files(list, std::nullopt, '0', '0', window.open_dialog());  // cancelled: nothing changes
    EXPECT_EQ(window.open_requests[1].filter_index, 3);
    EXPECT_EQ(list.items.size(), 1u);
    EXPECT_EQ(list.dialog_filter_index, 3);

    answer_open({a});
    add_files(list, std::nullopt, '0', '0');  // no dialog to run: nothing is chosen
    EXPECT_EQ(window.open_requests.size(), 2u);
    EXPECT_EQ(list.items.size(), 1u);
}

TEST_F(AddFiles, SeveralChosenFilesAreTheFolderJoinedWithEachName) {
    dir.write("b.syx", kit);
    dir.write("a.syx", {});
    answer_open({dir.path.string(), "b.syx", "gone.syx", "a.syx"});
    add_files(list, std::nullopt, '0', '0', window.open_dialog());
    EXPECT_EQ(names(), (std::vector<std::string>{dir.file("b.syx"), dir.file("a.syx")}));
}

TEST_F(AddFiles, AFileListDocumentEndsTheAdding) {
    dir.write("a.syx", kit);
    dir.write("b.jx", {});
    dir.write("c.syx", kit);
    answer_open({dir.path.string(), "a.syx", "b.jx", "c.syx"});
    add_files(list, std::nullopt, '0', '0', window.open_dialog());
    // c.syx, after the document, is never added.
    for (const std::string& name : names()) EXPECT_NE(name, dir.file("c.syx"));
}

}  // namespace
}  // namespace jx
