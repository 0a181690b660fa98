// jx-cli messages and jx-cli waveform run as a user runs them.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "maker_message.h"
#include "run_command.h"
#include "sample_file_maker.h"
#include "sds_dump_maker.h"
#include "temp_dir.h"

namespace jx {
namespace {

struct CliInspect : ::testing::Test {
    test::TempDir dir;
    test::CommandResult run(std::vector<std::string> args) {
        return test::run_command(JX_CLI_PATH, args, dir.file("stderr.txt"));
    }
    std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

TEST_F(CliInspect, MessagesJsonLinesWithTheirBytes) {
    test::Bytes kit = test::record(0x06, 'R', {1, 1, 3});
    test::Bytes broken = test::record(0x06, 'W', {1, 1, 0});
    broken[broken.size() - 4] ^= 1;
    const std::string file = dir.write("two.syx", test::concat({kit, broken, {0xF0, 0x7E}}));
    auto r = run({"messages", "--json", "--hex", file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "{\"offset\": 0, \"length\": 15, \"maker\": \"00 6B 2E\", \"device\": 6, \"kind\": "
        "\"kit\", \"number\": 3, \"damaged\": false, \"reason\": \"\", \"hex\": \"F0 00 6B 2E "
        "06 00 52 01 01 03 00 00 00 05 F7\"}\n"
        "{\"offset\": 15, \"length\": 15, \"maker\": \"00 6B 2E\", \"device\": 6, \"kind\": "
        "\"global\", \"number\": 0, \"damaged\": true, \"reason\": \"bad checksum\", \"hex\": "
        "\"F0 00 6B 2E 06 00 57 01 01 00 00 01 00 05 F7\"}\n"
        "{\"offset\": 30, \"length\": 2, \"maker\": \"7E\", \"device\": null, \"kind\": "
        "\"universal\", \"number\": null, \"damaged\": true, \"reason\": \"cut short\", "
        "\"hex\": \"F0 7E\"}\n");
    // The table for people: one line a message, the reason last.
    r = run({"messages", file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("global"), std::string::npos);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3);
}

TEST_F(CliInspect, FailuresAndUsageErrorsHaveTheirExitStatus) {
    using namespace test;
    const std::string wav =
        dir.write("a.wav", riff({fmt_chunk(1, 1, 8000, 16), wav_chunk("data", Bytes(64))}));
    const std::string syx = dir.write("a.syx", record(0x06, 'R', {1, 1, 3}));
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"messages", dir.file("missing.syx")}, 1},
        {{"messages", wav}, 1},
        {{"messages"}, 2},
        {{"messages", syx, syx}, 2},
        {{"waveform", syx, "--out", dir.file("x.svg")}, 1},
        {{"waveform", wav, "--out", dir.file("x.gif")}, 2},
        {{"waveform", wav}, 2},
        {{"waveform", wav, "--out", dir.file("x.svg"), "--width", "3"}, 2},
        {{"waveform", wav, "--out", dir.file("no/such/folder.svg")}, 1},
    };
    for (const Case& c : cases) {
        auto r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args.back() << ": " << r.err;
        EXPECT_NE(r.err, "") << c.args.back();
    }
}

TEST_F(CliInspect, WaveformPicturesOfTheAskedSize) {
    test::DumpFields shape;
    shape.loop_type = 0x00;
    shape.loop_start = 100;
    shape.loop_end = 199;
    for (int k = 0; k < 400; ++k) shape.samples.push_back(k < 200 ? 20000 : -20000);
    const std::string dump = dir.write("dump.syx", test::whole_dump(shape));

    auto r = run({"waveform", dump, "--out", dir.file("w.svg"), "--width", "40", "--height", "20"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = read(dir.file("w.svg"));
    EXPECT_NE(svg.find("width=\"40\" height=\"20\""), std::string::npos);
    // Loop frames 100..199 of 400 over 40 columns: columns 10 to 19.
    EXPECT_NE(svg.find("<rect x=\"10\" y=\"0\" width=\"10\""), std::string::npos) << svg;
    // The first half stands above the middle line, the second below it.
    EXPECT_NE(svg.find("M0.5 "), std::string::npos);
    EXPECT_NE(svg.find("M39.5 "), std::string::npos);

    r = run({"waveform", dump, "--out", dir.file("w.png"), "--width=33", "--height=17"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string png = read(dir.file("w.png"));
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    auto be32 = [&](size_t at) {
        return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
               uint32_t(uint8_t(png[at + 2])) << 8 | uint8_t(png[at + 3]);
    };
    EXPECT_EQ(be32(16), 33u);
    EXPECT_EQ(be32(20), 17u);
}

}  // namespace
}  // namespace jx
