// WAV, AIFF and AIFC files written by other programs: libsndfile (through its library) and sox
// (run as a command). The readers must report what the writer wrote, and the decoded sample
// values must equal what libsndfile reads back from the same file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/aiff.h"
#include "audio/sample_file.h"
#include "audio/sample_words.h"
#include "audio/wav.h"
#include "run_command.h"
#include "sample_file_maker.h"
#include "temp_dir.h"
#include "transfer/entry_info.h"

#ifdef JX_HAVE_SNDFILE
#include "sndfile_peer.h"
#endif

namespace jx {
namespace {

using test::Bytes;
using test::read_file;

// What the writer was asked to write.
struct Expected {
    int result = 1;
    int kind = 0;
    int channels = 0;
    int rate = 0;
    int bits = 0;
    int frames = 0;
    int loop_start = -1;  // -1: no loop in the file
    int loop_end = -1;
    const char* refusal = "";  // the File Info text of a refused file
};

// One sample of one channel as the converters decode it: right-justified to its bits.
int32_t decoded(const SampleInfo& s, const Bytes& file, size_t index) {
    return sample_word(s, file.data() + s.data_start + index * s.container_bytes);
}

void expect_reads_as(const std::string& path, const Expected& e) {
    Bytes file = read_file(path);
    ASSERT_FALSE(file.empty());
    Entry entry;
    entry.data = file;
    EntryInfo shown = describe_entry(entry);
    EXPECT_TRUE(shown.is_sample);
    SampleInfo s;
    ASSERT_EQ(parse_sample(s, file.data(), file.size()), e.result) << shown.text;
    if (e.result != 1) {
        EXPECT_EQ(shown.text, e.refusal);
        return;
    }
    EXPECT_EQ(s.file_kind, e.kind);
    EXPECT_EQ(s.channels, e.channels);
    EXPECT_EQ(s.rate, e.rate);
    EXPECT_EQ(s.bits, e.bits);
    EXPECT_EQ(s.length, e.frames);
    EXPECT_EQ(s.loop_present, e.loop_start >= 0 ? 1 : 0);
    if (e.loop_start >= 0) {
        EXPECT_EQ(s.loop_type, 0);
        EXPECT_EQ(s.loop_start, e.loop_start);
        EXPECT_EQ(s.loop_end, e.loop_end);
    } else {
        EXPECT_EQ(s.loop_start, 0);
        EXPECT_EQ(s.loop_end, e.frames - 1);
    }
    size_t samples = static_cast<size_t>(s.length) * s.channels;
    ASSERT_LE(s.data_start + samples * s.container_bytes, file.size());
#ifdef JX_HAVE_SNDFILE
    std::vector<int32_t> want = test::peer_values(path, s.bits);
    ASSERT_EQ(want.size(), samples);
    int wrong = 0;
    for (size_t k = 0; k < samples; ++k)
        if (decoded(s, file, k) != want[k] && ++wrong <= 3)
            ADD_FAILURE() << "sample " << k << ": " << decoded(s, file, k) << " != " << want[k];
    EXPECT_EQ(wrong, 0);
#endif
}

#ifdef JX_HAVE_SNDFILE

struct SndfileCase {
    const char* name;
    int format;
    int channels;
    Expected expected;
};

TEST(SamplePeers, FilesWrittenByLibsndfile) {
    using namespace sample_kind;
    // libsndfile keeps a loop in WAV files (`smpl`, with its end counted as the last frame)
    // but writes no INST or MARK chunk into AIFF files.
    const SndfileCase cases[] = {
        {"wav u8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 2, {1, wav, 2, 0, 8, 0, 10, 89}},
        {"wav 16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, {1, wav, 1, 0, 16, 0, 10, 89}},
        {"wav 24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, {1, wav, 2, 0, 24, 0, 10, 89}},
        {"wav 32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 2, {1, wav, 2, 0, 32, 0, 10, 89}},
        {"wav float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, {1, wav, 2, 0, 24, 0, 10, 89}},
        {"wavex 16", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 3, {1, wav, 3, 0, 16, 0, 10, 89}},
        {"wavex 24", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 2, {1, wav, 2, 0, 24, 0, 10, 89}},
        {"wavex float", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 1, {1, wav, 1, 0, 24, 0, 10, 89}},
        {"aiff 8", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 2, {1, aiff, 2, 0, 8, 0}},
        {"aiff 16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, {1, aiff, 1, 0, 16, 0}},
        {"aiff 24", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 2, {1, aiff, 2, 0, 24, 0}},
        {"aiff 32", SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 2, {1, aiff, 2, 0, 32, 0}},
        {"aifc float", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 2, {1, aifc, 2, 0, 24, 0}},
        {"aifc double", SF_FORMAT_AIFF | SF_FORMAT_DOUBLE, 2, {1, aifc, 2, 0, 24, 0}},
        {"aifc sowt 16",
         SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE,
         2,
         {1, aifc, 2, 0, 16, 0}},
        {"aifc little 24",
         SF_FORMAT_AIFF | SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE,
         1,
         {1, aifc, 1, 0, 24, 0}},
        {"aifc little 32",
         SF_FORMAT_AIFF | SF_FORMAT_PCM_32 | SF_ENDIAN_LITTLE,
         2,
         {1, aifc, 2, 0, 32, 0}},
        {"wav double",
         SF_FORMAT_WAV | SF_FORMAT_DOUBLE,
         1,
         {.result = -3, .refusal = "Wave: Not PCM or Float"}},
        {"wav a-law",
         SF_FORMAT_WAV | SF_FORMAT_ALAW,
         1,
         {.result = -3, .refusal = "Wave: Not PCM or Float"}},
        {"aifc u-law",
         SF_FORMAT_AIFF | SF_FORMAT_ULAW,
         1,
         {.result = -3, .refusal = "AIFC: Not PCM or Float"}},
        {"aifc unsigned 8",
         SF_FORMAT_AIFF | SF_FORMAT_PCM_U8,
         1,
         {.result = -3, .refusal = "AIFC: Not PCM or Float"}},
    };
    test::TempDir dir;
    int rates[] = {8000, 22050, 44100, 48000, 96000};
    int n = 0;
    for (const SndfileCase& c : cases) {
        SCOPED_TRACE(c.name);
        Expected e = c.expected;
        e.rate = rates[n++ % 5];
        e.frames = 1000 + n;
        std::string path = dir.file(std::string(c.name) + ".snd");
        test::write_with_sndfile(path, c.format, c.channels, e.rate, e.frames);
        expect_reads_as(path, e);
    }
}

// libsndfile as a reader: it finds the same sustain loop in an AIFF with markers that the
// readers do, whatever the chunk order.
TEST(SamplePeers, LibsndfileReadsTheSameAiffLoop) {
    using namespace test;
    Bytes frames(2 * 200);
    for (size_t k = 0; k < frames.size(); ++k) frames[k] = static_cast<uint8_t>(k * 7);
    Bytes files[] = {
        form("AIFF", {comm_chunk(1, 200, 16, rate_44100), ssnd_chunk(frames), inst_chunk(1, 1, 2),
                      mark_chunk({{1, 10, "begin"}, {2, 90, "end"}})}),
        form("AIFF", {comm_chunk(1, 200, 16, rate_44100), mark_chunk({{2, 90, ""}, {1, 10, "b"}}),
                      inst_chunk(1, 1, 2), ssnd_chunk(frames)}),
    };
    test::TempDir dir;
    for (const Bytes& bytes : files) {
        std::string path = dir.write("loop.aiff", bytes);
        SF_INFO sf{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sf);
        ASSERT_NE(file, nullptr);
        SF_INSTRUMENT instrument{};
        ASSERT_EQ(sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument), SF_TRUE);
        sf_close(file);
        ASSERT_EQ(instrument.loop_count, 1);
        Expected e{1,
                   sample_kind::aiff,
                   1,
                   44100,
                   16,
                   static_cast<int>(sf.frames),
                   static_cast<int>(instrument.loops[0].start),
                   static_cast<int>(instrument.loops[0].end)};
        EXPECT_EQ(e.loop_start, 10);
        expect_reads_as(path, e);
    }
}

#endif  // JX_HAVE_SNDFILE

bool have_sox() {
    return std::system("command -v sox >/dev/null 2>&1") == 0;
}

TEST(SamplePeers, FilesWrittenBySox) {
    if (!have_sox()) GTEST_SKIP() << "sox is not installed";
    using namespace sample_kind;
    struct Case {
        const char* name;
        const char* options;  // sox output options
        const char* extension;
        int channels, rate;
        Expected expected;  // channels, rate and frames are filled in below
    } cases[] = {
        {"wav 8", "-b 8", "wav", 1, 8000, {1, wav, 0, 0, 8}},
        {"wav 16", "-b 16", "wav", 2, 44100, {1, wav, 0, 0, 16}},
        {"wav 24 (extensible)", "-b 24", "wav", 2, 48000, {1, wav, 0, 0, 24}},
        {"wav 32 (extensible)", "-b 32", "wav", 1, 96000, {1, wav, 0, 0, 32}},
        {"wav float", "-e floating-point -b 32", "wav", 2, 22050, {1, wav, 0, 0, 24}},
        {"wav 4 channels (extensible)", "-b 16", "wav", 4, 32000, {1, wav, 0, 0, 16}},
        {"aiff 8", "-b 8", "aiff", 2, 11025, {1, aiff, 0, 0, 8}},
        {"aiff 16", "-b 16", "aiff", 1, 44100, {1, aiff, 0, 0, 16}},
        {"aiff 24", "-b 24", "aiff", 2, 48000, {1, aiff, 0, 0, 24}},
        {"aiff 32", "-b 32", "aiff", 2, 22050, {1, aiff, 0, 0, 32}},
        {"aifc none", "-b 16", "aifc", 2, 44100, {1, aifc, 0, 0, 16}},
        {"aifc fl32", "-e floating-point -b 32", "aifc", 1, 48000, {1, aifc, 0, 0, 24}},
        {"aifc fl64", "-e floating-point -b 64", "aifc", 2, 8000, {1, aifc, 0, 0, 24}},
        {"wav double",
         "-e floating-point -b 64",
         "wav",
         1,
         44100,
         {.result = -3, .refusal = "Wave: Not PCM or Float"}},
        {"wav a-law",
         "-e a-law",
         "wav",
         1,
         8000,
         {.result = -3, .refusal = "Wave: Not PCM or Float"}},
        {"wav ima adpcm",
         "-e ima-adpcm",
         "wav",
         1,
         8000,
         {.result = -3, .refusal = "Wave: Not PCM or Float"}},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.file(std::string("out.") + c.extension);
        // A sweep loud enough to reach full scale, 500 frames long.
        std::string command = "sox -V1 -r " + std::to_string(c.rate) + " -c " +
                              std::to_string(c.channels) + " -n " + c.options + " " +
                              test::shell_quote(path) + " synth 500s sine 20-9000 gain -0.1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        Expected e = c.expected;
        e.channels = c.channels;
        e.rate = c.rate;
        e.frames = 500;
        expect_reads_as(path, e);
    }
}

}  // namespace
}  // namespace jx
