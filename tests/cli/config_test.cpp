// jx-cli config run as a user runs it, against a store in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "run_command.h"
#include "xdg_folders.h"

namespace jx {
namespace {

const std::string defaults =
    "{\"midi_in\": -1, \"midi_del\": 0, \"syx_reload\": 0, \"use_xsds\": 0, \"ignore_hs\": 1, "
    "\"win_w\": -1, \"win_h\": -1000, \"win_x\": 0, \"win_y\": 0, \"midi_outs\": -1, "
    "\"turbo_lim\": 11, \"sds_dev\": 0, \"rec_format\": 0, \"send_zbname\": 0}\n";

struct CliConfig : ::testing::Test {
    test::XdgFolders xdg;
    test::CommandResult run(std::vector<std::string> args) {
        args.insert(args.begin(), "config");
        return test::run_command(JX_CLI_PATH, args, xdg.dir.file("stderr.txt"));
    }
    std::string stored() const {
        auto bytes = read_whole_file(xdg.registry_file());
        return bytes ? std::string(bytes->begin(), bytes->end()) : "(missing)";
    }
};

TEST_F(CliConfig, ShowsTheDefaultsThenTheChangedPreferences) {
    auto shown = run({});
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out, defaults);
    EXPECT_FALSE(std::filesystem::exists(xdg.registry_file()));  // showing writes nothing

    auto set = run({"--set", "midi_out=10", "sds_dev=300", "midi_del=4294967295", "turbo_lim=1",
                    "rec_format=-1", "ignore_hs=0", "midi_in=2", "send_zbname=1"});
    EXPECT_EQ(set.status, 0) << set.err;
    const std::string changed =
        "{\"midi_in\": 2, \"midi_del\": 4294967295, \"syx_reload\": 0, \"use_xsds\": 0, "
        "\"ignore_hs\": 0, \"win_w\": -1, \"win_h\": -1000, \"win_x\": 0, \"win_y\": 0, "
        "\"midi_outs\": 10, \"turbo_lim\": 1, \"sds_dev\": 44, \"rec_format\": -1, "
        "\"send_zbname\": 1}\n";
    EXPECT_EQ(set.out, changed);
    EXPECT_EQ(run({}).out, changed);
    EXPECT_NE(stored().find("\"midi_outs\"=hex(1):30,61,00,00,00\n\"sds_dev\"=hex(4):2c\n"),
              std::string::npos);
    EXPECT_EQ(stored().find("win_"), std::string::npos);  // the placement is not a preference

    EXPECT_EQ(run({"--set", "midi_outs=-1"}).status, 0);
    EXPECT_NE(stored().find("\"midi_outs\"=hex(1):00,00,00,00,00\n"), std::string::npos);
}

TEST_F(CliConfig, ABadNameOrValueWritesNothing) {
    const std::vector<std::string> bad[] = {
        {"--set", "turbo_lim=12"},
        {"--set", "turbo_lim=0"},
        {"--set", "rec_format=4"},
        {"--set", "midi_out=256"},
        {"--set", "midi_in=-2"},
        {"--set", "syx_reload=2"},
        {"--set", "midi_del=-1"},
        {"--set", "midi_del=1x"},
        {"--set", "sds_dev="},
        {"--set", "win_w=5"},
        {"--set", "colour=1"},
        {"--set", "midi_in"},
        {"--set"},
        {"midi_in=1"},
        {"--bogus"},
        {"--set", "midi_in=1", "use_xsds=7"},
    };
    for (const auto& args : bad) {
        auto r = run(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_FALSE(std::filesystem::exists(xdg.registry_file())) << args.back();
    }
    auto help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: jx-cli config"), std::string::npos);
}

TEST_F(CliConfig, AStoreThatCannotBeWrittenIsAFailure) {
    xdg.dir.write("config", {1});
    auto r = run({"--set", "midi_in=1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace jx
