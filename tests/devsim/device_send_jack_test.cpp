// jx-device sending over a private JACK server: a command on its stdin makes a SysEx file's
// messages arrive at a listener connected to its output port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "jack_peer.h"
#include "jack_server.h"
#include "temp_dir.h"

namespace jx::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

TEST(DeviceSendOverJack, ASendCommandDeliversTheFilesMessages) {
    JackServer server;
    ASSERT_TRUE(server.up()) << server.log();
    TempDir dir;
    Bytes sysex = {0xF0, 0x43, 0x10, 0x00, 0xF7};
    Bytes long_message(600, 0x55);
    long_message.front() = 0xF0;
    long_message.back() = 0xF7;
    sysex.insert(sysex.end(), long_message.begin(), long_message.end());
    const std::string syx = dir.write("out.syx", sysex);

    ChildProcess device(JX_DEVICE_PATH, {"--name", "jx-sender"});
    ASSERT_TRUE(device.wait_for_text("\"ready\"", 10s)) << device.err();
    JackPeer listener("jx-listener", false);
    ASSERT_TRUE(listener.ok());
    ASSERT_TRUE(listener.connect("jx-sender-out"));
    ASSERT_TRUE(listener.wait_connected(10s));

    ASSERT_TRUE(device.write_line("send " + syx));
    EXPECT_TRUE(listener.wait_for(sysex.size(), 10s) && listener.bytes() == sysex)
        << listener.bytes().size() << " bytes arrived";
    ASSERT_TRUE(device.wait_for_text("\"sent\"", 10s)) << device.err();
    std::string done;
    for (const std::string& line : device.lines())
        if (line.find("\"sent\"") != std::string::npos) done = line;
    EXPECT_NE(done.find("\"result\":\"sent\""), std::string::npos) << done;
    EXPECT_NE(done.find("\"messages\":2"), std::string::npos) << done;
    EXPECT_NE(done.find("\"file\":\"" + syx + "\""), std::string::npos) << done;
}

}  // namespace
}  // namespace jx::test
