#include "midi/midi_ports.h"

#include <gtest/gtest.h>

#include <functional>
#include <span>
#include <vector>

#include "named_ports.h"
#include "platform/window/dialog_ids.h"
#include "sample_file_maker.h"
#include "virtual_rig.h"

namespace jx {
namespace {

using test::VirtualRig;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

const Bytes turbo_answer_20 = {0xF0, 0x00, 0x6B, 0x2E, 0x04, 0x00, 0x02, 0x02, 0xF7};

// Sends bytes from the device and waits until the input callback has taken them: a Turbo answer
// for x2 follows them, and the callback takes buffers in order.
void device_says(VirtualRig& rig, const Bytes& bytes) {
    rig.loopback.device_send(bytes.data(), bytes.size());
    rig.loopback.device_send(turbo_answer_20.data(), turbo_answer_20.size());
    ASSERT_TRUE(rig.wait_for([&] { return rig.state.turbo_speed.load() == 20; }));
}

TEST(MidiPorts, WithoutAnOutputNothingIsSentAndNothingShown) {
    VirtualRig rig;
    rig.settings.midi_out = -1;
    send_turbo_query(rig.ports);
    send_turbo_request(rig.ports);
    rig.tick();
    EXPECT_TRUE(rig.device_record().answers.empty());
    EXPECT_TRUE(rig.window.message_boxes.empty());
    EXPECT_EQ(rig.state.turbo_speed.load(), 10);
}

TEST(MidiPorts, TurboSpeedFollowsTheDevicesAnswers) {
    struct Case {
        int highest;
        int32_t turbo_lim;
        int32_t speed;
    };
    for (const Case& c : {Case{11, 11, 200}, Case{8, 11, 100}, Case{11, 3, 33}}) {
        SCOPED_TRACE(c.highest * 100 + c.turbo_lim);
        DeviceConfig config;
        config.highest_speed_index = c.highest;
        VirtualRig rig(config);
        rig.settings.turbo_lim = c.turbo_lim;
        rig.state.turbo_speed = 50;
        send_turbo_query(rig.ports);
        EXPECT_EQ(rig.state.turbo_speed.load(), 10);  // until the device answers
        send_turbo_request(rig.ports);
        ASSERT_TRUE(rig.wait_for([&] { return rig.state.turbo_speed.load() == c.speed; }));
        send_turbo_off(rig.ports);
        EXPECT_EQ(rig.state.turbo_speed.load(), 10);
        EXPECT_EQ(rig.device_record().speed_index, 1);
    }
}

TEST(MidiPorts, TurboAnswerIndexBeyondTheTableChangesNothing) {
    struct Case {
        uint8_t index;
        int32_t speed;
    };
    for (const Case& c : {Case{1, 10}, Case{11, 200}, Case{12, 33}, Case{0x7F, 33}}) {
        SCOPED_TRACE(int{c.index});
        VirtualRig rig;
        rig.state.turbo_speed = 33;
        rig.settings.ignore_hs = 0;
        // The ACK after the answer shows when the input has taken both.
        rig.state.sending = 1;
        rig.state.sending_sample = 1;
        const Bytes answer = {0xF0, 0x00, 0x6B, 0x2E, 0x04, 0x00, 0x02, c.index, 0xF7};
        const Bytes ack = {0xF0, 0x7E, 0x00, 0x7F, 0x00, 0xF7};
        rig.loopback.device_send(answer.data(), answer.size());
        rig.loopback.device_send(ack.data(), ack.size());
        ASSERT_TRUE(rig.wait_for_answers([](const DeviceAnswers& a) { return a.reply == hs_ack; }));
        EXPECT_EQ(rig.state.turbo_speed.load(), c.speed);
    }
}

TEST(MidiPorts, HandshakeAnswersReachTheSenderOnlyWhileASampleIsSentOnItsChannel) {
    struct Case {
        const char* what;
        Bytes message;
        int32_t sending, sending_sample;
        int32_t reply, nak_packet;
        bool wait;
        int32_t cancel_request, status_bits;
    };
    const Case cases[] = {
        {"ACK", {0xF0, 0x7E, 0x05, 0x7F, 0x03, 0xF7}, 1, 1, hs_ack, 0, 0, 0, 0},
        {"NAK", {0xF0, 0x7E, 0x05, 0x7E, 0x03, 0xF7}, 1, 1, hs_nak, 3, 0, 0, 0},
        {"WAIT", {0xF0, 0x7E, 0x05, 0x7C, 0x03, 0xF7}, 1, 1, 0, 0, 1, 0, 0},
        {"CANCEL", {0xF0, 0x7E, 0x05, 0x7D, 0x03, 0xF7}, 1, 1, 0, 0, 0, 1, status_remote_cancel},
        {"ACK cut short by a status byte",
         {0xF0, 0x7E, 0x05, 0x7F, 0x03, 0x90},
         1,
         1,
         hs_ack,
         0,
         0,
         0,
         0},
        {"ACK on another channel", {0xF0, 0x7E, 0x06, 0x7F, 0x03, 0xF7}, 1, 1, 0, 0, 0, 0, 0},
        {"CANCEL while no sample is sent",
         {0xF0, 0x7E, 0x05, 0x7D, 0x03, 0xF7},
         1,
         0,
         0,
         0,
         0,
         0,
         0},
        {"ACK while not sending", {0xF0, 0x7E, 0x05, 0x7F, 0x03, 0xF7}, 0, 1, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualRig rig;
        rig.settings.sds_dev = 5;
        rig.state.sending = c.sending;
        rig.state.sending_sample = c.sending_sample;
        device_says(rig, c.message);
        const DeviceAnswers answers = rig.answers();
        EXPECT_EQ(answers.reply, c.reply);
        EXPECT_EQ(answers.nak_packet, c.nak_packet);
        EXPECT_EQ(answers.wait, c.wait);
        EXPECT_EQ(rig.state.cancel_request.load(), c.cancel_request);
        EXPECT_EQ(rig.state.status_bits.load(), c.status_bits);
    }
}

TEST(MidiPorts, WhileRecordingEveryMessageGoesToTheRecorderAndNoneToTheSender) {
    VirtualRig rig;
    struct Recorded {
        std::mutex mutex;
        std::vector<Bytes> buffers;  // the messages, put back together from their pieces
    } recorded;
    rig.ports.hooks.recorder = &recorded;
    rig.ports.hooks.record = [](void* to, std::span<const SysexPiece> pieces) {
        auto& r = *static_cast<Recorded*>(to);
        std::lock_guard lock(r.mutex);
        for (const SysexPiece& piece : pieces) {
            if (piece.kind == SysexPiece::start) r.buffers.emplace_back();
            if (piece.bytes)
                r.buffers.back().insert(r.buffers.back().end(), piece.bytes,
                                        piece.bytes + piece.size);
        }
    };
    rig.state.receive_state = receive_recording;
    rig.state.sending = 1;
    rig.state.sending_sample = 1;
    const Bytes ack = {0xF0, 0x7E, 0x00, 0x7F, 0x00, 0xF7};
    rig.loopback.device_send(ack.data(), ack.size());
    rig.loopback.device_send(turbo_answer_20.data(), turbo_answer_20.size());
    ASSERT_TRUE(rig.wait_for([&] {
        std::lock_guard lock(recorded.mutex);
        return recorded.buffers.size() == 2 && recorded.buffers[1].size() == 9;
    }));
    {
        std::lock_guard lock(recorded.mutex);
        EXPECT_EQ(recorded.buffers, (std::vector<Bytes>{ack, turbo_answer_20}));
    }
    EXPECT_EQ(rig.answers().reply, hs_none);
    EXPECT_EQ(rig.state.turbo_speed.load(), 10);
}

TEST(MidiPorts, TurboMessagesDuringASendShareTheOutputWithTheDump) {
    // The window thread closes and reopens the output for each short message while the send
    // thread writes packets on it.
    DeviceConfig config;
    config.highest_speed_index = 2;
    VirtualRig rig(config);
    rig.settings.ignore_hs = 0;
    rig.settings.turbo_lim = 2;
    Bytes data;
    for (int k = 0; k < 4000; ++k) data.push_back(static_cast<uint8_t>(k));
    rig.add("/d/s.wav",
            test::riff({test::fmt_chunk(1, 1, 22050, 8), test::wav_chunk("data", data)}));
    ASSERT_TRUE(rig.start_send());
    for (int k = 0; k < 20; ++k) {
        send_turbo_request(rig.ports);
        send_turbo_off(rig.ports);
    }
    ASSERT_TRUE(rig.wait_send_end());
    const DeviceRecord got = rig.device_record();
    ASSERT_EQ(got.samples.size(), 1u);
    EXPECT_TRUE(got.samples[0].complete);
    EXPECT_EQ(got.speed_index, 1);
    EXPECT_TRUE(rig.window.message_boxes.empty());
}

TEST(MidiPorts, EveryShortMessageReopensTheConfiguredOutput) {
    VirtualRig rig;
    send_hs_ack(rig.ports, 0, 1);
    rig.settings.midi_out = 7;  // no such device: picked up by the next message
    rig.state.sending = 1;
    send_hs_nak(rig.ports, 0, 2);
    rig.tick();
    ASSERT_EQ(rig.window.message_boxes.size(), 1u);
    EXPECT_EQ(rig.window.message_boxes[0].text, "Could not allocate Midi Out port");
    EXPECT_EQ(rig.window.message_boxes[0].caption, "Cancel");
    EXPECT_EQ(rig.window.message_boxes[0].icon, MessageIcon::exclamation);
    EXPECT_EQ(rig.ports.open_out_index.load(), -1);
    EXPECT_EQ(rig.state.sending.load(), 0);
    rig.settings.midi_out = 0;
    send_hs_cancel(rig.ports, 0, 3);
    EXPECT_EQ(rig.ports.open_out_index.load(), 0);
    // What the device heard: the ACK and the CANCEL, not the NAK.
    EXPECT_EQ(rig.device_record().messages,
              (std::vector<Bytes>{{0xF0, 0x7E, 0x00, 0x7F, 0x01, 0xF7},
                                  {0xF0, 0x7E, 0x00, 0x7D, 0x03, 0xF7}}));
}

TEST(MidiPorts, PortErrorOfAShortMessageShowsThePortsTextAndEndsTheSend) {
    VirtualRig rig;
    rig.state.sending = 1;
    rig.state.cancel_request = 1;
    rig.window.set_text(ids::send, "Stop Send");
    rig.loopback.set_unplugged(true);
    send_turbo_query(rig.ports);
    rig.tick();
    ASSERT_EQ(rig.window.message_boxes.size(), 1u);
    EXPECT_EQ(rig.window.message_boxes[0].text, "Virtual device: the MIDI cable is unplugged.");
    EXPECT_EQ(rig.window.message_boxes[0].caption, "Cancel");
    EXPECT_EQ(rig.state.sending.load(), 0);
    EXPECT_EQ(rig.state.cancel_request.load(), 0);
    EXPECT_EQ(rig.window.text(ids::send), "Send");
}

// An input that opens but will not start.
class StubbornInput : public MidiBackend {
  public:
    int out_count() override { return 0; }
    std::string out_name(int) override { return {}; }
    int in_count() override { return 1; }
    std::string in_name(int) override { return "stubborn"; }
    std::unique_ptr<MidiOutConnection> open_out(int, std::string&) override { return nullptr; }
    std::unique_ptr<MidiInConnection> open_in(int, MidiInSink&, std::string&) override {
        struct Connection : MidiInConnection {
            std::optional<MidiError> start() override {
                return MidiError{MidiErrorKind::refused, "refused"};
            }
            void stop() override {}
        };
        return std::make_unique<Connection>();
    }
};

TEST(MidiPorts, InputFailuresAndReopeningPassThroughTheCloseNotice) {
    VirtualRig rig;
    StubbornInput stubborn;
    rig.service.backends.push_back(&stubborn);  // input 1
    int closes = 0;
    rig.ports.hooks.recorder = &closes;
    rig.ports.hooks.stop_recording = [](void* count) { ++*static_cast<int*>(count); };

    open_midi_in(rig.ports);  // the open input is closed first
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(rig.ports.open_in_index.load(), 0);
    EXPECT_EQ(rig.state.receive_state.load(), receive_idle);

    rig.settings.midi_in = 9;
    open_midi_in(rig.ports);
    rig.tick();
    EXPECT_EQ(closes, 2);
    ASSERT_EQ(rig.window.message_boxes.size(), 1u);
    EXPECT_EQ(rig.window.message_boxes[0].text, "Could not allocate Midi In port");
    EXPECT_EQ(rig.ports.open_in_index.load(), -1);
    EXPECT_EQ(rig.state.receive_state.load(), receive_idle);

    rig.settings.midi_in = 1;
    open_midi_in(rig.ports);
    rig.tick();
    ASSERT_EQ(rig.window.message_boxes.size(), 2u);
    EXPECT_EQ(rig.window.message_boxes[1].text, "Could not start MIDI In");
    EXPECT_EQ(rig.window.message_boxes[1].caption, "Cancel");
    EXPECT_EQ(closes, 3);  // the failed input was closed again
    EXPECT_EQ(rig.ports.open_in_index.load(), -1);
    EXPECT_EQ(rig.state.receive_state.load(), receive_closed);
    EXPECT_EQ(rig.ports.in, nullptr);
}

// Every port failure is kept as a value, whichever thread met it, until the window's timer (or a
// handler on the window thread) shows it: once, and as the window always showed it.
TEST(MidiPorts, EachFailureIsAValueUntilTheWindowShowsIt) {
    StubbornInput stubborn;
    struct Case {
        const char* what;
        std::function<void(VirtualRig&)> fail;
        PortError error;
    };
    const Case cases[] = {
        {"output that will not open",
         [](VirtualRig& rig) {
             rig.settings.midi_out = 7;
             open_midi_out(rig.ports);
         },
         {PortFault::out_open, "Could not allocate Midi Out port"}},
        {"output not plugged in",
         [](VirtualRig& rig) {
             rig.settings.midi_out_name = "A:gone";
             open_midi_out(rig.ports);
         },
         {PortFault::out_missing, "MIDI Out port not found: A:gone"}},
        {"input that will not open",
         [](VirtualRig& rig) {
             rig.settings.midi_in = 9;
             open_midi_in(rig.ports);
         },
         {PortFault::in_open, "Could not allocate Midi In port"}},
        {"input not plugged in",
         [](VirtualRig& rig) {
             rig.settings.midi_in_name = "E:gone";
             open_midi_in(rig.ports);
         },
         {PortFault::in_missing, "MIDI In port not found: E:gone"}},
        {"input that will not start",
         [&](VirtualRig& rig) {
             rig.service.backends.push_back(&stubborn);
             rig.settings.midi_in = 1;
             open_midi_in(rig.ports);
         },
         {PortFault::in_start, "Could not start MIDI In"}},
        {"reply that does not go out",
         [](VirtualRig& rig) {
             rig.loopback.set_unplugged(true);
             send_hs_ack(rig.ports, 0, 1);
         },
         {PortFault::out_message, "Virtual device: the MIDI cable is unplugged."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualRig rig;
        rig.window.set_text(ids::send, "Stop Send");
        c.fail(rig);
        EXPECT_TRUE(rig.window.message_boxes.empty());
        EXPECT_EQ(rig.window.text(ids::status), "");
        const std::vector<PortError> errors = rig.ports.errors.take();
        ASSERT_EQ(errors, std::vector<PortError>{c.error});
        rig.ports.errors.record(errors[0]);
        rig.tick();
        rig.tick();
        if (c.error.missing()) {
            EXPECT_TRUE(rig.window.message_boxes.empty());
            EXPECT_EQ(rig.window.text(ids::status), c.error.text);
        } else {
            ASSERT_EQ(rig.window.message_boxes.size(), 1u);
            EXPECT_EQ(rig.window.message_boxes[0].text, c.error.text);
            EXPECT_EQ(rig.window.message_boxes[0].caption, "Cancel");
            EXPECT_EQ(rig.window.message_boxes[0].icon, MessageIcon::exclamation);
        }
        // A short message that failed ended a send: the button says so.
        EXPECT_EQ(rig.window.text(ids::send),
                  c.error.fault == PortFault::out_message ? "Send" : "Stop Send");
    }
}

// Ports stored by name are found wherever the system lists them now; one that is not there is
// said so in the status field and never replaced by whatever has its index.
TEST(MidiPorts, PortsStoredByNameSurviveAChangeOfOrder) {
    VirtualRig rig;
    test::NamedPorts interfaces;
    interfaces.names = {"A:one", "B:two"};
    rig.service.backends.insert(rig.service.backends.begin(), &interfaces);
    rig.settings.midi_in = 0;
    rig.settings.midi_out = 0;
    rig.settings.midi_in_name = virtual_device_name;
    rig.settings.midi_out_name = virtual_device_name;

    open_midi_in(rig.ports);
    EXPECT_EQ(rig.ports.open_in_index.load(), 2);
    send_turbo_request(rig.ports);  // the device answers through the input found by name
    ASSERT_TRUE(rig.wait_for([&] { return rig.state.turbo_speed.load() == 200; }));
    EXPECT_EQ(rig.ports.open_out_index.load(), 2);

    interfaces.names = {"C:new", "B:two", "A:one"};  // another interface, another order
    open_midi_in(rig.ports);
    open_midi_out(rig.ports);
    EXPECT_EQ(rig.ports.open_in_index.load(), 3);
    EXPECT_EQ(rig.ports.open_out_index.load(), 3);

    rig.settings.midi_out_name = "A:one";  // found again where it is now
    send_turbo_off(rig.ports);
    EXPECT_EQ(rig.ports.open_out_index.load(), 2);
    EXPECT_EQ(interfaces.writes.load(), 1);

    interfaces.names = {"C:new", "B:two", "D:other"};
    rig.state.sending = 1;
    open_midi_out(rig.ports);
    rig.tick();
    EXPECT_EQ(rig.ports.open_out_index.load(), -1);
    EXPECT_EQ(rig.window.text(ids::status), "MIDI Out port not found: A:one");
    EXPECT_EQ(rig.state.sending.load(), 0);
    rig.settings.midi_in_name = "E:gone";
    open_midi_in(rig.ports);
    rig.tick();
    EXPECT_EQ(rig.ports.open_in_index.load(), -1);
    EXPECT_EQ(rig.window.text(ids::status), "MIDI In port not found: E:gone");
    EXPECT_TRUE(rig.window.message_boxes.empty());
    EXPECT_EQ(interfaces.writes.load(), 1);
}

}  // namespace
}  // namespace jx
