#include "platform/midi/midi_winmm.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <span>
#include <thread>

#include "fake_winmm.h"
#include "platform/midi/midi.h"

namespace jx {
namespace {

using test::FakeWinmm;
using Bytes = FakeWinmm::Bytes;
using namespace std::chrono_literals;

// A SysEx message of `size` bytes whose data bytes follow a pattern.
Bytes sysex(size_t size, uint8_t seed = 0) {
    Bytes message(size);
    for (size_t i = 0; i < size; ++i) message[i] = static_cast<uint8_t>((i + seed) % 127);
    message.front() = 0xF0;
    message.back() = 0xF7;
    return message;
}

// The port layer over the winmm backend over the fake, without wire pacing.
struct Rig {
    FakeWinmm fake;
    std::unique_ptr<WinmmBackend> backend;
    // Ends before the backend: its handles hold the backend's connections.
    std::unique_ptr<MidiService> service = std::make_unique<MidiService>();

    explicit Rig(std::chrono::milliseconds stall_limit = 2s) {
        fake.outs = {L"Out"};
        fake.ins = {L"In"};
        backend = std::make_unique<WinmmBackend>(fake, stall_limit);
        service->backends = {backend.get()};
        service->pacing.enabled = false;
    }

    MidiOutput* open_out() {
        MidiOutput* out = nullptr;
        EXPECT_FALSE(open_output(*service, midi_output_at(*service, 0), out));
        return out;
    }
};

// Sends one message through the layer as the program does.
MidiSent send(MidiOutput* out, const Bytes& message) {
    return out->send(message.data(), message.size());
}

TEST(WinmmPorts, NamesAreUtf8AndRepeatedNamesAreNumbered) {
    FakeWinmm fake;
    fake.outs = {L"USB MIDI", L"Synth\u00e9 \u00c5", L"USB MIDI", L"Gone", L"USB MIDI"};
    fake.ins = {L"In A", L"In A"};
    fake.caps_fail = {3};
    WinmmBackend backend(fake);
    ASSERT_EQ(backend.out_count(), 4);
    EXPECT_EQ(backend.out_name(0), "USB MIDI");
    EXPECT_EQ(backend.out_name(1), "Synth\xc3\xa9 \xc3\x85");
    EXPECT_EQ(backend.out_name(2), "USB MIDI (2)");
    EXPECT_EQ(backend.out_name(3), "USB MIDI (3)");
    EXPECT_EQ(backend.out_name(4), "");
    // The device left out is never opened in place of another: index 3 is winmm's device 4.
    EXPECT_EQ(backend.devices(true)[3].id, 4u);
    ASSERT_EQ(backend.in_count(), 2);
    EXPECT_EQ(backend.in_name(1), "In A (2)");
    EXPECT_EQ(backend.api_name(), "Windows");
}

TEST(WinmmOut, LongMessagesGoWholeInOneHeaderEachAndAreUnpreparedOnceDone) {
    Rig rig;
    MidiOutput* out = rig.open_out();
    Bytes big = sysex(64 * 1024), small = sysex(6, 3);
    ASSERT_TRUE(send(out, big).ok());
    ASSERT_TRUE(send(out, small).ok());
    {
        std::lock_guard lock(rig.fake.mutex);
        ASSERT_EQ(rig.fake.written.size(), 2u);
        EXPECT_TRUE(rig.fake.written[0] == big);
        EXPECT_EQ(rig.fake.written[1], small);
        EXPECT_EQ(rig.fake.out_prepared, 2);  // both still with the driver
    }
    // The caller's buffer may be reused at once: the driver has a copy of its own.
    std::fill(big.begin(), big.end(), 0);
    rig.fake.finish(1);
    ASSERT_TRUE(send(out, sysex(9, 5)).ok());
    {
        std::lock_guard lock(rig.fake.mutex);
        EXPECT_TRUE(rig.fake.written[0] == sysex(64 * 1024));
        EXPECT_EQ(rig.fake.out_prepared, 2);  // the first one's header was unprepared
    }
    rig.fake.finish(2);
    out->close();
    rig.service.reset();
    std::lock_guard lock(rig.fake.mutex);
    EXPECT_EQ(rig.fake.out_prepared, 0);
    EXPECT_FALSE(rig.fake.out_open);
    EXPECT_TRUE(rig.fake.misuse.empty()) << rig.fake.misuse.front();
}

TEST(WinmmOut, ADriverThatHoldsOneMessageTakesTheNextOnceTheFirstIsDone) {
    Rig rig;
    rig.fake.driver_holds = 1;
    MidiOutput* out = rig.open_out();
    Bytes a = sysex(100), b = sysex(200, 1);
    ASSERT_TRUE(send(out, a).ok());
    // The driver finishes the first message only once it has refused the second.
    std::thread driver([&] {
        if (rig.fake.wait([&] { return rig.fake.not_ready_answers > 0; })) rig.fake.finish(1);
    });
    EXPECT_TRUE(send(out, b).ok());
    driver.join();
    std::lock_guard lock(rig.fake.mutex);
    EXPECT_EQ(rig.fake.written, (std::vector<Bytes>{a, b}));
    EXPECT_EQ(rig.fake.out_prepared, 1);
    EXPECT_TRUE(rig.fake.misuse.empty()) << rig.fake.misuse.front();
}

TEST(WinmmOut, ADriverThatFinishesNothingEndsTheSendWithTheReason) {
    Rig rig(100ms);
    MidiOutput* out = rig.open_out();
    const size_t messages = 8;
    MidiSent result;
    size_t sent = 0;
    for (; sent < messages && result.ok(); ++sent) result = send(out, sysex(6));
    ASSERT_FALSE(result.ok());
    EXPECT_LT(sent, messages);  // it stopped at the first message that found no room
    EXPECT_EQ(*result.error,
              (MidiError{MidiErrorKind::server_down,
                         "The MIDI port Out stopped taking data (6-byte message)."}));
    // A reset takes everything back from the driver; the port works again.
    out->reset();
    EXPECT_TRUE(send(out, sysex(6)).ok());
    rig.fake.finish(1);
}

// The service's text for a result, as the fake words it.
std::string fake_text(MMRESULT result) {
    std::string text;
    for (wchar_t ch : FakeWinmm::text_of(result)) text += static_cast<char>(ch);
    return text;
}

TEST(WinmmOut, FailuresGiveTheServiceTextAndTheLayerCode) {
    struct Case {
        const char* what;
        MMRESULT FakeWinmm::*call;
        MMRESULT result;
        MidiErrorKind kind;  // of a message refused
        std::string text;    // how the text starts; the service's own text follows
    };
    const Case cases[] = {
        {"device taken", &FakeWinmm::open_result, MMSYSERR_ALLOCATED, MidiErrorKind::refused,
         "Could not open the MIDI output Out: "},
        {"driver gone at open", &FakeWinmm::open_result, MMSYSERR_NODRIVER, MidiErrorKind::refused,
         "Could not open the MIDI output Out: the MIDI port is gone ("},
        {"no memory for the header", &FakeWinmm::prepare_result, MMSYSERR_NOMEM,
         MidiErrorKind::failed, "Sending to Out failed (6-byte message): "},
        {"driver gone while sending", &FakeWinmm::long_msg_result, MMSYSERR_NODRIVER,
         MidiErrorKind::gone, "Sending to Out failed (6-byte message): the MIDI port is gone ("},
        {"message refused", &FakeWinmm::long_msg_result, MMSYSERR_INVALPARAM, MidiErrorKind::failed,
         "Sending to Out failed (6-byte message): "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.fake.*c.call = c.result;
        std::string error;
        auto connection = rig.backend->open_out(0, error);
        if (connection) {
            const Bytes message = sysex(6);
            const auto refused = connection->write(message.data(), message.size(), {});
            ASSERT_TRUE(refused);
            EXPECT_EQ(refused->kind, c.kind);
            error = refused->text;
        } else {
            EXPECT_EQ(c.kind, MidiErrorKind::refused);
        }
        EXPECT_EQ(error.substr(0, c.text.size()), c.text);
        EXPECT_NE(error.find(fake_text(c.result)), std::string::npos) << error;
        connection.reset();
        // Nothing stays with the driver after a refusal.
        std::lock_guard lock(rig.fake.mutex);
        EXPECT_EQ(rig.fake.out_prepared, 0);
        EXPECT_FALSE(rig.fake.out_open);
    }
    // Through the port layer, a refused message is the send's error with the same text.
    Rig rig;
    rig.fake.long_msg_result = MMSYSERR_NODRIVER;
    MidiOutput* out = rig.open_out();
    const MidiSent refused = send(out, sysex(6));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(midi_error_text(*refused.error, 400),
              "Sending to Out failed (6-byte message): the MIDI port is gone (" +
                  fake_text(MMSYSERR_NODRIVER) + ").");
}

// What the program's input handed over.
struct Received final : MidiConsumer {
    std::mutex mutex;
    std::condition_variable changed;
    Bytes bytes;
    int closes = 0;

    void take(std::span<const SysexPiece> pieces) override {
        std::lock_guard lock(mutex);
        for (const SysexPiece& piece : pieces)
            if (piece.bytes) bytes.insert(bytes.end(), piece.bytes, piece.bytes + piece.size);
        changed.notify_all();
    }
    void closed() override {
        std::lock_guard lock(mutex);
        ++closes;
    }
    bool wait_for_bytes(size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return bytes.size() >= count; });
    }
};

// The program's side of an input, opened through the layer and started.
struct ProgramInput {
    Received received;
    std::unique_ptr<MidiInput> in;

    bool open(MidiService& service) {
        if (open_input(service, midi_input_at(service, 0), &received, in)) return false;
        return !in->start();
    }
};

TEST(WinmmIn, BytesReachTheProgramInOrderWhileTheBuffersGoBackToTheDriver) {
    Rig rig;
    ProgramInput input;
    ASSERT_TRUE(input.open(*rig.service));
    // More than the driver's buffers hold at once: they must come back to it on the way; one
    // message longer than a buffer comes back full, then at its F7.
    Bytes stream;
    for (const Bytes& message : {sysex(6), sysex(40000, 1), sysex(16384, 2), sysex(2)})
        stream.insert(stream.end(), message.begin(), message.end());
    for (int i = 0; i < 30; ++i) {
        const Bytes message = sysex(3000, static_cast<uint8_t>(i));
        stream.insert(stream.end(), message.begin(), message.end());
    }
    ASSERT_TRUE(rig.fake.feed(stream));
    ASSERT_TRUE(input.received.wait_for_bytes(stream.size()));
    {
        std::lock_guard lock(input.received.mutex);
        EXPECT_TRUE(input.received.bytes == stream);
    }
    EXPECT_EQ(input.in->lost_bytes(), 0u);
    EXPECT_GT(rig.fake.in_returned, WinmmBackend::in_buffer_count);
    input.in.reset();
    std::lock_guard lock(rig.fake.mutex);
    EXPECT_FALSE(rig.fake.in_open);
    EXPECT_EQ(rig.fake.in_prepared, 0);
    EXPECT_TRUE(rig.fake.misuse.empty()) << rig.fake.misuse.front();
}

TEST(WinmmIn, StopResetAndCloseWithBuffersQueuedHandOverWhatArrivedFirst) {
    for (const bool stop_first : {true, false}) {
        SCOPED_TRACE(stop_first ? "stop, then close" : "close while running");
        Rig rig;
        ProgramInput input;
        ASSERT_TRUE(input.open(*rig.service));
        // A message begun: its bytes sit in the driver's buffer when the input ends.
        const Bytes begun = {0xF0, 0x01, 0x02, 0x03};
        ASSERT_TRUE(rig.fake.feed(begun));
        if (stop_first) input.in->stop();
        input.in.reset();
        {
            std::lock_guard lock(input.received.mutex);
            EXPECT_EQ(input.received.bytes, begun);
            EXPECT_EQ(input.received.closes, 1);
        }
        std::lock_guard lock(rig.fake.mutex);
        EXPECT_TRUE(rig.fake.queued.empty());
        EXPECT_FALSE(rig.fake.in_open);
        EXPECT_EQ(rig.fake.in_prepared, 0);
        EXPECT_TRUE(rig.fake.misuse.empty()) << rig.fake.misuse.front();
    }
}

TEST(WinmmIn, StartingAgainAfterAStopQueuesTheBuffersAgain) {
    Rig rig;
    ProgramInput input;
    ASSERT_TRUE(input.open(*rig.service));
    input.in->stop();
    {
        std::lock_guard lock(rig.fake.mutex);
        EXPECT_TRUE(rig.fake.queued.empty());  // a stopped input keeps no buffer at the driver
    }
    ASSERT_FALSE(input.in->start());
    const Bytes message = sysex(20);
    ASSERT_TRUE(rig.fake.feed(message));
    ASSERT_TRUE(input.received.wait_for_bytes(message.size()));
    input.in.reset();
    std::lock_guard lock(input.received.mutex);
    EXPECT_EQ(input.received.bytes, message);
}

TEST(WinmmIn, FailuresToOpenOrStartSayWhyAndLeaveNothingBehind) {
    struct Case {
        const char* what;
        MMRESULT FakeWinmm::*call;
        MMRESULT result;
        std::string text;
    };
    const Case cases[] = {
        {"driver gone", &FakeWinmm::in_open_result, MMSYSERR_NODRIVER,
         "Could not open the MIDI input In: the MIDI port is gone ("},
        {"device taken", &FakeWinmm::in_open_result, MMSYSERR_ALLOCATED,
         "Could not open the MIDI input In: "},
        {"start refused", &FakeWinmm::in_start_result, MMSYSERR_ERROR,
         "Could not start the MIDI input In: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeWinmm fake;
        fake.ins = {L"In"};
        fake.*c.call = c.result;
        WinmmBackend backend(fake);
        EngineThread engine;
        MidiInput in(nullptr, engine);
        std::string error;
        auto connection = backend.open_in(0, in.sink, error);
        if (connection) {
            const auto refused = connection->start();
            ASSERT_TRUE(refused);
            error = refused->text;
            connection.reset();
        }
        EXPECT_EQ(error.substr(0, c.text.size()), c.text);
        EXPECT_NE(error.find(fake_text(c.result)), std::string::npos) << error;
        std::lock_guard lock(fake.mutex);
        EXPECT_FALSE(fake.in_open);
        EXPECT_TRUE(fake.queued.empty());
        EXPECT_EQ(fake.in_prepared, 0);
        EXPECT_TRUE(fake.misuse.empty()) << fake.misuse.front();
    }
}

}  // namespace
}  // namespace jx
