// What every jx-cli command shares: options as --name=value, and one form for usage errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "maker_message.h"
#include "run_command.h"
#include "sample_file_maker.h"
#include "temp_dir.h"
#include "xdg_folders.h"

namespace jx {
namespace {

struct CliArguments : ::testing::Test {
    test::TempDir dir;
    test::CommandResult run(const std::vector<std::string>& args) {
        return test::run_command(JX_CLI_PATH, args, dir.file("stderr.txt"));
    }
    std::string wav() {
        test::Bytes data(40, 0x11);
        return dir.write(
            "a.wav", test::riff({test::fmt_chunk(1, 2, 48000, 16), test::wav_chunk("data", data)}));
    }
};

// Both programs name themselves and the project's version, as man pages and packagers expect.
TEST_F(CliArguments, VersionOfBothPrograms) {
    for (const char* program : {JX_CLI_PATH, JX_DEVICE_PATH}) {
        const test::CommandResult result =
            test::run_command(program, {"--version"}, dir.file("stderr.txt"));
        EXPECT_EQ(result.status, 0) << program;
        const std::string name = std::filesystem::path(program).filename().string();
        EXPECT_EQ(result.out, name + " " + JX_PROJECT_VERSION + "\n");
    }
}

// Output that cannot be written is a failure with the system's reason, never a success: a
// listing, a description, the help and the version, into a full disk.
TEST_F(CliArguments, OutputThatCannotBeWrittenFailsWithTheReason) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    const std::string dump = dir.write("kit.syx", test::record(0x06, 'R', {1, 2, 3, 4}));
    struct Case {
        const char* program;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {JX_CLI_PATH, {"messages", dump, "--json"}},
        {JX_CLI_PATH, {"info", dump}},
        {JX_CLI_PATH, {"ports"}},
        {JX_CLI_PATH, {"--help"}},
        {JX_CLI_PATH, {"--version"}},
        {JX_CLI_PATH, {"info", "--help"}},
        {JX_DEVICE_PATH, {"--help"}},
        {JX_DEVICE_PATH, {"--version"}},
    };
    for (const Case& c : cases) {
        std::string line = test::shell_quote(c.program);
        for (const std::string& a : c.args) line += " " + test::shell_quote(a);
        SCOPED_TRACE(line);
        const std::string err = dir.file("full.err");
        const int raw = std::system((line + " >/dev/full 2>" + test::shell_quote(err)).c_str());
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), 1);
        const std::string name = std::filesystem::path(c.program).filename().string();
        const std::vector<uint8_t> said = test::read_file(err);
        const std::string text(said.begin(), said.end());
        EXPECT_NE(text.find(name + ": cannot write the output: No space left"), std::string::npos)
            << text;
    }
}

TEST_F(CliArguments, ValuesMayFollowAnEqualsSign) {
    test::XdgFolders xdg;
    const std::string sample = wav();
    const std::string kit = dir.write("kit.syx", test::record(0x02, 'P', {1, 2, 3}));
    struct Case {
        std::vector<std::string> spaced, joined;
        std::string spaced_file, joined_file;  // what each form writes, the same byte for byte
    } cases[] = {
        {{"sds", sample, "--out", dir.file("s1.syx"), "--sds-dev", "5", "--loop", "on"},
         {"sds", sample, "--out=" + dir.file("s2.syx"), "--sds-dev=5", "--loop=on"},
         dir.file("s1.syx"),
         dir.file("s2.syx")},
        {{"tonepak", sample, "--out", dir.file("t1"), "--channel", "left"},
         {"tonepak", sample, "--out=" + dir.file("t2"), "--channel=left"},
         dir.file("t1/a.syx"),
         dir.file("t2/a.syx")},
        {{"save-list", dir.file("l1.jx"), "--samplepos", "7", kit},
         {"save-list", dir.file("l2.jx"), "--samplepos=7", kit},
         dir.file("l1.jx"),
         dir.file("l2.jx")},
        {{"config", "--set", "midi_del=30"},
         {"config", "--set=midi_del=30"},
         xdg.registry_file(),
         xdg.registry_file()},
    };
    for (const Case& c : cases) {
        test::CommandResult spaced = run(c.spaced);
        std::vector<uint8_t> spaced_bytes = test::read_file(c.spaced_file);
        std::filesystem::remove(c.joined_file);
        test::CommandResult joined = run(c.joined);
        EXPECT_EQ(spaced.status, 0) << c.spaced[0] << ": " << spaced.err;
        EXPECT_EQ(joined.status, 0) << c.joined[0] << ": " << joined.err;
        EXPECT_FALSE(spaced_bytes.empty()) << c.spaced[0];
        EXPECT_EQ(test::read_file(c.joined_file), spaced_bytes) << c.joined[0];
    }
}

TEST_F(CliArguments, UsageErrorsAreOneLineThatPointsToTheHelp) {
    test::XdgFolders xdg;  // no preferences: no output for the handshake unless given
    const std::string sample = wav();
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"info", "--bogus", sample}, "jx-cli info: unknown option '--bogus'"},
        {{"info", "--js", sample}, "jx-cli info: unknown option '--js'"},  // no abbreviations
        {{"info", "--json=yes", sample}, "jx-cli info: --json takes no value"},
        {{"info", "-j", sample}, "jx-cli info: unknown option '-j'"},
        {{"info"}, "jx-cli info: no file given"},
        {{"sds", sample, "--out"}, "jx-cli sds: --out needs a file name"},
        {{"sds", sample, "--out=", "--loop=on"}, "jx-cli sds: --out needs a file name"},
        {{"sds", sample, "--out", "x.syx", "--sds-dev=0x7f"},
         "jx-cli sds: --sds-dev takes a number from 0 to 127"},
        {{"tonepak", sample, "--out", dir.file("o"), "--channel=middle"},
         "jx-cli tonepak: --channel takes both, left or right"},
        {{"save-list", dir.file("l.jx"), sample, "--samplepos= 1"},
         "jx-cli save-list: --samplepos takes a number from 0 to 2147483647"},
        {{"config", "midi_in=1"}, "jx-cli config: unexpected argument 'midi_in=1'"},
        {{"receive", "--out", dir.file("r")}, "jx-cli receive: --from is missing"},
        {{"receive", "--from", "virtual"}, "jx-cli receive: --out is missing"},
        {{"receive", "--from=virtual", "--out", dir.file("r"), "--count", "0"},
         "jx-cli receive: --count takes a number from 1"},
        {{"receive", "--from=virtual", "--out", dir.file("r"), "--idle", "-1"},
         "jx-cli receive: --idle takes a number of seconds (a fraction is fine)"},
        {{"receive", "--from=virtual", "--out", dir.file("r"), "--request", "16384"},
         "jx-cli receive: --request takes a sample number from 0 to 16383"},
        {{"receive", "--from=virtual", "--out", dir.file("r"), "--no-handshake", "--request=1"},
         "jx-cli receive: --request needs an output to ask on: give --to PORT"},
        {{"receive", "--from=virtual", "--out", dir.file("r"), "--handshake"},
         "jx-cli receive: the SDS handshake answers the device: give --to PORT, or "
         "--no-handshake"},
        {{"config", "--set", "midi_in=+1"},
         "jx-cli config: bad value '+1' for midi_in (-1 to 2147483647)"},
    };
    for (const Case& c : cases) {
        test::CommandResult r = run(c.args);
        const std::string& command = c.args[0];
        EXPECT_EQ(r.status, 2) << c.err;
        EXPECT_EQ(r.err, c.err + " (try 'jx-cli " + command + " --help')\n");
        EXPECT_EQ(r.out, "") << c.err;
    }
}

}  // namespace
}  // namespace jx
