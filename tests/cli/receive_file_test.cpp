// jx-cli receive-file run as a user runs it: captured streams in, entries written to a folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "run_command.h"
#include "sds_dump_maker.h"
#include "temp_dir.h"

#ifdef JX_HAVE_SNDFILE
#include "sndfile_peer.h"
#endif

namespace jx {
namespace {

using test::cat;
using test::DumpFields;
using test::read_file;
using test::Stream;

struct CliReceiveFile : ::testing::Test {
    test::TempDir dir;
    test::CommandResult run(std::vector<std::string> args) {
        args.insert(args.begin(), "receive-file");
        return test::run_command(JX_CLI_PATH, args, dir.file("stderr.txt"));
    }
    std::string out() const { return dir.file("out"); }
};

TEST_F(CliReceiveFile, UsageErrorsAndFailures) {
    const std::string stream = dir.write("s.syx", {0xF0, 0x01, 0xF7});
    const struct {
        std::vector<std::string> args;
        int status;
        const char* err;
    } cases[] = {
        {{}, 2, "no stream file given"},
        {{stream}, 2, "--out is missing"},
        {{stream, "--out", out(), "--format", "mp3"}, 2, "--format takes sds, wav, aiff or none"},
        {{stream, stream, "--out", out()}, 2, "give one stream file"},
        {{stream, "--out", out(), "--handshake"}, 2, "handshake"},
        {{dir.file("missing.syx"), "--out", out()}, 1, "cannot read"},
        {{stream, "--out", stream}, 1, "cannot make the folder"},
    };
    for (const auto& c : cases) {
        const test::CommandResult r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const test::CommandResult help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: jx-cli receive-file", 0), 0u);
}

TEST_F(CliReceiveFile, WritesEveryEntryWithAUniqueFileName) {
    const DumpFields d{.bits = 16, .samples = test::sweep(16, 50)};
    const Stream plain = {0xF0, 0x00, 0x6B, 0x2E, 0x02, 0x00, 0x10, 0x01, 0xF7};
    auto named = [&](const std::string& name) {
        Stream s = cat({test::dump_header(d), test::name_message(name)});
        for (size_t k = 0; k < test::packet_count(d); ++k) s = cat({s, test::data_packet(d, k)});
        return s;
    };
    const Stream stream = cat({plain, named("KICK"), named("KICK"), named("A/B\x01"), plain});
    const test::CommandResult r =
        run({dir.write("in.syx", stream), "--format", "wav", "--out", out()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string o = out();
    const size_t wav_size = 44 + 2 * 50;
    EXPECT_EQ(r.out,
              "{\"name\": \"unnamed1\", \"file\": \"" + o +
                  "/unnamed1.syx\", \"size\": 9}\n"
                  "{\"name\": \"KICK\", \"file\": \"" +
                  o + "/KICK.wav\", \"size\": " + std::to_string(wav_size) + "}\n" +
                  "{\"name\": \"KICK\", \"file\": \"" + o + "/KICK-2.wav\", \"size\": " +
                  std::to_string(wav_size) + "}\n" + "{\"name\": \"A/B\\u0001\", \"file\": \"" + o +
                  "/A_B_.wav\", \"size\": " + std::to_string(wav_size) + "}\n" +
                  "{\"name\": \"unnamed5\", \"file\": \"" + o + "/unnamed5.syx\", \"size\": 9}\n");
    EXPECT_EQ(read_file(o + "/unnamed1.syx"), plain);
    EXPECT_EQ(read_file(o + "/KICK.wav"), read_file(o + "/KICK-2.wav"));
    EXPECT_EQ(read_file(o + "/A_B_.wav").size(), wav_size);

    // A second recording into the same folder replaces nothing of the first.
    std::filesystem::resize_file(o + "/KICK.wav", 10);  // a file the user changed meanwhile
    const test::CommandResult again = run({dir.file("in.syx"), "--format", "wav", "--out", out()});
    ASSERT_EQ(again.status, 0) << again.err;
    for (const char* name : {"/unnamed1-2.syx", "/KICK-3.wav", "/KICK-4.wav", "/A_B_-2.wav"})
        EXPECT_NE(again.out.find(o + name + "\""), std::string::npos) << name << again.out;
    EXPECT_EQ(read_file(o + "/KICK.wav").size(), 10u);
    EXPECT_EQ(read_file(o + "/unnamed1.syx"), plain);
}

TEST_F(CliReceiveFile, RefusedPacketEndsTheRecordingAndSaysSo) {
    const DumpFields d{.bits = 8, .samples = test::sweep(8, 200)};
    Stream bad = test::data_packet(d, 1);
    bad[125] ^= 1;
    const Stream stream =
        cat({Stream{0xF0, 0x01, 0xF7}, test::dump_header(d), test::data_packet(d, 0), bad,
             test::data_packet(d, 1), Stream{0xF0, 0x02, 0xF7}});
    const test::CommandResult r = run({dir.write("in.syx", stream), "--out", out()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("stopped before the end"), std::string::npos) << r.err;
    // What came before the bad packet is written; nothing after it.
    EXPECT_EQ(read_file(out() + "/unnamed1.syx"), Stream({0xF0, 0x01, 0xF7}));
    EXPECT_EQ(read_file(out() + "/unnamed2.syx"),
              cat({test::dump_header(d), test::data_packet(d, 0)}));
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2);
}

#ifdef JX_HAVE_SNDFILE
// Dumps that libsndfile writes come back with the samples libsndfile wrote, in every form.
TEST_F(CliReceiveFile, LibsndfileSdsFilesGiveBackTheirSamples) {
    const struct {
        int subtype;
        int bits;
    } cases[] = {{SF_FORMAT_PCM_S8, 8}, {SF_FORMAT_PCM_16, 16}, {SF_FORMAT_PCM_24, 24}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        const std::string sds = dir.file("in" + std::to_string(c.bits) + ".sds");
        test::write_with_sndfile(sds, SF_FORMAT_SDS | c.subtype, 1, 44100, 300);
        // The values write_with_sndfile hands libsndfile, kept to the file's bits.
        std::vector<int32_t> written(300);
        uint32_t seed = 12345;
        for (int32_t& v : written)
            v = static_cast<int32_t>(seed = seed * 1664525 + 1013904223) >> (32 - c.bits);
        written[0] = INT32_MAX >> (32 - c.bits);
        written[1] = INT32_MIN >> (32 - c.bits);
        for (const char* format : {"wav", "aiff", "sds"}) {
            SCOPED_TRACE(format);
            const std::string folder = dir.file(std::string(format) + std::to_string(c.bits));
            const test::CommandResult r = run({sds, "--format", format, "--out", folder});
            ASSERT_EQ(r.status, 0) << r.err;
            const std::string ext = format == std::string("wav")    ? ".wav"
                                    : format == std::string("aiff") ? ".aif"
                                                                    : ".syx";
            const std::string file = folder + "/unnamed1" + ext;
            if (ext == ".syx") {
                // The SDS form is the dump's own messages: the very bytes libsndfile wrote.
                EXPECT_EQ(read_file(file), read_file(sds));
                continue;
            }
            const std::vector<int32_t> got = test::peer_values(file, c.bits);
            ASSERT_EQ(got.size(), written.size());
            for (size_t k = 0; k < got.size(); ++k) ASSERT_EQ(got[k], written[k]) << k;
            // libsndfile writes the period 1e9 / 44100 cut to 22675 ns, which is 44101 Hz to
            // the nearest; only 44099 and 48001 are taken as the common rates.
            SF_INFO info{};
            SNDFILE* f = sf_open(file.c_str(), SFM_READ, &info);
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(info.samplerate, 44101);
            sf_close(f);
        }
    }
}
// What `jx-cli sds --xsds` writes (an extended dump header and a sample name message) comes back in
// every form: the SDS form byte for byte, the images with the file's own rate and with the samples
// and loop that the plain dump of the same file gives.
TEST_F(CliReceiveFile, OurExtendedDumpsComeBackWithTheirOwnRate) {
    for (int rate : {44100, 96000, 22050}) {
        SCOPED_TRACE(rate);
        const std::string wav = dir.file("in" + std::to_string(rate) + ".wav");
        test::write_with_sndfile(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, rate, 300);
        std::string dumps[2];
        for (int xsds : {0, 1}) {
            dumps[xsds] = dir.file(std::to_string(rate) + (xsds ? "x.syx" : "p.syx"));
            std::vector<std::string> args = {"sds", wav, "--out", dumps[xsds]};
            if (xsds) args.push_back("--xsds");
            const test::CommandResult r =
                test::run_command(JX_CLI_PATH, args, dir.file("stderr.txt"));
            ASSERT_EQ(r.status, 0) << r.err;
        }
        ASSERT_EQ(read_file(dumps[1])[3], 0x05);
        for (const char* format : {"wav", "aiff", "sds"}) {
            SCOPED_TRACE(format);
            const std::string ext = format == std::string("wav")    ? ".wav"
                                    : format == std::string("aiff") ? ".aif"
                                                                    : ".syx";
            std::string files[2];
            for (int xsds : {0, 1}) {
                const std::string folder = dir.file(std::to_string(rate) + format + "px"[xsds]);
                const test::CommandResult r =
                    run({dumps[xsds], "--format", format, "--out", folder});
                ASSERT_EQ(r.status, 0) << r.err;
                // The sample name message names an image; the SDS form keeps it in its data.
                const bool named = xsds && ext != ".syx";
                files[xsds] =
                    folder + "/" + (named ? "in" + std::to_string(rate) : "unnamed1") + ext;
            }
            if (ext == ".syx") {
                EXPECT_EQ(read_file(files[1]), read_file(dumps[1]));
                continue;
            }
            EXPECT_EQ(test::peer_values(files[1], 16), test::peer_values(files[0], 16));
            SF_INFO info[2] = {};
            SF_INSTRUMENT loop[2] = {};
            for (int xsds : {0, 1}) {
                SNDFILE* f = sf_open(files[xsds].c_str(), SFM_READ, &info[xsds]);
                ASSERT_NE(f, nullptr);
                sf_command(f, SFC_GET_INSTRUMENT, &loop[xsds], sizeof loop[xsds]);
                sf_close(f);
            }
            EXPECT_EQ(info[1].samplerate, rate);
            EXPECT_EQ(info[1].frames, 300);
            ASSERT_EQ(loop[1].loop_count, 1);
            EXPECT_EQ(loop[1].loops[0].start, loop[0].loops[0].start);
            EXPECT_EQ(loop[1].loops[0].end, loop[0].loops[0].end);
        }
    }
}
#endif

}  // namespace
}  // namespace jx
