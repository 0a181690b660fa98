// The JACK ports over a private JACK server: what one program sends arrives whole at a port
// another opened, however long the message, and a port error is said in words.
#include "platform/midi_jack.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "jack_server.h"
#include "platform/midi_system.h"

namespace jx {
namespace {

// An input that keeps its eight buffers queued and collects what they bring back.
struct Collector {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint8_t> bytes;
    int errors = 0;
    MidiIn* in = nullptr;
    std::array<std::array<uint8_t, midi_in_buffer_size>, 8> buffers{};
    std::array<MidiHeader, 8> headers{};

    static void callback(MidiIn* handle, MidiInMessage message, void* self, MidiHeader* header) {
        auto* c = static_cast<Collector*>(self);
        if (message != MidiInMessage::long_data && message != MidiInMessage::long_error) return;
        {
            std::lock_guard lock(c->mutex);
            c->bytes.insert(c->bytes.end(), header->data, header->data + header->bytes_recorded);
            if (message == MidiInMessage::long_error) ++c->errors;
        }
        c->changed.notify_all();
        midi_in_add_buffer(handle, *header);
    }
    void queue_and_start() {
        for (size_t i = 0; i < buffers.size(); ++i) {
            headers[i].data = buffers[i].data();
            headers[i].length = midi_in_buffer_size;
            ASSERT_EQ(midi_in_prepare_header(in, headers[i]), midi_ok);
            ASSERT_EQ(midi_in_add_buffer(in, headers[i]), midi_ok);
        }
        ASSERT_EQ(midi_in_start(in), midi_ok);
    }
    bool wait_for(size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10),
                                [&] { return bytes.size() >= count; });
    }
    ~Collector() {
        if (in) midi_in_close(in);
    }
};

std::vector<uint8_t> sysex(size_t length, uint8_t seed) {
    std::vector<uint8_t> m(length);
    m.front() = 0xF0;
    for (size_t i = 1; i + 1 < length; ++i) m[i] = static_cast<uint8_t>((i * 7 + seed) & 0x7F);
    m.back() = 0xF7;
    return m;
}

std::string unique_client(const char* role) {
    return std::string("jxt-") + role + "-" + std::to_string(::getpid());
}

// A program's service whose one backend is JACK, and a far end with ports of its own.
struct MidiRtmidiOverJack : ::testing::Test {
    test::JackServer server;
    JackMidiBackend peer{unique_client("peer")};
    JackMidiBackend backend{unique_client("prog")};
    MidiService service;
    Collector far_end;

    void SetUp() override {
        ASSERT_TRUE(server.up()) << server.log();
        ASSERT_EQ(peer.unavailable_reason(), "");
        std::string error;
        ASSERT_EQ(
            midi_in_open_virtual(peer, "in", &Collector::callback, &far_end, far_end.in, error),
            midi_ok)
            << error;
        far_end.queue_and_start();
        service.backends = {&backend};
        service.pacing.enabled = false;
    }

    MidiOut* open_far_end() {
        MidiOut* out = nullptr;
        EXPECT_EQ(midi_out_count(service), 1);
        EXPECT_EQ(midi_out_name(service, 0), unique_client("peer") + "-in:in");
        EXPECT_EQ(midi_out_open(service, 0, out), midi_ok);
        return out;
    }
    static int send(MidiOut* out, std::vector<uint8_t>& message) {
        MidiHeader header;
        header.data = message.data();
        header.length = static_cast<uint32_t>(message.size());
        midi_out_prepare_header(out, header);
        return midi_out_long_msg(out, header);
    }
};

// Short, longer than one piece, one byte past what one write into RtMidi's ring carries, and far
// beyond it: each arrives whole and unchanged.
TEST_F(MidiRtmidiOverJack, CarriesMessagesOfEverySizeWhole) {
    MidiOut* out = open_far_end();
    ASSERT_NE(out, nullptr);
    std::vector<uint8_t> expected;
    uint8_t seed = 0;
    for (size_t length : {6u, 7000u, 16380u, 102400u}) {
        std::vector<uint8_t> message = sysex(length, seed++);
        ASSERT_EQ(send(out, message), midi_ok) << midi_out_error_text(out, midi_error);
        expected.insert(expected.end(), message.begin(), message.end());
    }
    ASSERT_TRUE(far_end.wait_for(expected.size()));
    std::lock_guard lock(far_end.mutex);
    EXPECT_EQ(far_end.bytes, expected);
    EXPECT_EQ(far_end.errors, 0);
}

// A short reply sent from one thread while another sends a long message goes before or after
// it, never into it.
TEST_F(MidiRtmidiOverJack, KeepsMessagesFromTwoThreadsApart) {
    MidiOut* out = open_far_end();
    ASSERT_NE(out, nullptr);
    std::vector<uint8_t> long_message = sysex(60000, 1);
    std::vector<uint8_t> reply = {0xF0, 0x7E, 0x00, 0x7F, 0x05, 0xF7};
    std::thread replier([&] {
        std::vector<uint8_t> copy = reply;
        EXPECT_EQ(send(out, copy), midi_ok);
    });
    EXPECT_EQ(send(out, long_message), midi_ok);
    replier.join();
    ASSERT_TRUE(far_end.wait_for(long_message.size() + reply.size()));
    std::vector<uint8_t> reply_first = reply, long_first = long_message;
    reply_first.insert(reply_first.end(), long_message.begin(), long_message.end());
    long_first.insert(long_first.end(), reply.begin(), reply.end());
    std::lock_guard lock(far_end.mutex);
    EXPECT_TRUE(far_end.bytes == reply_first || far_end.bytes == long_first);
}

// The far end's port goes away: the next message is a port error that names the port.
TEST_F(MidiRtmidiOverJack, ReportsAPortThatIsGone) {
    MidiOut* out = open_far_end();
    ASSERT_NE(out, nullptr);
    midi_in_close(far_end.in);
    far_end.in = nullptr;
    std::vector<uint8_t> message = sysex(6, 0);
    ASSERT_EQ(send(out, message), midi_error);
    EXPECT_EQ(midi_out_error_text(out, midi_error),
              "The MIDI port " + unique_client("peer") + "-in:in is gone.");
}

// What a port of the far end sends arrives whole at the program's input opened from the list.
TEST_F(MidiRtmidiOverJack, InputFromAListedPortReceivesWholeMessages) {
    std::string error;
    std::unique_ptr<MidiOutConnection> far_out = peer.open_virtual_out("out", error);
    ASSERT_NE(far_out, nullptr) << error;
    ASSERT_EQ(midi_in_count(service), 1);
    ASSERT_EQ(midi_in_name(service, 0), unique_client("peer") + "-out:out");
    Collector program;
    ASSERT_EQ(midi_in_open(service, 0, &Collector::callback, &program, program.in), midi_ok);
    program.queue_and_start();
    std::vector<uint8_t> expected;
    for (size_t length : {6u, 20000u}) {
        std::vector<uint8_t> message = sysex(length, 9);
        ASSERT_EQ(far_out->write(message.data(), message.size(), {}, error), midi_ok) << error;
        expected.insert(expected.end(), message.begin(), message.end());
    }
    ASSERT_TRUE(program.wait_for(expected.size()));
    std::lock_guard lock(program.mutex);
    EXPECT_EQ(program.bytes, expected);
}

TEST(MidiRtmidi, WithoutAServerListsNothingAndSaysWhy) {
    ::setenv("JACK_DEFAULT_SERVER", ("jx-test-none-" + std::to_string(::getpid())).c_str(), 1);
    JackMidiBackend backend(unique_client("prog"));
    ::unsetenv("JACK_DEFAULT_SERVER");
    MidiService service;
    service.backends = {&backend};
    EXPECT_EQ(midi_out_count(service), 0);
    EXPECT_EQ(midi_in_count(service), 0);
    EXPECT_EQ(backend.unavailable_reason(), "The JACK server is not running.");
}

}  // namespace
}  // namespace jx
