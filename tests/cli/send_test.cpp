// jx-cli send without a MIDI server: to the virtual device inside jx-cli, and the usage errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_command.h"
#include "sample_file_maker.h"
#include "temp_dir.h"
#include "xdg_folders.h"

namespace jx::test {
namespace {

struct SendCli : ::testing::Test {
    XdgFolders folders;
    TempDir dir;
    // No JACK server of anybody's: only the virtual device is there.
    ScopedEnv api{"JX_MIDI_API", "jack"};
    ScopedEnv server{"JACK_DEFAULT_SERVER", "jx-test-none"};

    CommandResult send(std::vector<std::string> args) {
        args.insert(args.begin(), "send");
        return run_command(JX_CLI_PATH, args, dir.file("err"));
    }
};

// One complete message goes; the byte skipped after it counts in what "Sent: %i" shows, the
// message without its F7 does not go.
TEST_F(SendCli, SendsToTheVirtualDeviceInsideTheProgram) {
    const std::string syx = dir.write("a.syx", {0xF0, 0x01, 0xF7, 0x00, 0xF0, 0x02, 0x03});
    CommandResult r = send({syx, "--to", "virtual"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"file\": \"" + syx + "\", \"type\": \"-\", \"sent\": 4, \"result\": \"sent\"}\n");
}

// An input stored by name is found by its name, and one that is not there now is an error that
// names it, never another port in its place.
TEST_F(SendCli, TheStoredInputIsFoundByNameOrNamedAsMissing) {
    const std::string syx = dir.write("a.syx", {0xF0, 0x01, 0xF7});
    CommandResult set =
        run_command(JX_CLI_PATH, {"config", "--set", "midi_in=5", "midi_in_name=Virtual device"},
                    dir.file("err"));
    ASSERT_EQ(set.status, 0) << set.err;
    CommandResult found = send({syx, "--to", "virtual", "--turbo"});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_NE(found.out.find("\"turbo_speed\": 200"), std::string::npos) << found.out;

    set = run_command(JX_CLI_PATH, {"config", "--set", "midi_in_name=Away:in"}, dir.file("err"));
    ASSERT_EQ(set.status, 0) << set.err;
    CommandResult missing = send({syx, "--to", "virtual", "--turbo"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("'Away:in' chosen in the settings is not there"), std::string::npos)
        << missing.err;
    EXPECT_EQ(missing.out, "");
}

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    const char* said;
};

class SendCliUsage : public SendCli, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(SendCliUsage, ExitsWithTwoAndSaysWhy) {
    const std::string syx = dir.write("a.syx", {0xF0, 0x01, 0xF7});
    const std::string wav =
        dir.write("a.wav", riff({fmt_chunk(1, 1, 44100, 16), wav_chunk("data", {1, 2, 3, 4})}));
    std::vector<std::string> args = GetParam().args;
    for (std::string& a : args) {
        if (a == "FILE") a = syx;
        if (a == "WAV") a = wav;
    }
    CommandResult r = send(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(GetParam().said), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SendCliUsage,
    ::testing::Values(
        UsageCase{"no_port_matches",
                  {"FILE", "--to", "nothing"},
                  "no MIDI outputs match 'nothing'; the outputs are:\n  0: Virtual device"},
        UsageCase{"index_beyond_the_list", {"FILE", "--to", "5"}, "no MIDI outputs match '5'"},
        UsageCase{"no_output", {"FILE"}, "--to is missing"},
        UsageCase{"no_file", {"--to", "0"}, "no file given"},
        UsageCase{"handshake_without_input",
                  {"WAV", "--to", "0", "--handshake"},
                  "the SDS handshake needs the device's answers"},
        UsageCase{"turbo_without_input", {"FILE", "--to", "0", "--turbo"}, "--turbo needs"},
        UsageCase{"device_number_beyond_seven_bits",
                  {"FILE", "--to", "0", "--sds-dev", "200"},
                  "--sds-dev takes a number from 0 to 127"}),
    [](const ::testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace jx::test
