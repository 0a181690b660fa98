#include "midi/recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/midi/midi_loopback.h"
#include "platform/window/dialog_ids.h"
#include "recorder_rig.h"
#include "sds_dump_maker.h"

namespace jx {
namespace {

using test::cat;
using test::DumpFields;
using test::RecorderRig;
using test::Stream;

const Stream turbo_answer = {0xF0, 0x00, 0x6B, 0x2E, 0x04, 0x00, 0x02, 0x05, 0xF7};
const Stream short_plain = {0xF0, 0x01, 0x02, 0xF7};
const Stream maker_dump = {0xF0, 0x00, 0x6B, 0x2E, 0x02, 0x00, 0x10, 0x01, 0x02, 0x03, 0xF7};
const Stream identity_reply = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x41, 0x00, 0x00, 0xF7};

struct PlainCase {
    const char* what;
    Stream stream;
    Stream recorded;  // empty: no entry
};

TEST(Recorder, RecordsPlainSysexByteForByteAndNothingElse) {
    const PlainCase cases[] = {
        {"two messages back to back, bytes around them dropped",
         cat({{0x01, 0x02}, maker_dump, {0x7F}, short_plain, {0x03}}),
         cat({maker_dump, short_plain})},
        {"a message shorter than seven bytes", short_plain, short_plain},
        {"F0 F7 alone", {0xF0, 0xF7}, {0xF0, 0xF7}},
        {"a Turbo answer is not recorded", cat({turbo_answer, short_plain}), short_plain},
        {"the maker's device 00 messages are not recorded",
         cat({{0xF0, 0x00, 0x6B, 0x2E, 0x00, 0x00, 0x05, 0x06, 0xF7}, short_plain}), short_plain},
        {"a universal message other than SDS is not recorded", cat({identity_reply, short_plain}),
         short_plain},
        {"a name message not after SDS messages is plain SysEx", test::name_message("KICK"),
         test::name_message("KICK")},
        {"real-time bytes inside a message are dropped as the platform drops them",
         {0xF0, 0x01, 0xF8, 0x02, 0xFE, 0xF7},
         {0xF0, 0x01, 0x02, 0xF7}},
        {"a message cut short by a status byte keeps what came, the next is its own",
         {0xF0, 0x01, 0x02, 0x90, 0x40, 0x7F, 0xF0, 0x03, 0xF7},
         {0xF0, 0x01, 0x02, 0xF0, 0x03, 0xF7}},
        {"nothing but bytes outside messages", {0x90, 0x40, 0x7F, 0x01}, {}},
    };
    for (const PlainCase& c : cases) {
        SCOPED_TRACE(c.what);
        RecorderRig rig;
        rig.record(c.stream);
        const auto entries = rig.entries();
        if (c.recorded.empty()) {
            EXPECT_TRUE(entries.empty());
            EXPECT_EQ(rig.shown(ids::status), "Received: 0 bytes.");
            continue;
        }
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].name, "unnamed1");
        EXPECT_EQ(entries[0].data, c.recorded);
        EXPECT_EQ(rig.shown(ids::status),
                  "Received: " + std::to_string(c.recorded.size()) + " bytes.");
    }
}

TEST(Recorder, TurboAnswerSetsTheSpeedWhereverTheInputBufferEnds) {
    for (size_t piece : {size_t{0}, size_t{1}, size_t{7}, size_t{8}}) {
        SCOPED_TRACE(piece);
        RecorderRig rig;
        rig.record(cat({turbo_answer, short_plain}), piece);
        EXPECT_EQ(rig.state.turbo_speed.load(), 50);
        ASSERT_EQ(rig.entries().size(), 1u);
        EXPECT_EQ(rig.entries()[0].data, short_plain);
    }
    // A speed index of 12 or more changes nothing.
    RecorderRig rig;
    rig.record({0xF0, 0x00, 0x6B, 0x2E, 0x04, 0x00, 0x02, 0x0C, 0xF7});
    EXPECT_EQ(rig.state.turbo_speed.load(), 10);
}

// A stream of everything a device may send while recording: plain SysEx (one longer than an
// input buffer), Turbo answers, named and unnamed sample dumps at several depths.
Stream mixed_stream() {
    Stream big = {0xF0, 0x00, 0x6B, 0x2E, 0x03, 0x00, 0x20};
    for (int k = 0; k < 40000; ++k) big.push_back(static_cast<uint8_t>(k % 128));
    big.push_back(0xF7);
    DumpFields a{.device = 3,
                 .bits = 16,
                 .loop_start = 5,
                 .loop_end = 90,
                 .loop_type = 0,
                 .samples = test::sweep(16, 100)};
    DumpFields b{.bits = 8, .period = 20833, .samples = test::sweep(8, 130)};
    DumpFields c{.device = 1, .bits = 24, .period = 31250, .samples = test::sweep(24, 61)};
    Stream b_named = cat({test::dump_header(b), test::name_message("[AB]")});
    for (size_t k = 0; k < test::packet_count(b); ++k)
        b_named = cat({b_named, test::data_packet(b, k)});
    return cat({short_plain, test::whole_dump(a), maker_dump, turbo_answer, b_named, big,
                test::whole_dump(c), short_plain});
}

TEST(Recorder, EveryCutOfTheInputGivesTheSameEntries) {
    const Stream stream = mixed_stream();
    for (int32_t format : {rec_sds, rec_wav, rec_aiff, rec_none}) {
        SCOPED_TRACE(format);
        RecorderRig whole(format);
        whole.record(stream);
        const auto expected = whole.entries();
        // Three dumps and the four runs of plain SysEx around them, or one recording for "None".
        ASSERT_EQ(expected.size(), format == rec_none ? 1u : 7u);
        if (format != rec_none) {
            EXPECT_EQ(expected[3].name, "\u00C5AB\u00D6");
        }
        for (size_t piece : {size_t{16384}, size_t{1000}, size_t{127}, size_t{1}}) {
            SCOPED_TRACE(piece);
            RecorderRig cut(format);
            cut.record(stream, piece);
            EXPECT_EQ(cut.entries(), expected);
            EXPECT_EQ(cut.state.turbo_speed.load(), 50);
        }
    }
}

// The list's type of every entry recorded is the one its bytes show, also where the recorder
// knows without a search that a buffer holds sample dumps alone.
TEST(Recorder, ListShowsTheTypeOfWhatEachEntryHolds) {
    const Stream stream = cat({mixed_stream(), maker_dump, test::whole_dump({.samples = {1, 2}})});
    for (int32_t format : {rec_sds, rec_wav, rec_aiff, rec_none}) {
        for (size_t piece : {size_t{0}, size_t{127}, size_t{1}}) {
            SCOPED_TRACE(std::to_string(format) + ", pieces of " + std::to_string(piece));
            RecorderRig rig(format);
            rig.record(stream, piece);
            std::vector<std::string> types;
            for (const ListItem& item : rig.list.items) {
                types.push_back(item.type_text);
                EXPECT_EQ(item.type_text, entry_type_text(entry_type(*item.entry)));
            }
            // Not a test of nothing: sample dumps and the maker's dumps are among them.
            const auto has = [&](const char* type) {
                return std::find(types.begin(), types.end(), type) != types.end();
            };
            const char* sample = format == rec_wav ? "WAV" : format == rec_aiff ? "AIFF" : "SDS";
            if (format != rec_none) {
                EXPECT_TRUE(has(sample));
            }
            EXPECT_TRUE(has("KA"));
        }
    }
}

TEST(Recorder, MessageCutOffByStopStaysAndItsRestIsDroppedNextTime) {
    RecorderRig rig;
    start_recording(rig.recorder);
    rig.feed({0xF0, 0x01, 0x02, 0x03}, 4);
    stop_recording(rig.recorder);
    start_recording(rig.recorder);
    rig.feed({0x04, 0x05, 0xF7, 0xF0, 0x06, 0xF7}, 6);
    stop_recording(rig.recorder);
    const auto entries = rig.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].data, Stream({0xF0, 0x01, 0x02, 0x03}));
    EXPECT_EQ(entries[1].data, Stream({0xF0, 0x06, 0xF7}));
    EXPECT_EQ(entries[1].name, "unnamed2");
}

TEST(Recorder, WindowAndSharedValuesFollowTheRecording) {
    RecorderRig rig;
    start_recording(rig.recorder);
    EXPECT_EQ(rig.state.receive_state.load(), receive_recording);
    EXPECT_EQ(rig.shown(ids::status), "Receiving...");
    EXPECT_EQ(rig.shown(ids::receive), "Stop Rec");
    rig.feed(short_plain);
    EXPECT_EQ(rig.state.received_count.load(), 4);
    EXPECT_TRUE(rig.state.status_bits.load() & status_receiving);
    stop_recording(rig.recorder);
    EXPECT_EQ(rig.state.receive_state.load(), receive_idle);
    EXPECT_FALSE(rig.state.status_bits.load() & status_receiving);
    EXPECT_EQ(rig.shown(ids::status), "Received: 4 bytes.");
    EXPECT_EQ(rig.shown(ids::receive), "Receive");
    // Bytes that come while not recording are not recorded.
    rig.feed(short_plain);
    EXPECT_EQ(rig.entries().size(), 1u);
}

TEST(Recorder, WithoutMemoryNothingIsRecorded) {
    RecorderRig rig(rec_sds, true, true);
    rig.recorder.allocate_buffer = [](size_t) -> uint8_t* { return nullptr; };
    start_recording(rig.recorder);
    EXPECT_EQ(rig.shown(ids::file_info), "Record:Out of Memory");
    rig.feed(cat({short_plain, test::dump_header(DumpFields{.samples = {1, 2}})}));
    stop_recording(rig.recorder);
    EXPECT_TRUE(rig.entries().empty());
    // Nothing was taken, so nothing was acknowledged.
    EXPECT_TRUE(rig.replies().empty());
}

TEST(Recorder, FullBufferStopsTheRecordingAndKeepsWhatFit) {
    RecorderRig rig;
    Stream huge = {0xF0, 0x01};
    huge.resize(receive_length_limit + 100, 0x11);
    huge.push_back(0xF7);
    start_recording(rig.recorder);
    rig.feed(huge);
    EXPECT_EQ(rig.state.receive_state.load(), receive_idle);
    EXPECT_EQ(rig.shown(ids::status), "Received: 8388599 bytes.");
    rig.feed(short_plain);
    const auto entries = rig.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].data.size(), size_t(receive_length_limit));
    EXPECT_TRUE(std::equal(entries[0].data.begin(), entries[0].data.end(), huge.begin()));
}

TEST(Recorder, UniversalMessageStopsARunningSendOnlyUnderTheHandshake) {
    for (bool handshake : {true, false}) {
        SCOPED_TRACE(handshake);
        RecorderRig rig(rec_sds, handshake);
        rig.state.sending = 1;
        rig.window.set_text(ids::send, "Stop Send");
        start_recording(rig.recorder);
        rig.feed(short_plain);
        EXPECT_EQ(rig.state.sending.load(), 1);  // plain SysEx leaves the send alone
        rig.feed(identity_reply);
        EXPECT_EQ(rig.state.sending.load(), handshake ? 0 : 1);
        EXPECT_EQ(rig.state.cancel_request.load(), handshake ? 1 : 0);
        EXPECT_EQ(rig.shown(ids::send), handshake ? "Send" : "Stop Send");
    }
}

TEST(Recorder, UniversalMessageLongerThanItsBufferIsNotTaken) {
    // The over-long message would be a data packet of the open dump: it is refused (NAK) and
    // nothing beyond the 128-byte buffer is written (the sanitizer build checks that).
    DumpFields d{.bits = 16, .samples = test::sweep(16, 80)};
    Stream long_packet = test::data_packet(d, 0);
    long_packet.insert(long_packet.end() - 1, 300, 0x55);
    RecorderRig rig(rec_sds, true, true);
    start_recording(rig.recorder);
    rig.feed(
        cat({test::dump_header(d), long_packet, test::data_packet(d, 0), test::data_packet(d, 1)}));
    stop_recording(rig.recorder);
    EXPECT_EQ(rig.replies(), std::vector<std::string>({"ACK 0", "NAK 0", "ACK 0", "ACK 1"}));
    ASSERT_EQ(rig.entries().size(), 1u);
    EXPECT_EQ(rig.entries()[0].data, test::whole_dump(d));
}

// The recorder behind the real input callback: what the device sends over the loopback arrives
// as input buffers; closing the input stops the recording.
TEST(Recorder, RecordsWhatArrivesAtTheInputPort) {
    RecorderRig rig;
    MidiLoopback loopback(rig.service.pacing);
    rig.record_from(loopback);
    start_recording(rig.recorder);
    Stream big = {0xF0, 0x05};
    big.resize(50000, 0x33);
    big.push_back(0xF7);
    const Stream sent = cat({short_plain, big, maker_dump});
    loopback.device_send(sent.data(), sent.size());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    EXPECT_TRUE(wait_transfer_until(rig.state, deadline, [&] {
        return rig.state.received_count.load() == static_cast<int32_t>(sent.size());
    }));
    close_midi_in(rig.ports);
    const auto entries = rig.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].data, sent);
    EXPECT_EQ(rig.shown(ids::receive), "Receive");
}

// An input whose device starts sending the moment the port starts, as a device waiting for our
// input to appear does: start() returns only once what it sent has been handed on.
class EagerInput : public MidiBackend {
  public:
    explicit EagerInput(Stream sends) : sends_(std::move(sends)) {}
    int out_count() override { return 0; }
    std::string out_name(int) override { return {}; }
    int in_count() override { return 1; }
    std::string in_name(int) override { return "eager"; }
    std::unique_ptr<MidiOutConnection> open_out(int, std::string&) override { return nullptr; }
    std::unique_ptr<MidiInConnection> open_in(int, MidiInSink& sink, std::string&) override {
        struct Connection : MidiInConnection {
            Connection(MidiInSink& sink, const Stream& sends) : sink(sink), sends(sends) {}
            std::optional<MidiError> start() override {
                sink.push(sends.data(), sends.size());
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (!sink.drained() && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::yield();
                return std::nullopt;
            }
            void stop() override {}
            MidiInSink& sink;
            const Stream& sends;
        };
        return std::make_unique<Connection>(sink, sends_);
    }

  private:
    Stream sends_;
};

// The input opens into the recording: nothing the device sends at once is taken for an answer
// and dropped before the recording has begun.
TEST(Recorder, RecordsWhatArrivesTheMomentTheInputStarts) {
    RecorderRig rig;
    EagerInput eager(maker_dump);
    rig.record_from(eager);
    start_recording(rig.recorder);
    EXPECT_EQ(rig.state.received_count.load(), static_cast<int32_t>(maker_dump.size()));
    EXPECT_EQ(rig.shown(ids::status), "Receiving...");
    close_midi_in(rig.ports);
    const auto entries = rig.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].data, maker_dump);
}

}  // namespace
}  // namespace jx
