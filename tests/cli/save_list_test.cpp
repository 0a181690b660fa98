// jx-cli save-list, and jx-cli info reading the documents it writes.
#include <gtest/gtest.h>

#include <filesystem>

#include "maker_message.h"
#include "platform/os/files.h"
#include "run_command.h"
#include "temp_dir.h"

namespace jx {
namespace {

// Each part followed by its zero byte.
std::string zero_terminated(std::initializer_list<std::string> parts) {
    std::string all;
    for (const std::string& p : parts) all += p + std::string(1, '\0');
    return all;
}

struct CliSaveList : ::testing::Test {
    test::TempDir dir;
    test::CommandResult run(const std::string& command, std::vector<std::string> args) {
        args.insert(args.begin(), command);
        return test::run_command(JX_CLI_PATH, args, dir.file("stderr.txt"));
    }
};

TEST_F(CliSaveList, WritesTheDocumentThatInfoDescribes) {
    std::filesystem::create_directories(dir.path / "docs/kits");
    std::filesystem::create_directories(dir.path / "elsewhere");
    std::string kit = dir.write("docs/kits/kit.syx", test::record(0x06, 'R', {1, 2, 3, 4}));
    std::string other = dir.write("elsewhere/empty.syx", {});
    std::string doc = dir.file("docs/set.jx");
    auto saved = run("save-list", {doc, "--samplepos", "5", kit, other});
    EXPECT_EQ(saved.status, 0) << saved.err;
    auto bytes = read_whole_file(doc);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()),
              zero_terminated({"Jx Filelist", "0", "5", "00*kits/kit.syx", "00" + other}));

    auto info = run("info", {doc});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out.find(kit + "\n  Type: KE  Size: 16\n  Normal Globals: 0 Kits: 1"), 0u)
        << info.out;
    EXPECT_NE(info.out.find("\n" + other + "\n  Type: -  Size: 0\n"), std::string::npos);
}

TEST_F(CliSaveList, RelativeNamesAreTakenFromTheCurrentFolder) {
    std::filesystem::create_directories(dir.path / "sub");
    dir.write("sub/a.syx", {0xF0, 0xF7});
    std::string line = "cd " + test::shell_quote(dir.path.string()) + " && " +
                       test::shell_quote(JX_CLI_PATH) + " save-list out.jx sub/a.syx";
    ASSERT_EQ(std::system(line.c_str()), 0);
    auto bytes = read_whole_file(dir.file("out.jx"));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()),
              zero_terminated({"Jx Filelist", "0", "0", "00*sub/a.syx"}));
}

TEST_F(CliSaveList, UnreadableFilesAreNamedAndTheRestSaved) {
    std::string kit = dir.write("kit.syx", {0xF0, 0xF7});
    std::string missing = dir.file("missing.syx");
    auto r = run("save-list", {dir.file("l.jx"), missing, kit});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "jx-cli save-list: cannot read '" + missing + "': no such file or directory\n");
    auto bytes = read_whole_file(dir.file("l.jx"));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()),
              zero_terminated({"Jx Filelist", "0", "0", "00*kit.syx"}));

    dir.write("blocked", {1});
    auto blocked = run("save-list", {dir.file("blocked/l.jx"), kit});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.err.find("cannot write"), std::string::npos);
}

TEST_F(CliSaveList, NothingReadableLeavesTheExistingDocumentAlone) {
    std::string kit = dir.write("kit.syx", {0xF0, 0xF7});
    std::string doc = dir.file("keep.jx");
    ASSERT_EQ(run("save-list", {doc, kit}).status, 0);
    auto before = read_whole_file(doc);
    auto r = run("save-list", {doc, dir.file("missing.syx")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not written"), std::string::npos) << r.err;
    EXPECT_EQ(read_whole_file(doc), before);
}

TEST_F(CliSaveList, DocumentsThatCannotBeLoadedAreReported) {
    std::string kit = dir.write("kit.syx", {0xF0, 0xF7});
    std::string not_a_list = dir.write("bad.jx", {'n', 'o', 0});
    std::string names_missing = dir.write("gone.jx", [] {
        std::string d = zero_terminated({"Jx Filelist", "0", "0", "00*missing.syx"});
        return std::vector<uint8_t>(d.begin(), d.end());
    }());
    // The kit is described once, and the document that did not load neither replaces nor
    // repeats it.
    auto info = run("info", {kit, not_a_list});
    EXPECT_EQ(info.status, 1);
    EXPECT_EQ(info.err,
              "jx-cli info: cannot read '" + not_a_list + "': not a Jx Filelist document\n");
    EXPECT_EQ(info.out.find(kit), info.out.rfind(kit));
    EXPECT_NE(info.out.find(kit), std::string::npos);

    auto missing = run("info", {names_missing});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "jx-cli info: cannot read '" + dir.file("missing.syx") +
                               "': no such file or directory\n");
}

TEST_F(CliSaveList, UsageErrors) {
    std::string kit = dir.write("kit.syx", {0xF0, 0xF7});
    const std::vector<std::string> bad[] = {
        {},
        {dir.file("l.jx")},
        {kit, kit},  // the document must be a .jx name, not a data file
        {dir.file("l.jx"), "--samplepos", "-1", kit},
        {dir.file("l.jx"), "--samplepos", "4294967296", kit},
        {dir.file("l.jx"), "--samplepos", "2147483648", kit},  // the document would keep 0
        {dir.file("l.jx"), kit, "--samplepos"},
        {dir.file("l.jx"), "--bogus", kit},
    };
    for (const auto& args : bad) {
        auto r = run("save-list", args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args.back());
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("l.jx")));
    EXPECT_EQ(read_whole_file(kit), (std::vector<uint8_t>{0xF0, 0xF7}));
    auto help = run("save-list", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: jx-cli save-list"), std::string::npos);
}

}  // namespace
}  // namespace jx
