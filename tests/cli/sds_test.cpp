// jx-cli sds run as a user runs it, and its dumps read back by an independent decoder and by
// libsndfile.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "maker_message.h"
#include "run_command.h"
#include "sample_file_maker.h"
#include "sds_stream.h"
#include "temp_dir.h"

#ifdef JX_HAVE_SNDFILE
#include "sndfile_peer.h"
#endif

namespace jx {
namespace {

using test::Bytes;
using test::read_file;

struct CliSds : ::testing::Test {
    test::TempDir dir;
    test::CommandResult run(std::vector<std::string> args) {
        args.insert(args.begin(), "sds");
        return test::run_command(JX_CLI_PATH, args, dir.file("stderr.txt"));
    }
    // Converts and reads the dump back; fails the test when the command does.
    test::ReceivedDump dump(const std::string& file, std::vector<std::string> options = {}) {
        std::string out = dir.file("out.syx");
        options.insert(options.begin(), {file, "--out", out});
        test::CommandResult r = run(options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        test::ReceivedDump d = test::receive_dump(read_file(out));
        EXPECT_EQ(d.problem, "");
        return d;
    }
};

// 16-bit stereo frames (k, -k - 1) … as a WAV file.
Bytes stereo16(int frames) {
    Bytes data;
    for (int k = 0; k < frames; ++k) {
        test::put(data, static_cast<uint32_t>(k * 3), 2, false);
        test::put(data, static_cast<uint32_t>(-k - 1), 2, false);
    }
    return test::riff({test::fmt_chunk(1, 2, 48000, 16), test::wav_chunk("data", data)});
}

TEST_F(CliSds, UsageErrorsExitWithTwoAndOneLine) {
    std::string wav = dir.write("a.wav", stereo16(10));
    const std::vector<std::string> cases[] = {
        {},
        {wav},
        {wav, "--out"},
        {wav, wav, "--out", dir.file("x.syx")},
        {wav, "--out", dir.file("x.syx"), "--loop", "sometimes"},
        {wav, "--out", dir.file("x.syx"), "--channel", "middle"},
        {wav, "--out", dir.file("x.syx"), "--channel"},
        {wav, "--out", dir.file("x.syx"), "--samplepos", "-1"},
        {wav, "--out", dir.file("x.syx"), "--samplepos", "4294967296"},
        {wav, "--out", dir.file("x.syx"), "--sds-dev", "256"},
        {wav, "--out", dir.file("x.syx"), "--sds-dev", "128"},
        // The sample itself, named as given or by another path: it would be replaced.
        {wav, "--out", wav},
        {wav, "--out", dir.path.string() + "/./" + std::filesystem::path(wav).filename().string()},
        {wav, "--out", dir.file("x.syx"), "--sds-dev", "7f"},
        {wav, "--out", dir.file("x.syx"), "--name"},
    };
    for (const auto& args : cases) {
        test::CommandResult r = run(args);
        std::string line = args.empty() ? "" : args.back();
        EXPECT_EQ(r.status, 2) << line;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("jx-cli sds: ", 0), 0u) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.syx")));
    EXPECT_EQ(test::read_file(wav), stereo16(10));  // the sample was not replaced
    test::CommandResult help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: jx-cli sds FILE --out OUT.syx", 0), 0u) << help.out;
}

TEST_F(CliSds, FilesThatGiveNoDumpFailWithTheirReason) {
    Bytes broken = stereo16(10);
    broken[40] += 2;  // the data chunk runs past the file
    struct Case {
        std::string file, err;
    } cases[] = {
        {dir.file("missing.wav"),
         "cannot read '" + dir.file("missing.wav") + "': no such file or directory"},
        {dir.write("dump.syx", test::record(0x02, 'P', {1, 2})),
         "'" + dir.file("dump.syx") + "' is not a WAV, AIFF or AIFC sample"},
        {dir.write("broken.wav", broken),
         "cannot convert '" + dir.file("broken.wav") + "': Wave: Chunk size error"},
        {dir.write("empty.wav", stereo16(0)),
         "cannot convert '" + dir.file("empty.wav") + "': it holds no sample frames"},
        {dir.write("ulaw.aifc",
                   test::form("AIFC", {test::comm_chunk(1, 0, 8, test::rate_44100, "ulaw")})),
         "cannot convert '" + dir.file("ulaw.aifc") + "': AIFC: Not PCM or Float"},
    };
    for (const Case& c : cases) {
        test::CommandResult r = run({c.file, "--out", dir.file("x.syx")});
        EXPECT_EQ(r.status, 1) << c.file;
        EXPECT_EQ(r.err, "jx-cli sds: " + c.err + "\n");
        EXPECT_FALSE(std::filesystem::exists(dir.file("x.syx")));
    }
}

// Every field of the dump header is a fixed number of 7-bit groups: a value beyond it would reach
// the device wrapped into another one (a length of 2,097,152 frames reads as 0). Such a sample
// is refused with the limit named, and nothing is written; the extended header, whose length and
// loop fields are wider, still carries it.
TEST_F(CliSds, ValuesBeyondTheHeaderFieldsAreRefused) {
    auto mono16 = [](uint32_t frames, std::initializer_list<test::SmplLoop> loops) {
        Bytes smpl = loops.size() ? test::smpl_chunk(22676, loops) : Bytes{};
        return test::riff({test::fmt_chunk(1, 1, 44100, 16), smpl,
                           test::wav_chunk("data", Bytes(size_t{frames} * 2, 0x11))});
    };
    std::string longest = dir.write("longest.wav", mono16(2097151, {}));
    std::string too_long = dir.write("too_long.wav", mono16(2097152, {}));
    std::string far_loop = dir.write("far_loop.wav", mono16(100, {{0, 10, 3000000}}));
    std::string no_rate = dir.write(
        "no_rate.wav",
        test::riff({test::fmt_chunk(1, 1, 0, 16), test::wav_chunk("data", Bytes(200, 0x11))}));
    const test::Extended not_a_number = {0x7F, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 0};
    std::string nan_rate =
        dir.write("nan_rate.aif", test::form("AIFF", {test::comm_chunk(1, 100, 16, not_a_number),
                                                      test::ssnd_chunk(Bytes(200, 0x11))}));
    struct Case {
        std::vector<std::string> args;
        std::string problem;  // empty: converted
    } cases[] = {
        {{longest}, ""},
        {{too_long},
         "cannot convert '" + too_long +
             "': length of frames 2097152 does not fit the dump header (0 to 2097151)"},
        {{too_long, "--loop", "off"},
         "cannot convert '" + too_long +
             "': length of frames 2097152 does not fit the dump header (0 to 2097151)"},
        {{too_long, "--xsds"}, ""},
        {{far_loop},
         "cannot convert '" + far_loop +
             "': loop end 3000000 does not fit the dump header (0 to 2097151)"},
        {{no_rate},
         "cannot convert '" + no_rate +
             "': the sample rate is 0 Hz: a dump needs a rate of 1 Hz or more"},
        {{nan_rate, "--xsds"},
         "cannot convert '" + nan_rate +
             "': the sample rate is 0 Hz: a dump needs a rate of 1 Hz or more"},
        {{longest, "--samplepos", "16384"}, ""},
        {{longest, "--samplepos", "16385"},
         "cannot convert '" + longest +
             "': sample number 16384 does not fit the dump header (0 to 16383)"},
    };
    for (const Case& c : cases) {
        std::string out = dir.file("out.syx");
        std::filesystem::remove(out);
        std::vector<std::string> args = c.args;
        args.insert(args.begin() + 1, {"--out", out});
        test::CommandResult r = run(args);
        if (c.problem.empty()) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(std::filesystem::exists(out)) << c.args[0];
        } else {
            EXPECT_EQ(r.status, 1) << c.args[0];
            EXPECT_EQ(r.err, "jx-cli sds: " + c.problem + "\n");
            EXPECT_FALSE(std::filesystem::exists(out)) << c.args[0];
        }
    }
    // The longest sample a plain header carries arrives whole.
    test::CommandResult r = run({longest, "--out", dir.file("out.syx")});
    ASSERT_EQ(r.status, 0);
    test::ReceivedDump d = test::receive_dump(read_file(dir.file("out.syx")));
    EXPECT_EQ(d.problem, "");
    EXPECT_EQ(d.length, 2097151);
    EXPECT_EQ(d.sample_number, 0);
}

TEST_F(CliSds, OptionsReachTheDump) {
    std::filesystem::create_directory(dir.file("samples"));
    std::string wav = dir.write("samples/Kick drum.wav", stereo16(50));
    test::ReceivedDump plain = dump(wav);
    EXPECT_FALSE(plain.extended);
    EXPECT_EQ(plain.device, 0);
    EXPECT_EQ(plain.sample_number, 0);
    EXPECT_EQ(plain.period, 20833);
    EXPECT_FALSE(plain.has_zbname);
    EXPECT_EQ(plain.loop_type, 0x7F);
    EXPECT_EQ(plain.words[1], (3 - 2) / 2);  // both channels: (3 + -2) / 2 truncated

    test::ReceivedDump full = dump(wav, {"--xsds", "--zbname", "--samplepos", "5", "--sds-dev", "9",
                                         "--loop", "on", "--channel", "right"});
    EXPECT_TRUE(full.extended);
    EXPECT_EQ(full.rate, 48000);
    EXPECT_EQ(full.device, 9);
    EXPECT_EQ(full.sample_number, 4);
    EXPECT_EQ(full.name, "Kick drum");
    EXPECT_EQ(full.zbname, "KICM");
    EXPECT_EQ(full.zbname_sample, 4);
    EXPECT_EQ(full.loop_type, 0x00);
    EXPECT_EQ(full.loop_end, 49);
    EXPECT_EQ(full.words[1], -2);
    EXPECT_EQ(full.packet_numbers, (std::vector<int>{0, 1}));

    EXPECT_EQ(dump(wav, {"--samplepos", "0"}).sample_number, 0);
    EXPECT_EQ(dump(wav, {"--channel", "left", "--loop", "off"}).words[1], 3);
}

#ifdef JX_HAVE_SNDFILE

// The words a dump must carry for a file libsndfile reads: the channel chosen or mixed, the
// bits kept to at most 28.
std::vector<int32_t> expected_words(const std::vector<int32_t>& samples, int channels, int bits,
                                    const std::string& channel) {
    std::vector<int32_t> words;
    for (size_t k = 0; k + channels <= samples.size(); k += channels) {
        int64_t first = samples[k], second = channels == 2 ? samples[k + 1] : 0, word = first;
        if (channels == 2 && channel == "right") word = second;
        if (channels == 2 && channel == "both") word = (first + second) / 2;
        words.push_back(static_cast<int32_t>(word >> (bits > 28 ? bits - 28 : 0)));
    }
    return words;
}

// What libsndfile reads from a dump: each word's top `bits` bits. It takes a partly filled last
// packet for silence, so only the full packets before it count.
std::vector<int32_t> sndfile_words(const std::string& path, int bits, size_t full_words) {
    SF_INFO sf{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sf);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    if (!file) return {};
    EXPECT_EQ(sf.channels, 1);
    std::vector<int32_t> words(full_words);
    EXPECT_EQ(sf_read_int(file, words.data(), full_words), static_cast<sf_count_t>(full_words));
    sf_close(file);
    for (int32_t& w : words) w >>= 32 - bits;
    return words;
}

TEST_F(CliSds, DumpsCarryWhatLibsndfileReadsAndLibsndfileReadsThemBack) {
    struct Case {
        const char* name;
        int format;  // 0: a 12-bit WAV built here
        int channels;
        const char* channel;
        int bits;  // as the readers report them
    } cases[] = {
        {"wav u8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, "both", 8},
        {"wav 12", 0, 1, "both", 12},
        {"wav 16 both", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, "both", 16},
        {"wav 16 left", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, "left", 16},
        {"wav 16 right", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, "right", 16},
        {"wav 24 right", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, "right", 24},
        {"wav 32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 2, "both", 32},
        {"wav float both", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, "both", 24},
        {"wavex 16, 4 channels", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 4, "right", 16},
        {"aiff 8 left", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 2, "left", 8},
        {"aiff 16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, "both", 16},
        {"aiff 24 both", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 2, "both", 24},
        {"aifc float", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 1, "both", 24},
        {"aifc double right", SF_FORMAT_AIFF | SF_FORMAT_DOUBLE, 2, "right", 24},
        {"aifc sowt 16 both", SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE, 2, "both", 16},
    };
    const int frames = 1001;  // a partly filled last packet at every packing
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string source = dir.file(std::string(c.name) + ".src");
        std::vector<int32_t> samples;
        if (c.format == 0) {
            Bytes data;
            for (int k = 0; k < frames; ++k) {
                samples.push_back((k * 37) % 4096 - 2048);
                test::put(data, static_cast<uint32_t>(samples.back() * 16), 2, false);
            }
            dir.write(std::string(c.name) + ".src", test::riff({test::fmt_chunk(1, 1, 44100, 12),
                                                                test::wav_chunk("data", data)}));
        } else {
            test::write_with_sndfile(source, c.format, c.channels, 44100, frames);
            samples = test::peer_values(source, c.bits);
        }
        std::vector<int32_t> want = expected_words(samples, c.channels, c.bits, c.channel);
        ASSERT_EQ(want.size(), static_cast<size_t>(frames));

        std::string out = dir.file("dump.sds");
        test::CommandResult r = run({source, "--out", out, "--channel", c.channel});
        ASSERT_EQ(r.status, 0) << r.err;
        test::ReceivedDump d = test::receive_dump(read_file(out));
        ASSERT_EQ(d.problem, "");
        const int wire_bits = std::min(c.bits, 28);
        EXPECT_EQ(d.bits, wire_bits);
        EXPECT_EQ(d.length, frames);
        const size_t per_packet = wire_bits < 15 ? 60 : wire_bits < 22 ? 40 : 30;
        const size_t packets = (frames + per_packet - 1) / per_packet;
        ASSERT_EQ(d.words.size(), packets * per_packet);
        for (size_t k = 0; k < packets; ++k) EXPECT_EQ(d.packet_numbers[k], static_cast<int>(k));
        std::vector<int32_t> padded = want;
        padded.resize(d.words.size(), 0);
        EXPECT_EQ(d.words, padded);

        size_t full_words = frames / per_packet * per_packet;
        EXPECT_EQ(sndfile_words(out, wire_bits, full_words),
                  std::vector<int32_t>(want.begin(), want.begin() + full_words));
    }
}

#endif  // JX_HAVE_SNDFILE

}  // namespace
}  // namespace jx
