// The ports of a MIDI server, over a private JACK server and over the kernel's ALSA sequencer
// where there is one (the test guest): what one program sends arrives whole at a port another
// opened, however long the message, and a port error is said in words.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "jack_server.h"
#include "platform/midi/midi_alsa.h"
#include "platform/midi/midi_jack.h"
#include "platform/midi/midi_system.h"

namespace jx {
namespace {

// An input's consumer that collects the bytes of the messages it hands over, and counts the
// messages cut short.
struct Collector final : MidiConsumer {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint8_t> bytes;
    int errors = 0;
    std::unique_ptr<MidiInput> in;

    void take(std::span<const SysexPiece> pieces) override {
        {
            std::lock_guard lock(mutex);
            for (const SysexPiece& piece : pieces) {
                if (piece.kind == SysexPiece::cut || piece.kind == SysexPiece::lost) ++errors;
                if (piece.bytes) bytes.insert(bytes.end(), piece.bytes, piece.bytes + piece.size);
            }
        }
        changed.notify_all();
    }
    void start() { ASSERT_FALSE(in->start()); }
    bool wait_for(size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10),
                                [&] { return bytes.size() >= count; });
    }
    ~Collector() { in.reset(); }
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

// The server each backend needs: a private JACK server, or the kernel's ALSA sequencer where
// there is one (the test guest; these machines have none, and the tests say so and skip).
template <typename Backend>
struct Server;
template <>
struct Server<JackMidiBackend> {
    test::JackServer jack;
    std::string missing() { return jack.up() ? "" : "no JACK server: " + jack.log(); }
};
template <>
struct Server<AlsaSeqBackend> {
    std::string missing() {
        return AlsaSeqBackend::sequencer_present() ? "" : "no ALSA sequencer here";
    }
};

// The index a port has in one of the service's lists, -1 when it is not listed.
int listed(MidiService& service, bool output, const std::string& name) {
    const int count = output ? midi_out_count(service) : midi_in_count(service);
    for (int i = 0; i < count; ++i)
        if ((output ? midi_out_name(service, i) : midi_in_name(service, i)) == name) return i;
    return -1;
}

// A program's service whose one backend is the server's, and a far end with ports of its own.
template <typename Backend>
struct MidiServerPorts : ::testing::Test {
    Server<Backend> server;
    std::unique_ptr<Backend> peer;
    std::unique_ptr<Backend> backend;
    MidiService service;
    Collector far_end;

    void SetUp() override {
        const std::string missing = server.missing();
        if (!missing.empty()) GTEST_SKIP() << missing;
        peer = std::make_unique<Backend>(unique_client("peer"));
        backend = std::make_unique<Backend>(unique_client("prog"));
        ASSERT_EQ(peer->unavailable_reason(), "");
        const auto error = open_virtual_input(*peer, service.engine, "in", &far_end, far_end.in);
        ASSERT_FALSE(error) << error->text;
        far_end.start();
        service.backends = {backend.get()};
        service.pacing.enabled = false;
    }
    std::string far_in_name() const { return peer->virtual_port_name("in", false); }
    MidiOutput* open_far_end() {
        MidiOutput* out = nullptr;
        const int index = listed(service, true, far_in_name());
        EXPECT_GE(index, 0);
        EXPECT_FALSE(open_output(service, midi_output_at(service, index), out));
        return out;
    }
    // A port of the far end that sends, and the program's input opened on it from the list.
    std::unique_ptr<MidiOutConnection> open_far_out(Collector& program) {
        std::string error;
        std::unique_ptr<MidiOutConnection> far_out = peer->open_virtual_out("out", error);
        EXPECT_NE(far_out, nullptr) << error;
        const int index = listed(service, false, peer->virtual_port_name("out", true));
        EXPECT_GE(index, 0);
        EXPECT_FALSE(open_input(service, midi_input_at(service, index), &program, program.in));
        if (program.in) program.start();
        return far_out;
    }
    static MidiSent send(MidiOutput* out, const std::vector<uint8_t>& message) {
        return out->send(message.data(), message.size());
    }
    // The reason a send failed, in full.
    static std::string why(const MidiSent& sent) {
        return sent.ok() ? "sent" : midi_error_text(*sent.error, 1000);
    }
};

using Backends = ::testing::Types<JackMidiBackend, AlsaSeqBackend>;
TYPED_TEST_SUITE(MidiServerPorts, Backends);

// Short; one past what a receiver's default ALSA pool holds; longer than a piece; one byte past
// what one write into alsa-lib's output buffer carries; and far beyond:
// each arrives whole and unchanged, unpaced, the next right after the one before.
TYPED_TEST(MidiServerPorts, CarriesMessagesOfEverySizeWhole) {
    MidiOutput* out = this->open_far_end();
    ASSERT_NE(out, nullptr);
    Collector& far_end = this->far_end;
    std::vector<uint8_t> expected;
    uint8_t seed = 0;
    for (size_t length : {6u, 5573u, 7000u, 16356u, 102400u, 6u}) {
        std::vector<uint8_t> message = sysex(length, seed++);
        const MidiSent sent = this->send(out, message);
        ASSERT_TRUE(sent.ok()) << this->why(sent);
        expected.insert(expected.end(), message.begin(), message.end());
    }
    ASSERT_TRUE(far_end.wait_for(expected.size()));
    std::lock_guard lock(far_end.mutex);
    EXPECT_EQ(far_end.bytes, expected);
    EXPECT_EQ(far_end.errors, 0);
}

// A short reply sent from one thread while another sends a long message goes before or after
// it, never into it.
TYPED_TEST(MidiServerPorts, KeepsMessagesFromTwoThreadsApart) {
    MidiOutput* out = this->open_far_end();
    Collector& far_end = this->far_end;
    ASSERT_NE(out, nullptr);
    std::vector<uint8_t> long_message = sysex(60000, 1);
    std::vector<uint8_t> reply = {0xF0, 0x7E, 0x00, 0x7F, 0x05, 0xF7};
    std::thread replier([&] { EXPECT_TRUE(TestFixture::send(out, reply).ok()); });
    EXPECT_TRUE(this->send(out, long_message).ok());
    replier.join();
    ASSERT_TRUE(far_end.wait_for(long_message.size() + reply.size()));
    std::vector<uint8_t> reply_first = reply, long_first = long_message;
    reply_first.insert(reply_first.end(), long_message.begin(), long_message.end());
    long_first.insert(long_first.end(), reply.begin(), reply.end());
    std::lock_guard lock(far_end.mutex);
    EXPECT_TRUE(far_end.bytes == reply_first || far_end.bytes == long_first);
}

// The far end's port goes away: the next message is a port error that names the port.
TYPED_TEST(MidiServerPorts, ReportsAPortThatIsGone) {
    MidiOutput* out = this->open_far_end();
    ASSERT_NE(out, nullptr);
    const std::string name = this->far_in_name();
    this->far_end.in.reset();
    this->peer.reset();  // over ALSA the port goes with the client
    const MidiSent sent = this->send(out, sysex(6, 0));
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(*sent.error, (MidiError{MidiErrorKind::gone, "The MIDI port " + name + " is gone."}));
}

// What a port of the far end sends arrives whole at the program's input opened from the list.
TYPED_TEST(MidiServerPorts, InputFromAListedPortReceivesWholeMessages) {
    Collector program;
    std::unique_ptr<MidiOutConnection> far_out = this->open_far_out(program);
    ASSERT_TRUE(far_out && program.in);
    std::vector<uint8_t> expected;
    for (size_t length : {6u, 20000u, 70000u}) {
        std::vector<uint8_t> message = sysex(length, 9);
        const auto error = far_out->write(message.data(), message.size(), {});
        ASSERT_FALSE(error) << error->text;
        expected.insert(expected.end(), message.begin(), message.end());
    }
    ASSERT_TRUE(program.wait_for(expected.size()));
    std::lock_guard lock(program.mutex);
    EXPECT_EQ(program.bytes, expected);
}

// A message longer than a mebibyte leaves one program's output whole and arrives whole.
TYPED_TEST(MidiServerPorts, AMessageLongerThanAMebibyteArrivesWhole) {
    MidiOutput* out = this->open_far_end();
    ASSERT_NE(out, nullptr);
    std::vector<uint8_t> message = sysex((size_t{1} << 20) + 1, 7);
    const MidiSent sent = this->send(out, message);
    ASSERT_TRUE(sent.ok()) << this->why(sent);
    ASSERT_TRUE(this->far_end.wait_for(message.size()));
    std::lock_guard lock(this->far_end.mutex);
    EXPECT_TRUE(this->far_end.bytes == message);
    EXPECT_EQ(this->far_end.errors, 0);
}

// The bytes of a SysEx message are handed on as they come, not held back until its F7: the
// first part arrives while the rest is still to be sent.
TYPED_TEST(MidiServerPorts, BytesArriveBeforeTheirMessageEnds) {
    Collector program;
    std::unique_ptr<MidiOutConnection> far_out = this->open_far_out(program);
    ASSERT_TRUE(far_out && program.in);
    const std::vector<uint8_t> message = sysex(40000, 4);
    const size_t first_part = 20000;
    auto error = far_out->write(message.data(), first_part, {});
    ASSERT_FALSE(error) << error->text;
    ASSERT_TRUE(program.wait_for(16384));
    {
        std::lock_guard lock(program.mutex);
        EXPECT_TRUE(std::equal(program.bytes.begin(), program.bytes.end(), message.begin()));
    }
    error = far_out->write(message.data() + first_part, message.size() - first_part, {});
    ASSERT_FALSE(error) << error->text;
    ASSERT_TRUE(program.wait_for(message.size()));
    std::lock_guard lock(program.mutex);
    EXPECT_TRUE(program.bytes == message);
    EXPECT_EQ(program.errors, 0);
}

// A program that takes nothing more: the send stops with the reason once the program's input
// pool is full, and what the program holds is exactly the start of the message, no piece lost or
// twice.
TEST(MidiAlsa, AReceiverThatTakesNothingStopsTheSendWithoutLoss) {
    if (!AlsaSeqBackend::sequencer_present()) GTEST_SKIP() << "no ALSA sequencer here";
    snd_seq_t* sleeper = nullptr;
    ASSERT_EQ(snd_seq_open(&sleeper, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK), 0);
    snd_seq_set_client_name(sleeper, "jxt-sleeper");
    ASSERT_GE(snd_seq_create_simple_port(
                  sleeper, "in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                  SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION),
              0);
    {
        AlsaSeqBackend backend(unique_client("prog"));
        MidiService service;
        service.backends = {&backend};
        service.pacing.enabled = false;
        MidiOutput* out = nullptr;
        ASSERT_FALSE(open_output(
            service, midi_output_at(service, listed(service, true, "jxt-sleeper:in")), out));
        std::vector<uint8_t> message = sysex(65536, 3);
        const MidiSent sent = out->send(message.data(), message.size());
        ASSERT_FALSE(sent.ok());
        const std::string said = midi_error_text(*sent.error, 1000);

        std::vector<uint8_t> held;
        snd_seq_event_t* event = nullptr;
        while (snd_seq_event_input(sleeper, &event) >= 0 && event)
            if (event->type == SND_SEQ_EVENT_SYSEX) {
                const auto* bytes = static_cast<const uint8_t*>(event->data.ext.ptr);
                held.insert(held.end(), bytes, bytes + event->data.ext.len);
            }
        ASSERT_FALSE(held.empty());
        EXPECT_EQ(held, std::vector<uint8_t>(message.begin(), message.begin() + held.size()));
        EXPECT_EQ(said, "The MIDI port jxt-sleeper:in stopped taking data (65536-byte message, " +
                            std::to_string(held.size()) + " bytes sent).");
    }
    snd_seq_close(sleeper);
}

using MidiJackPorts = MidiServerPorts<JackMidiBackend>;

// A message too long for what an output holds for the server is refused with its size, never
// dropped on the way.
TEST_F(MidiJackPorts, AMessageLongerThanTheOutputHoldsIsRefusedWithItsSize) {
    MidiOutput* out = open_far_end();
    ASSERT_NE(out, nullptr);
    const MidiSent refused = send(out, sysex(size_t{1} << 24, 2));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error->kind, MidiErrorKind::too_long);
    EXPECT_NE(why(refused).find("16777216 bytes"), std::string::npos) << why(refused);
    std::vector<uint8_t> after = sysex(6, 0);
    EXPECT_TRUE(send(out, after).ok());
    ASSERT_TRUE(far_end.wait_for(after.size()));
    std::lock_guard lock(far_end.mutex);
    EXPECT_EQ(far_end.bytes, after);
}

// A reset cuts the message still on the wire and keeps the one whose wire time is over: that
// one counts as sent, so it arrives whole; the next message arrives after the cut.
TEST_F(MidiJackPorts, AResetCutsOnlyTheMessageStillPlaying) {
    MidiOutput* out = open_far_end();
    ASSERT_NE(out, nullptr);
    std::vector<uint8_t> sent = sysex(100000, 1);      // unpaced: gone out at once
    std::vector<uint8_t> playing = sysex(4 << 20, 2);  // minutes on a MIDI cable
    std::vector<uint8_t> after = sysex(6, 3);
    ASSERT_TRUE(send(out, sent).ok());
    service.pacing.enabled = true;
    ASSERT_TRUE(send(out, playing).ok());
    out->reset();
    ASSERT_TRUE(send(out, after).ok());
    std::unique_lock lock(far_end.mutex);
    const auto ends_with_after = [&] {
        return far_end.bytes.size() >= sent.size() + after.size() &&
               std::equal(after.begin(), after.end(), far_end.bytes.end() - after.size());
    };
    ASSERT_TRUE(far_end.changed.wait_for(lock, std::chrono::seconds(10), ends_with_after));
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), far_end.bytes.begin()));
    EXPECT_LT(far_end.bytes.size(), sent.size() + playing.size() + after.size());
}

// The server dies: the backend hears it, lists nothing and says why, and a message is a port
// error that names the port; closing the ports afterwards returns.
TEST_F(MidiJackPorts, AServerThatDiesLeavesPortsGone) {
    MidiOutput* out = open_far_end();
    ASSERT_NE(out, nullptr);
    server.jack.kill_now();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (backend->unavailable_reason().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(backend->unavailable_reason(), "The JACK server has shut down.");
    EXPECT_EQ(midi_out_count(service), 0);
    const MidiSent gone = send(out, sysex(6, 0));
    ASSERT_FALSE(gone.ok());
    EXPECT_EQ(*gone.error,
              (MidiError{MidiErrorKind::gone, "The MIDI port " + far_in_name() + " is gone."}));
}

// Another program whose client name begins with this program's (the window is "jx", the device
// "jx-device") is listed; this program's own ports are not.
TEST(MidiJack, ListsAnotherProgramWhoseNameBeginsWithOurs) {
    test::JackServer server;
    ASSERT_TRUE(server.up()) << server.log();
    JackMidiBackend backend(unique_client("prog"));
    JackMidiBackend device(unique_client("prog") + "-device");
    MidiService service;
    service.backends = {&backend};
    service.pacing.enabled = false;
    Collector device_in;
    const auto error = open_virtual_input(device, service.engine, "in", &device_in, device_in.in);
    ASSERT_FALSE(error) << error->text;
    const int index = listed(service, true, device.virtual_port_name("in", false));
    ASSERT_GE(index, 0);
    MidiOutput* out = nullptr;
    ASSERT_FALSE(open_output(service, midi_output_at(service, index), out));
    EXPECT_EQ(midi_out_count(service), 1);  // not our own output port
}

TEST(MidiJack, WithoutAServerListsNothingAndSaysWhy) {
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
