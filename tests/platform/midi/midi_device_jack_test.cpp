// The program's ports on the JACK backend against jx-device over a private JACK server: the
// Turbo request goes out, the device's answer comes back through the real input path and sets
// the speed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "child_process.h"
#include "jack_server.h"
#include "midi/midi_ports.h"
#include "platform/midi/midi_jack.h"

namespace jx {
namespace {

using namespace std::chrono_literals;

struct TurboCase {
    const char* highest;  // the device's fastest speed index
    int32_t turbo_speed;  // what the program shows afterwards
};

class MidiDeviceOverJack : public ::testing::TestWithParam<TurboCase> {};

TEST_P(MidiDeviceOverJack, TurboRequestIsAnsweredWithTheSpeedInForce) {
    test::JackServer server;
    ASSERT_TRUE(server.up()) << server.log();
    test::ChildProcess device(JX_DEVICE_PATH, {"--highest-speed", GetParam().highest});
    ASSERT_TRUE(device.wait_for_text("\"ready\"", 10s)) << device.err();

    JackMidiBackend backend("jxt-prog-" + std::to_string(::getpid()));
    auto service = std::make_unique<MidiService>();
    service->backends = {&backend};
    TransferState state;
    connect_transfer_state(*service, state);
    Settings settings;
    settings.midi_out = 0;  // the device's input, the only input port at the server
    settings.midi_in = 0;   // the device's output
    ASSERT_EQ(midi_out_name(*service, 0), "jx-device-in:in");
    ASSERT_EQ(midi_in_name(*service, 0), "jx-device-out:out");
    MidiPorts ports;
    ports.service = service.get();
    ports.settings = &settings;
    ports.state = &state;

    open_midi_in(ports);
    ASSERT_EQ(ports.open_in_index.load(), 0);
    send_turbo_request(ports);
    EXPECT_TRUE(wait_transfer_until(state, std::chrono::steady_clock::now() + 5s, [&] {
        return state.turbo_speed.load() == GetParam().turbo_speed;
    })) << state.turbo_speed.load();
    EXPECT_TRUE(device.wait_for_text("\"turbo\"", 5s));
    close_midi_out(ports);
    close_midi_in(ports);
    service.reset();
}

INSTANTIATE_TEST_SUITE_P(Speeds, MidiDeviceOverJack,
                         ::testing::Values(TurboCase{"11", 200}, TurboCase{"5", 50}),
                         [](const ::testing::TestParamInfo<TurboCase>& info) {
                             return std::string("highest_") + info.param.highest;
                         });

}  // namespace
}  // namespace jx
