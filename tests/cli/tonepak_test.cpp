// jx-cli tonepak run as a user runs it.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "maker_message.h"
#include "run_command.h"
#include "sample_file_maker.h"
#include "temp_dir.h"
#include "transfer/entry_info.h"
#include "transfer/tonepak_convert.h"

namespace jx {
namespace {

using test::Bytes;
using test::read_file;

// A 16-bit WAV whose channels hold sines of 1, 2, 3 … cycles over its frames.
Bytes harmonics_wav(int channels, int frames) {
    Bytes data;
    for (int k = 0; k < frames; ++k)
        for (int c = 1; c <= channels; ++c)
            test::put(data,
                      static_cast<uint32_t>(
                          std::lround(20000 * std::sin(2 * std::numbers::pi * c * k / frames))),
                      2, false);
    return test::riff({test::fmt_chunk(1, channels, 44100, 16), test::wav_chunk("data", data)});
}

struct CliTonepak : ::testing::Test {
    test::TempDir dir;
    test::CommandResult run(std::vector<std::string> args) {
        args.insert(args.begin(), "tonepak");
        return test::run_command(JX_CLI_PATH, args, dir.file("stderr.txt"));
    }
};

TEST_F(CliTonepak, UsageErrorsExitWithTwo) {
    std::string wav = dir.write("a.wav", harmonics_wav(1, 100));
    const std::vector<std::string> cases[] = {
        {},
        {wav},
        {"--out", dir.file("out")},
        {wav, "--out"},
        {wav, "--out", dir.file("out"), "--channel", "middle"},
        {wav, "--out", dir.file("out"), "--loop", "on"},
    };
    for (const auto& args : cases) {
        test::CommandResult r = run(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args.back());
        EXPECT_EQ(r.err.rfind("jx-cli tonepak: ", 0), 0u) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("out")));
    EXPECT_EQ(run({"--help"}).status, 0);
}

TEST_F(CliTonepak, WritesEachWaveformAndNamesWhatIsPassedOver) {
    Bytes stereo = harmonics_wav(2, 700);
    std::string sine = dir.write("sine.wav", harmonics_wav(1, 600));
    std::string sysex = dir.write("dump.syx", test::record(0x02, 'P', {1, 2}));
    std::string three = dir.write("three.wav", harmonics_wav(3, 300));
    std::string kick = dir.write("kick.old.wav", stereo);
    std::string out = dir.file("made/waves");
    test::CommandResult r = run(
        {sine, sysex, dir.file("missing.wav"), three, kick, "--out", out, "--channel", "right"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "{\"name\": \"sine.syx\", \"file\": \"" + out +
                         "/sine.syx\", \"size\": 7027}\n"
                         "{\"name\": \"kick.old\", \"file\": \"" +
                         out + "/kick.old\", \"size\": 7027}\n");
    EXPECT_EQ(r.err, "jx-cli tonepak: cannot read '" + dir.file("missing.wav") +
                         "'\n"
                         "jx-cli tonepak: '" +
                         sysex +
                         "' passed over (not a sample); waveform slot 1 stays unused\n"
                         "jx-cli tonepak: '" +
                         three +
                         "' passed over (a waveform needs one or two channels and a loop "
                         "shorter than 16384 frames); waveform slot 2 stays unused\n");

    struct Want {
        const char* file;
        const char* info;  // slot + 1
        const char* chars;
    } wants[] = {{"sine.syx", "\nTonePAK waveform at position 1", "SINE"},
                 {"kick.old", "\nTonePAK waveform at position 4", "KICD"}};
    for (const Want& w : wants) {
        Entry entry;
        entry.data = read_file(out + "/" + w.file);
        ASSERT_EQ(entry.data.size(), 7027u) << w.file;
        EXPECT_EQ(describe_entry(entry).text, w.info);
        EXPECT_EQ(std::string(entry.data.begin() + 10, entry.data.begin() + 14), w.chars);
    }

    // The same as the TonePAK command on the right channel of that sample in slot 3.
    TransferList list;
    for (int k = 0; k < 4; ++k) {
        auto entry = std::make_unique<Entry>();
        entry->data = stereo;
        entry->channel_option = '2';
        insert_entry(list, kick, std::move(entry), -1);
        set_selected(list, k, true);
    }
    FftTables tables;
    fft_init(tables, 16384, fft_flag::any_length);
    ASSERT_EQ(convert_to_tonepak(list, tables, false).converted, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(read_file(out + "/kick.old"), entry_at(list, 3)->data);
}

TEST_F(CliTonepak, AllConvertedExitsWithZeroAndNoNameIsWrittenTwice) {
    std::filesystem::create_directories(dir.file("a"));
    std::filesystem::create_directories(dir.file("b"));
    std::string first = dir.write("a/hat.wav", harmonics_wav(1, 64));
    std::string second =
        dir.write("b/hat.aiff", test::form("AIFF", {test::comm_chunk(1, 0, 8, test::rate_44100),
                                                    test::ssnd_chunk(Bytes{1, 50, 90, 3})}));
    test::CommandResult one = run({first, "--out", dir.file("out")});
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.err, "");
    test::CommandResult both = run({first, second, "--out", dir.file("out2")});
    EXPECT_EQ(both.status, 1);
    EXPECT_EQ(both.out, "{\"name\": \"hat.syx\", \"file\": \"" + dir.file("out2/hat.syx") +
                            "\", \"size\": 7027}\n");
    EXPECT_EQ(both.err,
              "jx-cli tonepak: '" + second + "' not written: an earlier waveform has its name\n");
    EXPECT_EQ(read_file(dir.file("out2/hat.syx")), read_file(dir.file("out/hat.syx")));
}

}  // namespace
}  // namespace jx
