#include "transfer/save_entries.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "maker_message.h"
#include "midi_file_maker.h"
#include "platform/os/files.h"
#include "platform/window/headless_window.h"
#include "temp_dir.h"
#include "transfer/add_files.h"
#include "transfer/file_list.h"

namespace jx {
namespace {

using test::Bytes;

Bytes tagged(const char* outer, const char* form) {
    Bytes b = {0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3};
    std::copy(outer, outer + 4, b.begin());
    std::copy(form, form + 4, b.begin() + 8);
    return b;
}

struct SaveEntries : ::testing::Test {
    test::TempDir dir;
    HeadlessWindow window;
    TransferList list;
    Bytes wav = tagged("RIFF", "WAVE");
    Bytes aiff = tagged("FORM", "AIFF");
    Bytes aifc = tagged("FORM", "AIFC");
    Bytes kit = test::record(0x06, 'R', {1, 2, 3, 4});

    int add(const std::string& name, const Bytes& bytes, bool selected) {
        add_files(list, dir.write(name, bytes), '0', '0');
        int index = static_cast<int>(list.items.size()) - 1;
        set_selected(list, index, selected);
        return index;
    }
    void answer(const std::string& name, int filter_index) {
        window.save_answers.push_back(FileDialogResult{{dir.file(name)}, filter_index});
    }
    void save(const std::string& samplepos = "") {
        save_entries(list, window.save_dialog(), samplepos);
    }
    Bytes read(const std::string& name) {
        return read_whole_file(dir.file(name)).value_or(Bytes{'?'});
    }
};

TEST_F(SaveEntries, OneDialogPerSelectedEntryWithTheFiltersOfItsKind) {
    add("w.wav", wav, true);
    add("skipped.syx", kit, false);
    add("a.aif", aiff, true);
    add("c.aifc", aifc, true);
    add("k.syx", kit, true);
    answer("w2.wav", 1);
    answer("a2.aiff", 3);
    answer("c2.syx", 1);
    answer("k2.syx", 1);
    save();

    ASSERT_EQ(window.save_requests.size(), 4u);
    struct Expected {
        const char* initial;
        const char* first_filter;
        const char* first_pattern;
        const char* extension;
        int filter_index;
    };
    const Expected expected[] = {
        {"w.wav", "Wave file (*.wav)", "*.wav", "wav", 1},
        {"a.aif", "AIFF file (*.aiff,*.aif)", "*.aif;*.aiff", "aiff", 1},
        {"c.aifc", "SysEx file (*.syx)", "*.syx", "syx", 3},  // the choice carries over
        {"k.syx", "SysEx file (*.syx)", "*.syx", "syx", 1},
    };
    for (size_t k = 0; k < 4; ++k) {
        const FileDialogRequest& r = window.save_requests[k];
        SCOPED_TRACE(expected[k].initial);
        EXPECT_EQ(r.initial_name, dir.file(expected[k].initial));
        ASSERT_EQ(r.filters.size(), 3u);
        EXPECT_EQ(r.filters[0].description, expected[k].first_filter);
        EXPECT_EQ(r.filters[0].pattern, expected[k].first_pattern);
        EXPECT_EQ(r.filters[1].description, "Jx filelist (*.jx)");
        EXPECT_EQ(r.filters[1].pattern, "*.jx");
        EXPECT_EQ(r.filters[2].description, "All Files (*.*)");
        EXPECT_EQ(r.filters[2].pattern, "*.*");
        EXPECT_EQ(r.default_extension, expected[k].extension);
        EXPECT_EQ(r.filter_index, expected[k].filter_index);
        EXPECT_TRUE(r.overwrite_prompt && r.path_must_exist && r.hide_read_only);
        EXPECT_FALSE(r.allow_multiple);
    }
    // Bytes exactly as held, under the new names.
    EXPECT_EQ(read("w2.wav"), wav);
    EXPECT_EQ(read("a2.aiff"), aiff);
    EXPECT_EQ(read("c2.syx"), aifc);
    EXPECT_EQ(read("k2.syx"), kit);
    EXPECT_EQ(list.items[0].name, dir.file("w2.wav"));
    EXPECT_EQ(list.items[1].name, dir.file("skipped.syx"));
    EXPECT_EQ(list.items[4].name, dir.file("k2.syx"));
    EXPECT_EQ(list.dialog_filter_index, 1);
}

TEST_F(SaveEntries, SavingKeepsTheBytesWhateverTheNewName) {
    add("x.aif", aiff, true);
    answer("y.wav", 3);
    save();
    EXPECT_EQ(read("y.wav"), aiff);
    EXPECT_EQ(list.items[0].type_text, "AIFF");
    EXPECT_EQ(list.items[0].name, dir.file("y.wav"));
}

// The SysEx of a MIDI file is offered under the .syx name beside it, as the SysEx file it is;
// the MIDI file itself stays as it was.
TEST_F(SaveEntries, AMidiFilesEntryIsOfferedAsASyxBesideIt) {
    const Bytes song = test::midi_file(0, {test::sysex_event(kit)});
    add("song.Mid", song, true);
    answer("song.syx", 1);
    save();
    ASSERT_EQ(window.save_requests.size(), 1u);
    EXPECT_EQ(window.save_requests[0].initial_name, dir.file("song.syx"));
    EXPECT_EQ(window.save_requests[0].default_extension, "syx");
    EXPECT_EQ(read("song.syx"), kit);
    EXPECT_EQ(read("song.Mid"), song);
}

TEST_F(SaveEntries, TheDocumentFilterOrAJxNameSavesTheWholeList) {
    add("k.syx", kit, true);
    add("w.wav", wav, true);
    const std::pair<const char*, int> choices[] = {{"list.syx", 2}, {"list.jx", 1}, {"list.jx", 3}};
    for (auto [name, filter] : choices) {
        std::filesystem::remove(dir.file(name));
        answer(name, filter);
        size_t asked = window.save_requests.size();
        save();
        EXPECT_EQ(window.save_requests.size(), asked + 1);  // no dialog for the second entry
        FileListDocument doc = parse_file_list(read(name).data(), read(name).size());
        EXPECT_TRUE(doc.valid) << name;
        EXPECT_EQ(doc.records.size(), 2u);
        EXPECT_EQ(list.items[0].name, dir.file("k.syx"));  // the entry was not renamed
    }
}

TEST_F(SaveEntries, TheFilterChosenInTheOpenDialogCarriesOver) {
    add("k.syx", kit, true);
    window.open_answers.push_back(FileDialogResult{{dir.file("none.jx")}, 2});
    add_files(list, std::nullopt, '0', '0', window.open_dialog());
    answer("k2.syx", 2);  // the user keeps the filter the dialog opened on
    save();
    EXPECT_EQ(window.save_requests[0].filter_index, 2);
    EXPECT_TRUE(parse_file_list(read("k2.syx").data(), read("k2.syx").size()).valid);
}

TEST_F(SaveEntries, NothingSelectedOffersOnlyTheDocument) {
    add("k.syx", kit, false);
    list.dialog_filter_index = 3;
    answer("list.syx", 1);
    save();
    const FileDialogRequest& r = window.save_requests[0];
    EXPECT_EQ(r.initial_name, "");
    ASSERT_EQ(r.filters.size(), 1u);
    EXPECT_EQ(r.filters[0].pattern, "*.jx");
    EXPECT_EQ(r.filter_index, 1);
    EXPECT_EQ(r.default_extension, "syx");
    EXPECT_FALSE(std::filesystem::exists(dir.file("list.syx")));  // not a .jx name: nothing

    answer("list.jx", 1);
    save("7");  // the document keeps the Samplepos edit's number
    const FileListDocument saved = parse_file_list(read("list.jx").data(), read("list.jx").size());
    EXPECT_TRUE(saved.valid);
    EXPECT_EQ(saved.sample_position, 7);
}

TEST_F(SaveEntries, CancelOrAFailedWriteEndsTheCommand) {
    add("a.syx", kit, true);
    add("b.syx", kit, true);
    add("c.syx", kit, true);
    answer("a2.syx", 1);
    window.save_answers.push_back(std::nullopt);  // cancelled
    save();
    EXPECT_EQ(window.save_requests.size(), 2u);
    EXPECT_EQ(list.items[0].name, dir.file("a2.syx"));
    EXPECT_EQ(list.items[1].name, dir.file("b.syx"));

    dir.write("file", {1});
    answer("b3.syx", 1);
    answer("file/c3.syx", 1);  // its folder is a file: the write fails
    answer("never.syx", 1);
    save();
    EXPECT_EQ(window.save_requests.size(), 4u);
    EXPECT_EQ(list.items[0].name, dir.file("b3.syx"));  // saved before the failure: keeps it
    EXPECT_EQ(list.items[1].name, dir.file("b.syx"));
    EXPECT_EQ(window.save_answers.size(), 1u);
}

}  // namespace
}  // namespace jx
