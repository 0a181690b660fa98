// The private JACK server of the tests carries SysEx between two RtMidi ports.
#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "jack_server.h"

namespace {

struct Received {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<unsigned char> bytes;
};

void on_message(double, std::vector<unsigned char>* message, void* user) {
    auto* received = static_cast<Received*>(user);
    std::lock_guard lock(received->mutex);
    received->bytes.insert(received->bytes.end(), message->begin(), message->end());
    received->arrived.notify_all();
}

void on_error(RtMidiError::Type, const std::string& text, void*) {
    ADD_FAILURE() << text;
}

TEST(MidiJackServer, CarriesSysExBetweenTwoRtMidiPorts) {
    jx::test::JackServer server;
    ASSERT_TRUE(server.up()) << server.log();

    Received received;
    RtMidiIn in(RtMidi::UNIX_JACK, "jx-test-in");
    in.setErrorCallback(on_error);
    in.ignoreTypes(false, true, true);
    in.setCallback(on_message, &received);
    in.openVirtualPort("in");

    RtMidiOut out(RtMidi::UNIX_JACK, "jx-test-out");
    out.setErrorCallback(on_error);
    ASSERT_EQ(out.getPortCount(), 1u);
    EXPECT_EQ(out.getPortName(0), "jx-test-in:in");
    out.openPort(0, "out");

    std::vector<unsigned char> message = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};
    out.sendMessage(&message);
    std::unique_lock lock(received.mutex);
    ASSERT_TRUE(received.arrived.wait_for(lock, std::chrono::seconds(5),
                                          [&] { return received.bytes.size() >= message.size(); }));
    EXPECT_EQ(received.bytes, message);
}

}  // namespace
