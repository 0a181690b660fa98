#include "platform/midi/midi_winmm.h"

#include <gtest/gtest.h>

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

    MidiOut* open_out() {
        MidiOut* out = nullptr;
        EXPECT_EQ(midi_out_open(*service, 0, out), midi_ok);
        return out;
    }
};

// Sends one message through the layer as the program does; the header stays in `header`.
int send(MidiOut* out, MidiHeader& header, Bytes& message) {
    header = {};
    header.data = message.data();
    header.length = static_cast<uint32_t>(message.size());
    const int result = midi_out_prepare_header(out, header);
    return result == midi_ok ? midi_out_long_msg(out, header) : result;
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
    MidiOut* out = rig.open_out();
    Bytes big = sysex(64 * 1024), small = sysex(6, 3);
    MidiHeader first, second;
    ASSERT_EQ(send(out, first, big), midi_ok);
    ASSERT_EQ(send(out, second, small), midi_ok);
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
    Bytes third = sysex(9, 5);
    MidiHeader header3;
    ASSERT_EQ(send(out, header3, third), midi_ok);
    {
        std::lock_guard lock(rig.fake.mutex);
        EXPECT_TRUE(rig.fake.written[0] == sysex(64 * 1024));
        EXPECT_EQ(rig.fake.out_prepared, 2);  // the first one's header was unprepared
    }
    rig.fake.finish(2);
    midi_out_close(out);
    rig.service.reset();
    std::lock_guard lock(rig.fake.mutex);
    EXPECT_EQ(rig.fake.out_prepared, 0);
    EXPECT_FALSE(rig.fake.out_open);
    EXPECT_TRUE(rig.fake.misuse.empty()) << rig.fake.misuse.front();
}

TEST(WinmmOut, ADriverThatHoldsOneMessageTakesTheNextOnceTheFirstIsDone) {
    Rig rig;
    rig.fake.driver_holds = 1;
    MidiOut* out = rig.open_out();
    Bytes a = sysex(100), b = sysex(200, 1);
    MidiHeader header_a, header_b;
    ASSERT_EQ(send(out, header_a, a), midi_ok);
    // The driver finishes the first message only once it has refused the second.
    std::thread driver([&] {
        if (rig.fake.wait([&] { return rig.fake.not_ready_answers > 0; })) rig.fake.finish(1);
    });
    EXPECT_EQ(send(out, header_b, b), midi_ok);
    driver.join();
    std::lock_guard lock(rig.fake.mutex);
    EXPECT_EQ(rig.fake.written, (std::vector<Bytes>{a, b}));
    EXPECT_EQ(rig.fake.out_prepared, 1);
    EXPECT_TRUE(rig.fake.misuse.empty()) << rig.fake.misuse.front();
}

TEST(WinmmOut, ADriverThatFinishesNothingEndsTheSendWithTheReason) {
    Rig rig(100ms);
    MidiOut* out = rig.open_out();
    std::vector<Bytes> messages(8, sysex(6));
    std::vector<MidiHeader> headers(messages.size());
    int result = midi_ok;
    size_t sent = 0;
    for (; sent < messages.size() && result == midi_ok; ++sent)
        result = send(out, headers[sent], messages[sent]);
    EXPECT_EQ(result, midi_error);
    EXPECT_LT(sent, messages.size());  // it stopped at the first message that found no room
    EXPECT_EQ(midi_out_error_text(out, result, 200),
              "The MIDI port Out stopped taking data (6-byte message).");
    // A reset takes everything back from the driver; the port works again.
    EXPECT_EQ(midi_out_reset(out), midi_ok);
    Bytes next = sysex(6);
    MidiHeader header;
    EXPECT_EQ(send(out, header, next), midi_ok);
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
        int code;
        std::string text;  // how the text starts; the service's own text follows
    };
    const Case cases[] = {
        {"device taken", &FakeWinmm::open_result, MMSYSERR_ALLOCATED, midi_error,
         "Could not open the MIDI output Out: "},
        {"driver gone at open", &FakeWinmm::open_result, MMSYSERR_NODRIVER, midi_error,
         "Could not open the MIDI output Out: the MIDI port is gone ("},
        {"no memory for the header", &FakeWinmm::prepare_result, MMSYSERR_NOMEM, midi_no_memory,
         "Sending to Out failed (6-byte message): "},
        {"driver gone while sending", &FakeWinmm::long_msg_result, MMSYSERR_NODRIVER, midi_error,
         "Sending to Out failed (6-byte message): the MIDI port is gone ("},
        {"message refused", &FakeWinmm::long_msg_result, MMSYSERR_INVALPARAM, midi_error,
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
            EXPECT_EQ(connection->write(message.data(), message.size(), {}, error), c.code);
        } else {
            EXPECT_EQ(c.code, midi_error);
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
    MidiOut* out = rig.open_out();
    Bytes message = sysex(6);
    MidiHeader header;
    ASSERT_EQ(send(out, header, message), midi_error);
    EXPECT_EQ(midi_out_error_text(out, midi_error, 400),
              "Sending to Out failed (6-byte message): the MIDI port is gone (" +
                  fake_text(MMSYSERR_NODRIVER) + ").");
}

// What the program's input callback was given.
struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    Bytes bytes;
    int closes = 0;

    static void callback(MidiIn* in, MidiInMessage message, void* instance, MidiHeader* header) {
        auto& self = *static_cast<Received*>(instance);
        std::lock_guard lock(self.mutex);
        if (message == MidiInMessage::close) ++self.closes;
        if (header) {
            self.bytes.insert(self.bytes.end(), header->data,
                              header->data + header->bytes_recorded);
            if (self.closes == 0) midi_in_add_buffer(in, *header);
        }
        self.changed.notify_all();
    }
    bool wait_for_bytes(size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return bytes.size() >= count; });
    }
};

// The program's side of an input: its buffers queued through the layer and started.
struct ProgramInput {
    Received received;
    std::vector<Bytes> buffers = std::vector<Bytes>(4, Bytes(midi_in_buffer_size));
    std::vector<MidiHeader> headers = std::vector<MidiHeader>(4);
    MidiIn* in = nullptr;

    int open(MidiService& service) {
        int result = midi_in_open(service, 0, &Received::callback, &received, in);
        if (result != midi_ok) return result;
        for (size_t i = 0; i < headers.size(); ++i) {
            headers[i].data = buffers[i].data();
            headers[i].length = static_cast<uint32_t>(buffers[i].size());
            midi_in_prepare_header(in, headers[i]);
            midi_in_add_buffer(in, headers[i]);
        }
        return midi_in_start(in);
    }
};

TEST(WinmmIn, BytesReachTheProgramInOrderWhileTheBuffersGoBackToTheDriver) {
    Rig rig;
    ProgramInput input;
    ASSERT_EQ(input.open(*rig.service), midi_ok);
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
    EXPECT_EQ(midi_in_lost_bytes(input.in), 0u);
    EXPECT_GT(rig.fake.in_returned, WinmmBackend::in_buffer_count);
    ASSERT_EQ(midi_in_close(input.in), midi_ok);
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
        ASSERT_EQ(input.open(*rig.service), midi_ok);
        // A message begun: its bytes sit in the driver's buffer when the input ends.
        const Bytes begun = {0xF0, 0x01, 0x02, 0x03};
        ASSERT_TRUE(rig.fake.feed(begun));
        if (stop_first) {
            ASSERT_EQ(midi_in_stop(input.in), midi_ok);
            ASSERT_EQ(midi_in_reset(input.in), midi_ok);
        }
        ASSERT_EQ(midi_in_close(input.in), midi_ok);
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
    ASSERT_EQ(input.open(*rig.service), midi_ok);
    ASSERT_EQ(midi_in_stop(input.in), midi_ok);
    {
        std::lock_guard lock(rig.fake.mutex);
        EXPECT_TRUE(rig.fake.queued.empty());  // a stopped input keeps no buffer at the driver
    }
    ASSERT_EQ(midi_in_start(input.in), midi_ok);
    const Bytes message = sysex(20);
    ASSERT_TRUE(rig.fake.feed(message));
    ASSERT_TRUE(input.received.wait_for_bytes(message.size()));
    ASSERT_EQ(midi_in_close(input.in), midi_ok);
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
        MidiIn in(nullptr, nullptr, engine);
        std::string error;
        auto connection = backend.open_in(0, in.sink, error);
        if (connection) {
            EXPECT_NE(connection->start(error), midi_ok);
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
