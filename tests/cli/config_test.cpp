// jx-cli config run as a user runs it, against a store in a temporary folder.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "platform/os/files.h"
#include "run_command.h"
#include "xdg_folders.h"

namespace jx {
namespace {

const std::string defaults =
    "{\"midi_in\": -1, \"midi_del\": 0, \"syx_reload\": 0, \"use_xsds\": 0, \"ignore_hs\": 1, "
    "\"win_w\": -1, \"win_h\": -1000, \"win_x\": 0, \"win_y\": 0, \"midi_outs\": -1, "
    "\"turbo_lim\": 11, \"sds_dev\": 0, \"rec_format\": 0, \"send_zbname\": 0, "
    "\"midi_in_name\": \"\", \"midi_out_name\": \"\"}\n";

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

    auto set = run({"--set", "midi_out=10", "sds_dev=44", "midi_del=4294967295", "turbo_lim=1",
                    "rec_format=-1", "ignore_hs=0", "midi_in=2", "send_zbname=1"});
    EXPECT_EQ(set.status, 0) << set.err;
    const std::string changed =
        "{\"midi_in\": 2, \"midi_del\": 4294967295, \"syx_reload\": 0, \"use_xsds\": 0, "
        "\"ignore_hs\": 0, \"win_w\": -1, \"win_h\": -1000, \"win_x\": 0, \"win_y\": 0, "
        "\"midi_outs\": 10, \"turbo_lim\": 1, \"sds_dev\": 44, \"rec_format\": -1, "
        "\"send_zbname\": 1, \"midi_in_name\": \"\", \"midi_out_name\": \"\"}\n";
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
        // The messages carry seven bits: 200 would reach device 72.
        {"--set", "sds_dev=128"},
        {"--set", "sds_dev=300"},
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

// Two runs at once, each changing a value of its own, keep both changes: each holds the store's
// lock from its read to its write.
TEST_F(CliConfig, RunsAtOnceKeepEachOthersChanges) {
    std::string cli = test::shell_quote(JX_CLI_PATH);
    for (int k = 1; k <= 25; ++k) {
        std::string n = std::to_string(k);
        std::string both = cli + " config --set midi_in=" + n + " >/dev/null & " + cli +
                           " config --set midi_del=" + n + " >/dev/null & wait";
        ASSERT_EQ(std::system(both.c_str()), 0);
        auto r = run({});
        ASSERT_NE(r.out.find("\"midi_in\": " + n + ","), std::string::npos) << k << r.out;
        ASSERT_NE(r.out.find("\"midi_del\": " + n + ","), std::string::npos) << k << r.out;
    }
}

// A --set that cannot be stored whole stores nothing: the values go in one rewrite.
TEST_F(CliConfig, ASetThatFailsChangesNothing) {
    // A store that holds one of the values: the others would make it longer.
    const std::string before =
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tessarin\\Jx\\Config]\n"
        "\"midi_in\"=dword:00000001\n";
    std::filesystem::create_directories(xdg.dir.file("config/Tessarin"));
    ASSERT_TRUE(write_file_atomically(
        xdg.registry_file(), reinterpret_cast<const uint8_t*>(before.data()), before.size()));
    {
        // Room for the file as it is and a little more, not for ten changed values: as on a
        // nearly full disk. The limit passes to the command; SIGXFSZ stays ignored there.
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old;
        limit.rlim_cur = before.size() + 4;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        auto r = run({"--set", "midi_in=5", "send_zbname=1", "midi_del=123456789"});
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, old_handler);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    }
    EXPECT_EQ(stored(), before);

    ::chmod(xdg.registry_file().c_str(), 0444);  // the user keeps the store as it is
    auto r = run({"--set", "midi_in=7"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("read-only"), std::string::npos) << r.err;
    EXPECT_EQ(stored(), before);
}

// A store that cannot be read is never taken for an empty one: showing says so, and --set
// refuses rather than replace it.
TEST_F(CliConfig, AStoreThatCannotBeReadIsSaidAndKept) {
    std::filesystem::create_directories(xdg.registry_file());  // a folder where the file goes
    auto shown = run({});
    EXPECT_EQ(shown.status, 1);
    EXPECT_EQ(shown.out, defaults);
    EXPECT_EQ(shown.err, "jx-cli config: cannot read '" + xdg.registry_file() +
                             "': is a directory; showing the defaults\n");
    auto set = run({"--set", "midi_in=1"});
    EXPECT_EQ(set.status, 1);
    EXPECT_NE(set.err.find("is a directory"), std::string::npos) << set.err;
    EXPECT_TRUE(std::filesystem::is_directory(xdg.registry_file()));
}

}  // namespace
}  // namespace jx
