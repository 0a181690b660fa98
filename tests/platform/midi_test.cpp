#include "platform/midi/midi.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace jx {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A backend whose ports are plain records: outputs keep what was written, inputs hand the test
// the sink to push into.
class FakeBackend : public MidiBackend {
  public:
    struct Out : MidiOutConnection {
        FakeBackend& backend;
        explicit Out(FakeBackend& b) : backend(b) { ++backend.live_outs; }
        ~Out() override { --backend.live_outs; }
        int write(const uint8_t* data, size_t length, Clock::time_point,
                  std::string& error) override {
            if (!backend.write_error.empty()) {
                error = backend.write_error;
                return midi_error;
            }
            backend.written.emplace_back(data, data + length);
            return midi_ok;
        }
    };
    struct In : MidiInConnection {
        int start(std::string&) override { return midi_ok; }
        void stop() override {}
    };

    explicit FakeBackend(std::vector<std::string> names) : names_(std::move(names)) {}
    int out_count() override {
        ++listings;
        return static_cast<int>(names_.size());
    }
    std::string out_name(int i) override { return names_[i]; }
    int in_count() override { return static_cast<int>(names_.size()); }
    std::string in_name(int i) override { return names_[i]; }
    std::unique_ptr<MidiOutConnection> open_out(int, std::string& error) override {
        ++opens;
        error = open_error;
        return open_error.empty() ? std::make_unique<Out>(*this) : nullptr;
    }
    std::unique_ptr<MidiInConnection> open_in(int, MidiInSink& s, std::string& error) override {
        sink = &s;
        error = open_error;
        return open_error.empty() ? std::make_unique<In>() : nullptr;
    }

    int opens = 0;
    int listings = 0;  // times the outputs were counted
    int live_outs = 0;
    std::vector<Bytes> written;
    std::string write_error;
    std::string open_error;  // the ports refuse to open, saying this
    MidiInSink* sink = nullptr;

  private:
    std::vector<std::string> names_;
};

TEST(MidiLayer, DeviceListsJoinTheBackendsInOrder) {
    FakeBackend first({"one", "two"}), second({"three"});
    MidiService service;
    service.backends = {&first, &second};
    EXPECT_EQ(midi_out_count(service), 3);
    EXPECT_EQ(midi_in_count(service), 3);
    EXPECT_EQ(midi_out_name(service, 2), "three");
    EXPECT_EQ(midi_in_name(service, 1), "two");
    EXPECT_EQ(midi_out_name(service, 3), "");
    MidiOut* out = nullptr;
    EXPECT_EQ(midi_out_open(service, 3, out), midi_bad_device);
    EXPECT_EQ(out, nullptr);
}

TEST(MidiLayer, RepeatedPortNamesAreNumberedInListOrder) {
    struct Case {
        std::vector<std::string> given, shown;
    };
    const Case cases[] = {
        {{"A", "B"}, {"A", "B"}},
        {{"A", "A", "B", "A"}, {"A", "A (2)", "B", "A (3)"}},
        // A port whose own name looks numbered keeps it, and no other port is shown so.
        {{"A (2)", "A", "A"}, {"A (2)", "A", "A (3)"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> names = c.given;
        number_repeated_names(names);
        EXPECT_EQ(names, c.shown);
    }
}

TEST(MidiLayer, WireTimeIsTenBitsAByteAt31250BaudOverTheTurboFactor) {
    EXPECT_EQ(wire_time(1, 10), 320us);
    EXPECT_EQ(wire_time(3125, 10), 1s);
    EXPECT_EQ(wire_time(127, 200), 2032us);
    EXPECT_EQ(wire_time(6, 33), std::chrono::nanoseconds(581818));
    EXPECT_EQ(wire_time(10, 0), wire_time(10, 10));
}

TEST(MidiLayer, LongMessageStaysPlayingUntilItHasLeftTheCable) {
    FakeBackend backend({"port"});
    MidiService service;
    service.backends = {&backend};
    std::atomic<int32_t> speed{10};
    service.pacing.turbo_speed = &speed;
    MidiOut* out = nullptr;
    ASSERT_EQ(midi_out_open(service, 0, out), midi_ok);
    Bytes a(31250, 0x11), b(3125, 0x22);  // 10 s and 1 s on the wire
    MidiHeader first{a.data(), static_cast<uint32_t>(a.size())};
    MidiHeader second{b.data(), static_cast<uint32_t>(b.size())};
    EXPECT_EQ(midi_out_long_msg(out, first), midi_unprepared);
    ASSERT_EQ(midi_out_prepare_header(out, first), midi_ok);
    ASSERT_EQ(midi_out_prepare_header(out, second), midi_ok);
    const Clock::time_point before = Clock::now();
    ASSERT_EQ(midi_out_long_msg(out, first), midi_ok);
    ASSERT_EQ(midi_out_long_msg(out, second), midi_ok);
    const Clock::time_point after = Clock::now();
    // The second message waits for the first to leave the cable.
    const Clock::time_point first_leaves = midi_out_release_time(out, first);
    EXPECT_GE(first_leaves, before + 10s);
    EXPECT_LE(first_leaves, after + 10s);
    EXPECT_EQ(midi_out_release_time(out, second), first_leaves + 1s);
    EXPECT_EQ(midi_out_unprepare_header(out, first), midi_still_playing);
    EXPECT_EQ(backend.written.size(), 2u);  // handed over at once, held by the clock only
    // A reset releases everything.
    ASSERT_EQ(midi_out_reset(out), midi_ok);
    EXPECT_EQ(midi_out_unprepare_header(out, first), midi_ok);
    EXPECT_EQ(midi_out_unprepare_header(out, second), midi_ok);
    EXPECT_EQ(first.flags & midi_header_prepared, 0u);

    // At x20 the same message takes a twentieth; with pacing off, nothing.
    speed = 200;
    ASSERT_EQ(midi_out_prepare_header(out, first), midi_ok);
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(midi_out_long_msg(out, first), midi_ok);
    EXPECT_LE(midi_out_release_time(out, first), Clock::now() + 500ms);
    EXPECT_GE(midi_out_release_time(out, first), start + 500ms);
    midi_out_reset(out);
    service.pacing.enabled = false;
    ASSERT_EQ(midi_out_prepare_header(out, first), midi_ok);
    ASSERT_EQ(midi_out_long_msg(out, first), midi_ok);
    EXPECT_EQ(midi_out_unprepare_header(out, first), midi_ok);
}

TEST(MidiLayer, ReopeningTheSameOutputKeepsItsConnection) {
    FakeBackend backend({"a", "b"});
    MidiService service;
    service.backends = {&backend};
    service.pacing.enabled = false;
    MidiOut* out = nullptr;
    MidiOut* again = nullptr;
    ASSERT_EQ(midi_out_open(service, 0, out), midi_ok);
    EXPECT_EQ(midi_out_open(service, 0, again), midi_not_ready);  // one user at a time
    ASSERT_EQ(midi_out_close(out), midi_ok);
    // A message from another thread between close and reopen still goes out.
    Bytes message = {0xF0, 0x01, 0xF7};
    MidiHeader header{message.data(), 3};
    midi_out_prepare_header(out, header);
    EXPECT_EQ(midi_out_long_msg(out, header), midi_ok);
    // The program reopens before every short reply: that lists no ports.
    const int listings = backend.listings;
    ASSERT_EQ(midi_out_open(service, 0, again), midi_ok);
    EXPECT_EQ(again, out);
    EXPECT_EQ(backend.opens, 1);
    EXPECT_EQ(backend.listings, listings);
    // Another device: the closed one gives up its connection, its handle stays safe to use.
    midi_out_close(out);
    MidiOut* other = nullptr;
    ASSERT_EQ(midi_out_open(service, 1, other), midi_ok);
    EXPECT_EQ(backend.opens, 2);
    EXPECT_EQ(backend.live_outs, 1);
    midi_out_prepare_header(out, header);
    EXPECT_EQ(midi_out_long_msg(out, header), midi_invalid_handle);
}

TEST(MidiLayer, BackendErrorsComeBackWithTheirText) {
    FakeBackend backend({"a"});
    MidiService service;
    service.backends = {&backend};
    MidiOut* out = nullptr;
    ASSERT_EQ(midi_out_open(service, 0, out), midi_ok);
    backend.write_error =
        "message of 70000 bytes is too long for the port " + std::string(200, '.');
    Bytes message = {0xF0, 0x01, 0xF7};
    MidiHeader header{message.data(), 3};
    midi_out_prepare_header(out, header);
    const int result = midi_out_long_msg(out, header);
    EXPECT_EQ(result, midi_error);
    const std::string text = midi_out_error_text(out, result, 120);
    EXPECT_EQ(text.size(), 119u);
    EXPECT_EQ(text.substr(0, 33), "message of 70000 bytes is too lon");
    EXPECT_EQ(midi_out_error_text(nullptr, midi_still_playing), "The message is still being sent.");
}

TEST(MidiLayer, WhyAnOpenFailedIsKeptUntilTheNextOpen) {
    FakeBackend backend({"a", "b"});
    MidiService service;
    service.backends = {&backend};
    MidiOut* out = nullptr;
    MidiIn* in = nullptr;
    backend.open_error = "another program holds the output";
    EXPECT_EQ(midi_out_open(service, 0, out), midi_error);
    EXPECT_EQ(midi_open_error_text(service), "another program holds the output");
    backend.open_error = "the input is gone";
    EXPECT_EQ(midi_in_open(service, 1, nullptr, nullptr, in), midi_error);
    EXPECT_EQ(midi_open_error_text(service), "the input is gone");
    // A failure the backend says nothing of leaves no stale reason behind.
    EXPECT_EQ(midi_in_open(service, 7, nullptr, nullptr, in), midi_bad_device);
    EXPECT_EQ(midi_open_error_text(service), "");
    backend.open_error.clear();
    ASSERT_EQ(midi_out_open(service, 0, out), midi_ok);
    EXPECT_EQ(midi_open_error_text(service), "");
}

// Collects what the input returns, queueing each buffer again as the program does.
struct Returned {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<MidiInMessage, Bytes>> buffers;
    bool requeue = true;
    bool closed = false;
    std::thread::id thread;  // the thread of the last buffer returned

    static void callback(MidiIn* in, MidiInMessage message, void* instance, MidiHeader* header) {
        auto& self = *static_cast<Returned*>(instance);
        std::lock_guard lock(self.mutex);
        if (message == MidiInMessage::close) self.closed = true;
        if (header) {
            self.thread = std::this_thread::get_id();
            self.buffers.emplace_back(message,
                                      Bytes(header->data, header->data + header->bytes_recorded));
            if (self.requeue) midi_in_add_buffer(in, *header);
        }
        self.changed.notify_all();
    }
    bool wait_for(size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return buffers.size() >= count; });
    }
};

struct OpenInput {
    FakeBackend backend{{"in"}};
    MidiService service;
    Returned returned;
    MidiIn* in = nullptr;
    std::vector<Bytes> data;
    std::vector<MidiHeader> headers;

    // Small buffers by default show the full-buffer rule.
    explicit OpenInput(int buffers, size_t buffer_size = 8)
        : data(buffers, Bytes(buffer_size)), headers(buffers) {
        service.backends = {&backend};
        EXPECT_EQ(midi_in_open(service, 0, Returned::callback, &returned, in), midi_ok);
        for (int i = 0; i < buffers; ++i) {
            headers[i].data = data[i].data();
            headers[i].length = static_cast<uint32_t>(buffer_size);
            midi_in_prepare_header(in, headers[i]);
            midi_in_add_buffer(in, headers[i]);
        }
        EXPECT_EQ(midi_in_start(in), midi_ok);
    }
    ~OpenInput() {
        if (in) midi_in_close(in);
    }
    void push(const Bytes& bytes) { backend.sink->push(bytes.data(), bytes.size()); }
};

TEST(MidiLayer, InputBuffersReturnAtTheEndOfASysExMessageOrWhenFull) {
    using M = MidiInMessage;
    struct Case {
        const char* what;
        std::vector<Bytes> pushes;
        std::vector<std::pair<MidiInMessage, Bytes>> returned;
    };
    const Case cases[] = {
        {"one message", {{0xF0, 0x01, 0x02, 0xF7}}, {{M::long_data, {0xF0, 0x01, 0x02, 0xF7}}}},
        {"two messages in one piece",
         {{0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7}},
         {{M::long_data, {0xF0, 0x01, 0xF7}}, {M::long_data, {0xF0, 0x02, 0xF7}}}},
        {"one message in two pieces",
         {{0xF0, 0x01}, {0x02, 0xF7}},
         {{M::long_data, {0xF0, 0x01, 0x02, 0xF7}}}},
        {"real-time byte inside",
         {{0xF0, 0x01, 0xF8, 0x02, 0xF7}},
         {{M::long_data, {0xF0, 0x01, 0x02, 0xF7}}}},
        {"channel message before",
         {{0x90, 0x40, 0x7F, 0xF0, 0x03, 0xF7}},
         {{M::long_data, {0xF0, 0x03, 0xF7}}}},
        {"cut short by a status byte",
         {{0xF0, 0x01, 0x02, 0x90, 0x40, 0xF0, 0x05, 0xF7}},
         {{M::long_error, {0xF0, 0x01, 0x02}}, {M::long_data, {0xF0, 0x05, 0xF7}}}},
        {"cut short by the next F0",
         {{0xF0, 0x01, 0xF0, 0x05, 0xF7}},
         {{M::long_error, {0xF0, 0x01}}, {M::long_data, {0xF0, 0x05, 0xF7}}}},
        {"longer than a buffer",
         {{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xF7}},
         {{M::long_data, {0xF0, 1, 2, 3, 4, 5, 6, 7}}, {M::long_data, {8, 9, 10, 0xF7}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OpenInput input(2);
        for (const Bytes& piece : c.pushes) input.push(piece);
        ASSERT_TRUE(input.returned.wait_for(c.returned.size()));
        std::lock_guard lock(input.returned.mutex);
        EXPECT_EQ(input.returned.buffers, c.returned);
    }
}

// A backend may hand over a SysEx message only at its F7, in one piece: one longer than the
// program's 8 MiB receive buffer still comes through whole, in full buffers, with nothing lost.
TEST(MidiLayer, MessageLongerThanTheReceiveBufferHandedOverAtOnceArrivesWhole) {
    for (const size_t size : {(size_t{1} << 20) + 1, (size_t{8} << 20) + 1}) {
        SCOPED_TRACE(size);
        Bytes message(size);
        for (size_t i = 0; i < size; ++i) message[i] = static_cast<uint8_t>(i % 127);
        message.front() = 0xF0;
        message.back() = 0xF7;
        OpenInput input(8, midi_in_buffer_size);
        input.push(message);
        const size_t buffers = (size + midi_in_buffer_size - 1) / midi_in_buffer_size;
        ASSERT_TRUE(input.returned.wait_for(buffers));
        std::lock_guard lock(input.returned.mutex);
        Bytes joined;
        for (const auto& [kind, bytes] : input.returned.buffers) {
            EXPECT_EQ(kind, MidiInMessage::long_data);
            joined.insert(joined.end(), bytes.begin(), bytes.end());
        }
        EXPECT_TRUE(joined == message);
        EXPECT_EQ(midi_in_lost_bytes(input.in), 0u);
    }
}

TEST(MidiLayer, MessageWithoutAQueuedBufferIsLostAndTheNextBufferSaysSo) {
    OpenInput input(1);
    input.returned.requeue = false;
    input.push({0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7});
    ASSERT_TRUE(input.returned.wait_for(1));
    ASSERT_TRUE(input.backend.sink != nullptr);
    // The second message found no buffer; wait until the input has taken it.
    const Clock::time_point deadline = Clock::now() + 10s;
    while (!input.backend.sink->drained() && Clock::now() < deadline) std::this_thread::yield();
    ASSERT_TRUE(input.backend.sink->drained());
    EXPECT_EQ(midi_in_lost_bytes(input.in), 3u);  // counted, not dropped silently
    midi_in_add_buffer(input.in, input.headers[0]);
    input.push({0xF0, 0x03, 0xF7});
    ASSERT_TRUE(input.returned.wait_for(2));
    std::lock_guard lock(input.returned.mutex);
    EXPECT_EQ(input.returned.buffers[1],
              std::make_pair(MidiInMessage::long_error, Bytes{0xF0, 0x03, 0xF7}));
}

TEST(MidiLayer, ResetAndCloseReturnEveryQueuedBufferThenTheCloseNotice) {
    OpenInput input(3);
    input.returned.requeue = false;
    input.push({0xF0, 0x01});  // a message begun
    const Clock::time_point deadline = Clock::now() + 10s;
    while (!input.backend.sink->drained() && Clock::now() < deadline) std::this_thread::yield();
    ASSERT_EQ(midi_in_reset(input.in), midi_ok);
    {
        std::lock_guard lock(input.returned.mutex);
        ASSERT_EQ(input.returned.buffers.size(), 3u);
        EXPECT_EQ(input.returned.buffers[0].second, (Bytes{0xF0, 0x01}));
        EXPECT_TRUE(input.returned.buffers[1].second.empty());
        EXPECT_FALSE(input.returned.closed);
    }
    for (MidiHeader& header : input.headers) EXPECT_EQ(header.flags & midi_header_in_queue, 0u);
    midi_in_add_buffer(input.in, input.headers[0]);
    ASSERT_EQ(midi_in_close(input.in), midi_ok);
    input.in = nullptr;
    std::lock_guard lock(input.returned.mutex);
    EXPECT_EQ(input.returned.buffers.size(), 4u);
    EXPECT_TRUE(input.returned.closed);
}

// A device's answer reaches the job that waits for it without another thread between: the job's
// wait hands over what arrives, on the job's own thread, and a push wakes it at once.
TEST(MidiLayer, AJobOnTheEngineThreadTakesWhatArrivesWhileItWaits) {
    OpenInput input(2, 16);
    EngineThread& engine = input.service.engine;
    std::atomic<bool> answered{false};
    std::thread::id job_thread;
    const auto arrived = [&] {
        std::lock_guard lock(input.returned.mutex);
        return !input.returned.buffers.empty();
    };
    ASSERT_TRUE(engine.start_job([&] {
        job_thread = std::this_thread::get_id();
        answered = engine.wait_until(Clock::now() + 10s, arrived);
    }));
    EXPECT_FALSE(engine.start_job([] {})) << "one job at a time";
    input.push({0xF0, 0x7E, 0x00, 0x7F, 0x01, 0xF7});
    engine.wait_for_job();
    EXPECT_TRUE(answered.load());
    EXPECT_EQ(input.returned.thread, job_thread);
    EXPECT_FALSE(engine.job_running());
}

}  // namespace
}  // namespace jx
