// jx-device sending over a private JACK server: a command on its stdin makes a SysEx file's
// messages arrive at a listener connected to its output port.
#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "child_process.h"
#include "jack_server.h"
#include "temp_dir.h"

namespace jx::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// Everything that arrives at one JACK MIDI input, byte for byte.
class Listener {
  public:
    Listener() : in_(RtMidi::UNIX_JACK, "jx-listener") {
        in_.ignoreTypes(false, true, true);
        in_.setCallback(&Listener::take, this);
    }
    ~Listener() { in_.closePort(); }

    bool connect(const std::string& port_part) {
        for (unsigned i = 0; i < in_.getPortCount(); ++i) {
            if (in_.getPortName(i).find(port_part) != std::string::npos) {
                in_.openPort(i, "in");
                return true;
            }
        }
        return false;
    }
    // True once exactly `bytes` have arrived; false when the deadline passed first.
    bool wait_for(const Bytes& bytes, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, limit, [&] { return bytes_.size() >= bytes.size(); }) &&
               bytes_ == bytes;
    }
    Bytes bytes() {
        std::lock_guard lock(mutex_);
        return bytes_;
    }

  private:
    static void take(double, std::vector<unsigned char>* message, void* self) {
        auto& listener = *static_cast<Listener*>(self);
        {
            std::lock_guard lock(listener.mutex_);
            listener.bytes_.insert(listener.bytes_.end(), message->begin(), message->end());
        }
        listener.arrived_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    Bytes bytes_;
    // Last: the client's thread starts here, after what its callback uses is made.
    RtMidiIn in_;
};

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
    Listener listener;
    ASSERT_TRUE(listener.connect("jx-sender-out"));

    ASSERT_TRUE(device.write_line("send " + syx));
    EXPECT_TRUE(listener.wait_for(sysex, 10s)) << listener.bytes().size() << " bytes arrived";
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
