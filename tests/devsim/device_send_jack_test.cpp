// jx-device sending over a private JACK server: a command on its stdin makes a SysEx file's
// messages arrive at a listener connected to its output port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "jack_peer.h"
#include "jack_server.h"
#include "sds_dump_maker.h"
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

// Every dump jx-device takes is reported as it ends: one cut off by the next dump's header, one
// its sender cancels, and the complete ones after them.
TEST(DeviceReceiveOverJack, EveryDumpIsReportedAsItEnds) {
    JackServer server;
    ASSERT_TRUE(server.up()) << server.log();
    ChildProcess device(JX_DEVICE_PATH, {"--name", "jx-taker"});
    ASSERT_TRUE(device.wait_for_text("\"ready\"", 10s)) << device.err();
    JackPeer sender("jx-giver", true);
    ASSERT_TRUE(sender.ok());
    ASSERT_TRUE(sender.connect("jx-taker-in"));
    ASSERT_TRUE(sender.wait_connected(10s));

    DumpFields dump;
    for (int k = 0; k < 100; ++k) dump.samples.push_back(k * 100);  // 3 packets
    const Bytes header = dump_header(dump);
    const Bytes packet = data_packet(dump, 0);
    const Bytes cancel = {0xF0, 0x7E, 0x00, 0x7D, 0x01, 0xF7};
    for (const Bytes& message : {header, packet, header, packet, cancel, whole_dump(dump)})
        sender.send(message);
    ASSERT_TRUE(sender.wait_sent(10s));
    ASSERT_TRUE(device.wait_for_text("\"event\":\"sample\"", 10s)) << device.err();
    std::vector<std::string> ends;
    for (const std::string& line : device.lines())
        if (line.find("\"dump end\"") != std::string::npos ||
            line.find("\"event\":\"sample\"") != std::string::npos)
            ends.push_back(line);
    ASSERT_EQ(ends.size(), 3u) << device.err();
    const std::vector<std::vector<std::string>> said = {
        {"\"dump end\"", "\"result\":\"cut off\"", "\"words\":40", "\"length\":100"},
        {"\"dump end\"", "\"result\":\"cancelled\"", "\"words\":40", "\"length\":100"},
        {"\"event\":\"sample\"", "\"length\":100"},
    };
    for (size_t k = 0; k < said.size(); ++k)
        for (const std::string& part : said[k])
            EXPECT_NE(ends[k].find(part), std::string::npos) << ends[k];
}

// The server dies: jx-device says so and ends with 1, instead of living on and reporting sends
// that could not leave.
TEST(DeviceOverJack, EndsWithItsServer) {
    JackServer server;
    ASSERT_TRUE(server.up()) << server.log();
    ChildProcess device(JX_DEVICE_PATH, {"--name", "jx-orphan"});
    ASSERT_TRUE(device.wait_for_text("\"ready\"", 10s)) << device.err();
    server.kill_now();
    EXPECT_EQ(device.wait_exit(10s), 1) << device.err();
    EXPECT_NE(device.err().find("jx-device: the JACK server has gone away"), std::string::npos)
        << device.err();
}

}  // namespace
}  // namespace jx::test
