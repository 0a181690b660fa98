#include "platform/midi/midi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <span>
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
        std::optional<MidiError> write(const uint8_t* data, size_t length,
                                       Clock::time_point) override {
            if (backend.write_error) return backend.write_error;
            backend.written.emplace_back(data, data + length);
            return std::nullopt;
        }
    };
    struct In : MidiInConnection {
        std::optional<MidiError> start() override { return std::nullopt; }
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
    std::optional<MidiError> write_error;
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
    EXPECT_EQ(midi_outputs(service),
              (std::vector<MidiPort>{{&first, "one"}, {&first, "two"}, {&second, "three"}}));
    EXPECT_EQ(midi_input_at(service, 2), (MidiPort{&second, "three"}));
    MidiOutput* out = nullptr;
    const auto error = open_output(service, midi_output_at(service, 3), out);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, MidiErrorKind::no_port);
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

// A port is found by its name, wherever it stands in the list now: a list that changed between
// the listing and the open opens the port chosen, or says it is gone.
TEST(MidiLayer, PortsOpenByNameNotByWhereTheyStood) {
    FakeBackend backend({"a", "b"});
    MidiService service;
    service.backends = {&backend};
    service.pacing.enabled = false;
    const MidiPort b = midi_output_at(service, 1);
    backend = FakeBackend({"b"});
    MidiOutput* out = nullptr;
    ASSERT_FALSE(open_output(service, b, out));
    EXPECT_EQ(out->port(), b);
    backend = FakeBackend({"c"});
    std::unique_ptr<MidiInput> in;
    const auto error = open_input(service, b, nullptr, in);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, MidiErrorKind::no_port);
}

TEST(MidiLayer, WireTimeIsTenBitsAByteAt31250BaudOverTheTurboFactor) {
    EXPECT_EQ(wire_time(1, 10), 320us);
    EXPECT_EQ(wire_time(3125, 10), 1s);
    EXPECT_EQ(wire_time(127, 200), 2032us);
    EXPECT_EQ(wire_time(6, 33), std::chrono::nanoseconds(581818));
    EXPECT_EQ(wire_time(10, 0), wire_time(10, 10));
}

TEST(MidiLayer, AMessageLeavesTheCableItsWireTimeAfterTheOneBefore) {
    FakeBackend backend({"port"});
    MidiService service;
    service.backends = {&backend};
    std::atomic<int32_t> speed{10};
    service.pacing.turbo_speed = &speed;
    MidiOutput* out = nullptr;
    ASSERT_FALSE(open_output(service, midi_output_at(service, 0), out));
    Bytes a(31250, 0x11), b(3125, 0x22);  // 10 s and 1 s on the wire
    const Clock::time_point before = Clock::now();
    const MidiSent first = out->send(a.data(), a.size());
    const MidiSent second = out->send(b.data(), b.size());
    const Clock::time_point after = Clock::now();
    ASSERT_TRUE(first.ok() && second.ok());
    // The second message waits for the first to leave the cable.
    EXPECT_GE(first.leaves_wire, before + 10s);
    EXPECT_LE(first.leaves_wire, after + 10s);
    EXPECT_EQ(second.leaves_wire, first.leaves_wire + 1s);
    EXPECT_FALSE(out->left_cable(first));
    EXPECT_EQ(backend.written.size(), 2u);  // handed over at once, held by the clock only
    // A reset releases everything, and the cable is free at once.
    out->reset();
    EXPECT_TRUE(out->left_cable(first));
    EXPECT_TRUE(out->left_cable(second));

    // At x20 the same message takes a twentieth; with pacing off, nothing.
    speed = 200;
    const Clock::time_point start = Clock::now();
    const MidiSent fast = out->send(a.data(), a.size());
    EXPECT_LE(fast.leaves_wire, Clock::now() + 500ms);
    EXPECT_GE(fast.leaves_wire, start + 500ms);
    out->reset();
    service.pacing.enabled = false;
    EXPECT_TRUE(out->left_cable(out->send(a.data(), a.size())));
    // Nothing is no message.
    const MidiSent empty = out->send(a.data(), 0);
    ASSERT_FALSE(empty.ok());
    EXPECT_EQ(empty.error->kind, MidiErrorKind::too_long);
}

TEST(MidiLayer, ReopeningTheSameOutputKeepsItsConnection) {
    FakeBackend backend({"a", "b"});
    MidiService service;
    service.backends = {&backend};
    service.pacing.enabled = false;
    MidiOutput* out = nullptr;
    MidiOutput* again = nullptr;
    ASSERT_FALSE(open_output(service, midi_output_at(service, 0), out));
    const auto busy = open_output(service, midi_output_at(service, 0), again);
    ASSERT_TRUE(busy);  // one user at a time
    EXPECT_EQ(busy->kind, MidiErrorKind::busy);
    out->close();
    // A message from another thread between close and reopen still goes out.
    Bytes message = {0xF0, 0x01, 0xF7};
    EXPECT_TRUE(out->send(message.data(), message.size()).ok());
    // The program reopens before every short reply: that lists no ports.
    const int listings = backend.listings;
    ASSERT_FALSE(open_output(service, midi_output_at(service, 0), again));
    EXPECT_EQ(again, out);
    EXPECT_EQ(backend.opens, 1);
    EXPECT_EQ(backend.listings, listings + 1);  // the one listing of midi_output_at above
    // Another device: the closed one gives up its connection, its handle stays safe to use.
    out->close();
    MidiOutput* other = nullptr;
    ASSERT_FALSE(open_output(service, midi_output_at(service, 1), other));
    EXPECT_EQ(backend.opens, 2);
    EXPECT_EQ(backend.live_outs, 1);
    const MidiSent sent = out->send(message.data(), message.size());
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error->kind, MidiErrorKind::not_open);
}

TEST(MidiLayer, BackendErrorsComeBackWithTheirKindAndText) {
    FakeBackend backend({"a"});
    MidiService service;
    service.backends = {&backend};
    MidiOutput* out = nullptr;
    ASSERT_FALSE(open_output(service, midi_output_at(service, 0), out));
    backend.write_error =
        MidiError{MidiErrorKind::too_long,
                  "message of 70000 bytes is too long for the port " + std::string(200, '.')};
    Bytes message = {0xF0, 0x01, 0xF7};
    const MidiSent sent = out->send(message.data(), message.size());
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error->kind, MidiErrorKind::too_long);
    const std::string text = midi_error_text(*sent.error, 120);
    EXPECT_EQ(text.size(), 119u);
    EXPECT_EQ(text.substr(0, 33), "message of 70000 bytes is too lon");
    // The layer's own words where the backend said nothing.
    EXPECT_EQ(midi_error_text({MidiErrorKind::gone, ""}), "The MIDI port failed.");
    EXPECT_EQ(midi_error_text({MidiErrorKind::not_open, ""}), "The MIDI port is not open.");
}

TEST(MidiLayer, WhyAnOpenFailedIsKeptUntilTheNextOpen) {
    FakeBackend backend({"a", "b"});
    MidiService service;
    service.backends = {&backend};
    MidiOutput* out = nullptr;
    std::unique_ptr<MidiInput> in;
    backend.open_error = "another program holds the output";
    const auto refused = open_output(service, midi_output_at(service, 0), out);
    ASSERT_TRUE(refused);
    EXPECT_EQ(*refused, (MidiError{MidiErrorKind::refused, "another program holds the output"}));
    EXPECT_EQ(midi_open_error_text(service), "another program holds the output");
    backend.open_error = "the input is gone";
    EXPECT_TRUE(open_input(service, midi_input_at(service, 1), nullptr, in));
    EXPECT_EQ(midi_open_error_text(service), "the input is gone");
    // A failure the backend says nothing of leaves no stale reason behind.
    EXPECT_TRUE(open_input(service, midi_input_at(service, 7), nullptr, in));
    EXPECT_EQ(midi_open_error_text(service), "");
    backend.open_error.clear();
    ASSERT_FALSE(open_output(service, midi_output_at(service, 0), out));
    EXPECT_EQ(midi_open_error_text(service), "");
}

// What an input hands over, put back together: each message's bytes and how it ended.
struct Collector final : MidiConsumer {
    struct Message {
        Bytes bytes;
        bool complete = false;  // ended by its F7; else cut short, or not ended yet
        bool operator==(const Message&) const = default;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Message> messages;
    uint64_t lost = 0;
    size_t calls = 0;
    bool closed_seen = false;
    std::thread::id thread;  // the thread of the last hand-over

    void take(std::span<const SysexPiece> pieces) override {
        std::lock_guard lock(mutex);
        ++calls;
        thread = std::this_thread::get_id();
        for (const SysexPiece& piece : pieces) {
            switch (piece.kind) {
                case SysexPiece::start:
                    messages.push_back({{0xF0}, false});
                    break;
                case SysexPiece::data:
                    messages.back().bytes.insert(messages.back().bytes.end(), piece.bytes,
                                                 piece.bytes + piece.size);
                    break;
                case SysexPiece::end:
                    messages.back().bytes.push_back(0xF7);
                    messages.back().complete = true;
                    break;
                case SysexPiece::cut:
                    break;
                case SysexPiece::lost:
                    lost += piece.size;
                    break;
            }
        }
        changed.notify_all();
    }
    void closed() override {
        std::lock_guard lock(mutex);
        closed_seen = true;
    }
    template <typename Done>
    bool wait_for(Done done) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, done);
    }
    bool wait_for_complete(size_t count) {
        return wait_for([&] {
            return std::count_if(messages.begin(), messages.end(), [](const Message& m) {
                       return m.complete;
                   }) >= static_cast<ptrdiff_t>(count);
        });
    }
};

struct OpenInput {
    FakeBackend backend{{"in"}};
    MidiService service;
    Collector collector;
    std::unique_ptr<MidiInput> in;

    OpenInput() {
        service.backends = {&backend};
        EXPECT_FALSE(open_input(service, midi_input_at(service, 0), &collector, in));
        EXPECT_FALSE(in->start());
    }
    void push(const Bytes& bytes) { backend.sink->push(bytes.data(), bytes.size()); }
    void wait_drained() {
        const Clock::time_point deadline = Clock::now() + 10s;
        while (!backend.sink->drained() && Clock::now() < deadline) std::this_thread::yield();
        ASSERT_TRUE(backend.sink->drained());
    }
};

TEST(MidiLayer, AnInputHandsOverEachSysExMessageFramedOnce) {
    using M = Collector::Message;
    struct Case {
        const char* what;
        std::vector<Bytes> pushes;
        std::vector<M> messages;
    };
    const Case cases[] = {
        {"one message", {{0xF0, 0x01, 0x02, 0xF7}}, {{{0xF0, 0x01, 0x02, 0xF7}, true}}},
        {"two messages in one piece",
         {{0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7}},
         {{{0xF0, 0x01, 0xF7}, true}, {{0xF0, 0x02, 0xF7}, true}}},
        {"one message in three pieces",
         {{0xF0, 0x01}, {0x02}, {0x03, 0xF7}},
         {{{0xF0, 0x01, 0x02, 0x03, 0xF7}, true}}},
        {"real-time byte inside",
         {{0xF0, 0x01, 0xF8, 0x02, 0xF7}},
         {{{0xF0, 0x01, 0x02, 0xF7}, true}}},
        {"channel message before",
         {{0x90, 0x40, 0x7F, 0xF0, 0x03, 0xF7}},
         {{{0xF0, 0x03, 0xF7}, true}}},
        {"cut short by a status byte",
         {{0xF0, 0x01, 0x02, 0x90, 0x40, 0xF0, 0x05, 0xF7}},
         {{{0xF0, 0x01, 0x02}, false}, {{0xF0, 0x05, 0xF7}, true}}},
        {"cut short by the next F0",
         {{0xF0, 0x01, 0xF0, 0x05, 0xF7}},
         {{{0xF0, 0x01}, false}, {{0xF0, 0x05, 0xF7}, true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OpenInput input;
        size_t bytes = 0;
        for (const Bytes& piece : c.pushes) input.push(piece);
        for (const M& m : c.messages) bytes += m.bytes.size();
        ASSERT_TRUE(input.collector.wait_for_complete(1));
        input.wait_drained();
        std::lock_guard lock(input.collector.mutex);
        EXPECT_EQ(input.collector.messages, c.messages);
        EXPECT_EQ(input.in->sysex_bytes(), bytes);
        EXPECT_EQ(input.in->lost_bytes(), 0u);
    }
}

// A backend may hand over a SysEx message only at its F7, in one piece: one longer than the
// program's 8 MiB receive buffer still comes through whole, with nothing lost.
TEST(MidiLayer, MessageLongerThanTheReceiveBufferHandedOverAtOnceArrivesWhole) {
    for (const size_t size : {(size_t{1} << 20) + 1, (size_t{8} << 20) + 1}) {
        SCOPED_TRACE(size);
        Bytes message(size);
        for (size_t i = 0; i < size; ++i) message[i] = static_cast<uint8_t>(i % 127);
        message.front() = 0xF0;
        message.back() = 0xF7;
        OpenInput input;
        input.push(message);
        ASSERT_TRUE(input.collector.wait_for_complete(1));
        std::lock_guard lock(input.collector.mutex);
        ASSERT_EQ(input.collector.messages.size(), 1u);
        EXPECT_TRUE(input.collector.messages[0].bytes == message);
        EXPECT_EQ(input.in->lost_bytes(), 0u);
    }
}

// What the server threw away is said, once, and framing goes on with what comes after.
TEST(MidiLayer, BytesLostOnTheWayAreHandedOverAsALoss) {
    OpenInput input;
    input.backend.sink->mark_lost();
    input.push({0xF0, 0x03, 0xF7});
    ASSERT_TRUE(input.collector.wait_for_complete(1));
    input.wait_drained();
    std::lock_guard lock(input.collector.mutex);
    EXPECT_EQ(input.collector.lost, 1u);
    EXPECT_EQ(input.in->lost_bytes(), 1u);
    EXPECT_EQ(input.collector.messages,
              (std::vector<Collector::Message>{{{0xF0, 0x03, 0xF7}, true}}));
}

// Closing an input hands over what arrived before, cuts a message it was in, and then tells the
// consumer; nothing comes after.
TEST(MidiLayer, ClosingHandsOverWhatArrivedCutsTheMessageAndSaysSo) {
    OpenInput input;
    input.push({0xF0, 0x01, 0xF7, 0xF0, 0x02, 0x03});  // a message begun
    input.in.reset();
    std::lock_guard lock(input.collector.mutex);
    EXPECT_EQ(
        input.collector.messages,
        (std::vector<Collector::Message>{{{0xF0, 0x01, 0xF7}, true}, {{0xF0, 0x02, 0x03}, false}}));
    EXPECT_TRUE(input.collector.closed_seen);
}

// Many short messages arrive in few hand-overs: a consumer that locks does so once a batch.
TEST(MidiLayer, PiecesAreHandedOverInBatches) {
    OpenInput input;
    Bytes burst;
    for (int i = 0; i < 1000; ++i) burst.insert(burst.end(), {0xF0, 0x01, 0xF7});
    input.push(burst);
    ASSERT_TRUE(input.collector.wait_for_complete(1000));
    std::lock_guard lock(input.collector.mutex);
    EXPECT_LE(input.collector.calls, 3000u / 256 + 2);
}

// A device's answer reaches the job that waits for it without another thread between: the job's
// wait hands over what arrives, on the job's own thread, and a push wakes it at once.
TEST(MidiLayer, AJobOnTheEngineThreadTakesWhatArrivesWhileItWaits) {
    OpenInput input;
    EngineThread& engine = input.service.engine;
    std::atomic<bool> answered{false};
    std::thread::id job_thread;
    const auto arrived = [&] {
        std::lock_guard lock(input.collector.mutex);
        return !input.collector.messages.empty() && input.collector.messages[0].complete;
    };
    ASSERT_TRUE(engine.start_job([&] {
        job_thread = std::this_thread::get_id();
        answered = engine.wait_until(Clock::now() + 10s, arrived);
    }));
    EXPECT_FALSE(engine.start_job([] {})) << "one job at a time";
    input.push({0xF0, 0x7E, 0x00, 0x7F, 0x01, 0xF7});
    engine.wait_for_job();
    EXPECT_TRUE(answered.load());
    EXPECT_EQ(input.collector.thread, job_thread);
    EXPECT_FALSE(engine.job_running());
}

}  // namespace
}  // namespace jx
