// The commands hold about one input at a time: run under an address-space limit with room for
// one large file but not two, they still do all their work.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "run_command.h"
#include "sample_file_maker.h"
#include "temp_dir.h"

namespace jx {
namespace {

#if defined(__SANITIZE_ADDRESS__)
#define JX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define JX_ADDRESS_SANITIZER 1
#endif
#endif

constexpr uintmax_t big = 64 << 20;
// Room for one big file and the program (a few MiB), not for two big files.
constexpr int limit_kib = 100000;

struct CliMemory : ::testing::Test {
    test::TempDir dir;
    void SetUp() override {
#ifdef JX_ADDRESS_SANITIZER
        GTEST_SKIP() << "the address sanitizer reserves more address space than any limit";
#endif
    }
    test::CommandResult run_limited(std::vector<std::string> args) {
        args.insert(args.begin(),
                    {"-c", "ulimit -v " + std::to_string(limit_kib) + " && exec \"$0\" \"$@\"",
                     JX_CLI_PATH});
        return test::run_command("sh", args, dir.file("stderr.txt"));
    }
    // A file of `size` zero bytes that takes no room on disk.
    std::string sparse(const std::string& name, uintmax_t size) {
        std::string path = dir.write(name, {});
        std::filesystem::resize_file(path, size);
        return path;
    }
};

TEST_F(CliMemory, InfoAndSaveListHoldOneFileAtATime) {
    std::vector<std::string> files;
    for (int k = 1; k <= 4; ++k) files.push_back(sparse("big" + std::to_string(k) + ".syx", big));

    std::vector<std::string> info = {"info", "--json"};
    info.insert(info.end(), files.begin(), files.end());
    test::CommandResult described = run_limited(info);
    EXPECT_EQ(described.status, 0) << described.err;
    EXPECT_EQ(std::count(described.out.begin(), described.out.end(), '\n'), 4);

    std::vector<std::string> save = {"save-list", dir.file("big.jx")};
    save.insert(save.end(), files.begin(), files.end());
    test::CommandResult saved = run_limited(save);
    EXPECT_EQ(saved.status, 0) << saved.err;

    // A file that cannot be held at all is said to be too large, not unreadable.
    std::string huge = sparse("huge.syx", uintmax_t{limit_kib} << 10);
    test::CommandResult refused = run_limited({"info", huge});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "jx-cli info: cannot read '" + huge + "': too large to hold in memory\n");
}

// jx-cli sds writes its packets as it makes them: a dump larger than its input never has to fit
// in memory beside it.
TEST_F(CliMemory, SdsHoldsTheInputButNotTheDump) {
    // 16-bit mono, big / 2 frames: a dump of about 1.6 times the input.
    test::Bytes wav = test::riff(
        {test::fmt_chunk(1, 1, 44100, 16), test::wav_chunk("data", test::Bytes(big - 64, 0))});
    std::string path = dir.write("long.wav", wav);
    wav = {};
    test::CommandResult r = run_limited({"sds", path, "--xsds", "--out", dir.file("long.syx")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_GT(std::filesystem::file_size(dir.file("long.syx")), big * 3 / 2);
}

}  // namespace
}  // namespace jx
