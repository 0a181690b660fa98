#include "midi/store_received.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midi/recorder.h"
#include "platform/window/dialog_ids.h"
#include "recorder_rig.h"
#include "sample_file_maker.h"
#include "sds_dump_maker.h"
#include "temp_dir.h"

#ifdef JX_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace jx {
namespace {

using test::cat;
using test::DumpFields;
using test::RecorderRig;
using test::Stream;

TEST(StoreReceived, NamesCountEveryStoredDump) {
    const struct {
        uint32_t value;
        const char* name;
    } cases[] = {
        {0, "unnamed7"},
        {0x4B49434Bu, "KICK"},
        {0x5B41425Du, "\u00C5AB\u00D6"},  // '[' 'A' 'B' ']'
        {0x5C202020u, "\u00C4   "},       // trailing spaces stay
        {0xC1C2C3C4u, "ABCD"},            // bit 7 cleared
    };
    for (const auto& c : cases) EXPECT_EQ(received_dump_name(c.value, 7), c.name) << c.value;

    // Through recordings: a named dump raises the counter, so the next unnamed entry skips one.
    RecorderRig rig(rec_sds);
    const DumpFields d{.bits = 8, .samples = {1, 2, 3}};
    const Stream plain = {0xF0, 0x01, 0xF7};
    rig.record(plain);
    // The SysEx after a named dump does not take the dump's name when the next dump begins.
    rig.record(cat({test::dump_header(d), test::name_message("KICK"), test::data_packet(d, 0),
                    plain, test::whole_dump(d)}));
    rig.record(plain);
    std::vector<std::string> names;
    for (const auto& e : rig.entries()) names.push_back(e.name);
    EXPECT_EQ(names,
              std::vector<std::string>({"unnamed1", "KICK", "unnamed3", "unnamed4", "unnamed5"}));
}

TEST(StoreReceived, EntryJoinsTheEndAndIsSelectedOnlyWhenNothingWas) {
    for (bool something_selected : {false, true}) {
        SCOPED_TRACE(something_selected);
        RecorderRig rig(rec_wav);
        auto first = std::make_unique<Entry>();
        first->data = {0xF0, 0x01, 0xF7};
        set_selected(rig.list, insert_entry(rig.list, "loaded.syx", std::move(first), -1),
                     something_selected);
        rig.record(test::whole_dump(DumpFields{.samples = test::sweep(16, 10)}));
        ASSERT_EQ(rig.list.items.size(), 2u);
        EXPECT_EQ(rig.list.items[1].name, "unnamed1");
        EXPECT_EQ(rig.list.items[1].type_text, "WAV");
        EXPECT_EQ(rig.list.items[1].entry->loop_option, '0');
        EXPECT_EQ(rig.list.items[1].entry->channel_option, '0');
        EXPECT_EQ(rig.list.items[1].selected, !something_selected);
        EXPECT_EQ(rig.list.items[0].selected, something_selected);
        if (!something_selected) {
            ASSERT_TRUE(rig.list.show_next.info);
            EXPECT_NE(rig.list.show_next.info->text.find("Sample Rate: 44100"), std::string::npos)
                << rig.list.show_next.info->text;
        } else {
            EXPECT_FALSE(rig.list.show_next.info);
        }
    }
}

TEST(StoreReceived, NoMemoryForTheNextBufferEndsTheRecording) {
    RecorderRig rig(rec_sds);
    static int allocations;
    allocations = 0;
    rig.recorder.allocate_buffer = [](size_t size) -> uint8_t* {
        return ++allocations == 1 ? new uint8_t[size] : nullptr;
    };
    const DumpFields d{.bits = 8, .samples = {1, 2, 3}};
    start_recording(rig.recorder);
    rig.feed(cat({test::whole_dump(d), Stream{0xF0, 0x01, 0xF7}}));
    EXPECT_EQ(rig.shown(ids::file_info), "Record:Out of Memory");
    EXPECT_EQ(rig.state.receive_state.load(), receive_idle);
    ASSERT_EQ(rig.entries().size(), 1u);  // the dump was stored before the buffer ran out
    EXPECT_EQ(rig.entries()[0].data, test::whole_dump(d));
}

// The file images byte for byte, against files built chunk by chunk from the layout.
TEST(StoreReceived, WavAndAiffImagesHaveTheirExactLayout) {
    using namespace test;
    const std::vector<int32_t> samples = {-32768, 32767, 0, -1, 1000};
    Bytes le_data, be_data;
    for (int32_t s : samples) {
        put(le_data, static_cast<uint32_t>(s), 2, false);
        put(be_data, static_cast<uint32_t>(s), 2, true);
    }
    const Bytes inst =
        aiff_chunk("INST", join({Bytes{60, 0, 0, 127, 1, 127}, be({{0, 2}}),
                                 be({{1, 2}, {0, 2}, {1, 2}, {0, 2}, {0, 2}, {2, 2}})}));
    const Bytes mark = mark_chunk({{0, 10, "0"}, {1, 3, "1"}, {2, 5, "2"}});
    const Bytes expected[] = {
        riff({fmt_chunk(1, 1, 44100, 16), wav_chunk("data", le_data)}),
        riff({fmt_chunk(1, 1, 44100, 16), smpl_chunk(22676, {{0, 10, 3}}),
              wav_chunk("data", le_data)}),
        form("AIFF", {comm_chunk(1, 5, 16, rate_44100), ssnd_chunk(be_data)}),
        form("AIFF", {comm_chunk(1, 5, 16, rate_44100), inst, mark, ssnd_chunk(be_data)}),
    };
    int k = 0;
    for (int32_t format : {rec_wav, rec_aiff}) {
        for (uint8_t loop_type : {uint8_t{0x7F}, uint8_t{0}}) {
            SCOPED_TRACE(k);
            RecorderRig rig(format);
            rig.record(whole_dump(DumpFields{
                .loop_start = 10, .loop_end = 3, .loop_type = loop_type, .samples = samples}));
            ASSERT_EQ(rig.entries().size(), 1u);
            EXPECT_EQ(rig.entries()[0].data, expected[k]);
            const size_t header =
                format == rec_wav ? (loop_type ? 44 : 112) : (loop_type ? 54 : 116);
            EXPECT_EQ(rig.entries()[0].data.size(), header + 2 * samples.size());
            ++k;
        }
    }
}

#ifdef JX_HAVE_SNDFILE
// libsndfile reads every image the receiver writes with the samples, rate and loop of the dump.
TEST(StoreReceived, LibsndfileReadsTheImagesBack) {
    test::TempDir dir;
    for (int bits : {8, 12, 16, 20, 24}) {
        for (int32_t format : {rec_wav, rec_aiff}) {
            for (bool looped : {false, true}) {
                SCOPED_TRACE(std::to_string(bits) + (format == rec_wav ? " WAV" : " AIFF") +
                             (looped ? " looped" : ""));
                const DumpFields d{.bits = bits,
                                   .period = 20833,
                                   .loop_start = 100,
                                   .loop_end = 899,
                                   .loop_type = uint8_t(looped ? 0 : 0x7F),
                                   .samples = test::sweep(bits, 1000)};
                RecorderRig rig(format);
                rig.record(test::whole_dump(d));
                ASSERT_EQ(rig.entries().size(), 1u);
                const std::string path =
                    dir.write(format == rec_wav ? "x.wav" : "x.aif", rig.entries()[0].data);
                SF_INFO info{};
                SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
                ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
                EXPECT_EQ(info.samplerate, 48000);
                EXPECT_EQ(info.channels, 1);
                ASSERT_EQ(info.frames, 1000);
                std::vector<int> values(1000);
                EXPECT_EQ(sf_read_int(file, values.data(), 1000), 1000);
                for (size_t k = 0; k < values.size(); ++k)
                    ASSERT_EQ(values[k] >> (32 - bits), d.samples[k]) << k;
                SF_INSTRUMENT instrument{};
                const bool has_loop = sf_command(file, SFC_GET_INSTRUMENT, &instrument,
                                                 sizeof instrument) == SF_TRUE &&
                                      instrument.loop_count > 0;
                EXPECT_EQ(has_loop, looped);
                if (has_loop) {
                    EXPECT_EQ(instrument.loops[0].mode, SF_LOOP_FORWARD);
                    EXPECT_EQ(instrument.loops[0].start, 100u);
                    // libsndfile counts a WAV loop's end one past the last sample of the loop.
                    EXPECT_EQ(instrument.loops[0].end, format == rec_wav ? 900u : 899u);
                    EXPECT_EQ(instrument.basenote, 60);
                }
                sf_close(file);
            }
        }
    }
}

// A dump cut off by Stop Rec is stored with the sizes of what came, and reads as that.
TEST(StoreReceived, CutOffImageReadsAsTheSamplesThatCame) {
    test::TempDir dir;
    const DumpFields d{.bits = 16,
                       .loop_start = 10,
                       .loop_end = 99,
                       .loop_type = 0,
                       .samples = test::sweep(16, 120)};
    for (int32_t format : {rec_wav, rec_aiff}) {
        SCOPED_TRACE(format);
        RecorderRig rig(format);
        rig.record(cat({test::dump_header(d), test::data_packet(d, 0), test::data_packet(d, 1)}));
        ASSERT_EQ(rig.entries().size(), 1u);
        const std::string path =
            dir.write(format == rec_wav ? "cut.wav" : "cut.aif", rig.entries()[0].data);
        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        ASSERT_EQ(info.frames, 80);
        std::vector<int> values(80);
        EXPECT_EQ(sf_read_int(file, values.data(), 80), 80);
        for (size_t k = 0; k < values.size(); ++k) ASSERT_EQ(values[k] >> 16, d.samples[k]) << k;
        sf_close(file);
    }
}
#endif

}  // namespace
}  // namespace jx
