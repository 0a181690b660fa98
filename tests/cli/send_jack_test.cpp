// jx-cli send and jx-device as two programs talking over a private JACK server: what arrives is
// byte for byte what was sent, and every answer of the device ends the send as it should.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "jack_server.h"
#include "maker_message.h"
#include "run_command.h"
#include "sample_file_maker.h"
#include "temp_dir.h"
#include "transfer_files.h"
#include "xdg_folders.h"

namespace jx::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

struct SendResult {
    int status;
    std::vector<std::string> lines;
    std::string err;
};

// A JACK server, a jx-device on it, and a home of its own for jx-cli's settings.
class SendOverJack : public ::testing::Test {
  protected:
    XdgFolders folders;
    TempDir dir;
    JackServer server;
    std::unique_ptr<ChildProcess> device;

    void start_device(std::vector<std::string> faults = {}) {
        ASSERT_TRUE(server.up()) << server.log();
        std::vector<std::string> args = {"--out", dir.file("taken.syx")};
        args.insert(args.end(), faults.begin(), faults.end());
        device = std::make_unique<ChildProcess>(JX_DEVICE_PATH, args);
        ASSERT_TRUE(device->wait_for_text("\"ready\"", 10s)) << device->err();
    }

    SendResult send(const std::vector<std::string>& files, std::vector<std::string> options) {
        std::vector<std::string> args = {"send"};
        args.insert(args.end(), files.begin(), files.end());
        std::vector<std::string> to = {"--to", "jx-device", "--from", "jx-device"};
        args.insert(args.end(), to.begin(), to.end());
        args.insert(args.end(), options.begin(), options.end());
        ChildProcess cli(JX_CLI_PATH, args);
        const int status = cli.wait_exit(30s);
        return {status, cli.lines(), cli.err()};
    }

    Bytes taken() const { return read_file(dir.file("taken.syx")); }

    // The dump `jx-cli sds` writes for a sample sent as the given Samplepos, with the header
    // options given.
    Bytes sds_reference(const std::string& sample, int samplepos,
                        const std::vector<std::string>& options = {}) {
        std::string out = dir.file("reference-" + std::to_string(samplepos));
        for (const std::string& option : options) out += option;
        out += ".syx";
        std::vector<std::string> args = {"sds", sample,        "--out",
                                         out,   "--samplepos", std::to_string(samplepos)};
        args.insert(args.end(), options.begin(), options.end());
        CommandResult r = run_command(JX_CLI_PATH, args, dir.file("sds.err"));
        EXPECT_EQ(r.status, 0) << r.err;
        return read_file(out);
    }
};

// A SysEx file, a 16-bit and a 24-bit sample under the handshake at Turbo speed: the device takes
// the SysEx messages as they are in the file and each sample as `jx-cli sds` writes its dump,
// numbered on from the SysEx entry.
TEST_F(SendOverJack, EveryKindOfEntryArrivesByteExact) {
    ASSERT_NO_FATAL_FAILURE(start_device());
    const Bytes sysex = concat({sysex_message(40, 1), sysex_message(300, 2)});
    const std::string syx = dir.write("dump.syx", sysex);
    const std::string wav16 = dir.write("ramp16.wav", ramp_wav(700, 16));
    const std::string wav24 = dir.write("ramp24.wav", ramp_wav(500, 24));

    SendResult r = send({syx, wav16, wav24}, {"--handshake", "--turbo"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(device->wait_for_line(
        [](const std::string& line) {
            return line.find("\"sample\"") != std::string::npos &&
                   line.find("\"number\":2") != std::string::npos;
        },
        10s))
        << device->err();

    const Bytes expected = concat({sysex, sds_reference(wav16, 2), sds_reference(wav24, 3)});
    EXPECT_EQ(taken(), expected);
    ASSERT_EQ(r.lines.size(), 4u);  // the Turbo speed, then one line per entry
    EXPECT_NE(r.lines[0].find("\"turbo_speed\""), std::string::npos) << r.lines[0];
    for (size_t i = 1; i < r.lines.size(); ++i)
        EXPECT_NE(r.lines[i].find("\"result\": \"sent\""), std::string::npos) << r.lines[i];
}

// Messages longer than one JACK period carries, and far longer than a port's buffer, arrive whole.
TEST_F(SendOverJack, LongSysExMessagesArriveWhole) {
    ASSERT_NO_FATAL_FAILURE(start_device());
    const Bytes sysex = concat({sysex_message(7000, 3), sysex_message(100 * 1024, 4)});
    const std::string syx = dir.write("long.syx", sysex);

    SendResult r = send({syx}, {"--turbo"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(device->wait_for_line(
        [](const std::string& line) { return line.find("\"length\":102400") != std::string::npos; },
        10s))
        << device->err();
    EXPECT_EQ(taken(), sysex);
}

// The server's ports come first, the virtual device last, and jx-cli's own ports never.
TEST_F(SendOverJack, PortsListsTheServersPortsThenTheVirtualDevice) {
    ASSERT_NO_FATAL_FAILURE(start_device());
    CommandResult r = run_command(JX_CLI_PATH, {"ports"}, dir.file("ports.err"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"direction\": \"in\", \"index\": 0, \"name\": \"jx-device-out:out\", \"api\": "
              "\"JACK\"}\n"
              "{\"direction\": \"in\", \"index\": 1, \"name\": \"Virtual device\", \"api\": "
              "\"virtual\"}\n"
              "{\"direction\": \"out\", \"index\": 0, \"name\": \"jx-device-in:in\", \"api\": "
              "\"JACK\"}\n"
              "{\"direction\": \"out\", \"index\": 1, \"name\": \"Virtual device\", \"api\": "
              "\"virtual\"}\n");
}

struct FaultCase {
    const char* name;
    std::vector<std::string> device_faults;
    int status;
    const char* reason;  // a part of what jx-cli says on stderr; empty: nothing
    std::vector<std::string> send_options = {"--handshake", "--turbo"};
};

class SendFaultsOverJack : public SendOverJack, public ::testing::WithParamInterface<FaultCase> {};

// The device's answers end the send with the exit status and reason they call for.
TEST_P(SendFaultsOverJack, EndsWithTheRightStatus) {
    const FaultCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(start_device(c.device_faults));
    const std::string wav = dir.write("ramp.wav", ramp_wav(600, 16));
    SendResult r = send({wav}, c.send_options);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (*c.reason)
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    else
        EXPECT_EQ(r.err, "");
    if (c.status == 0) {
        ASSERT_TRUE(device->wait_for_text("\"sample\"", 10s));
        EXPECT_EQ(taken().size(),
                  sds_reference(wav, 1).size() + (c.device_faults[0] == "--nak" ? 127u : 0u));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SendFaultsOverJack,
    ::testing::Values(
        FaultCase{"nak_once_is_sent_again", {"--nak", "3"}, 0, ""},
        FaultCase{"wait_gives_more_time", {"--wait", "2", "--wait-ms", "300"}, 0, ""},
        FaultCase{"cancel", {"--cancel", "4"}, 1, "Remotely cancelled."},
        FaultCase{"silence_later_times_out", {"--silent-from", "5"}, 1, "time"},
        // A wrong --from, or a device without the handshake: the dump header is never answered.
        FaultCase{"silent_header_times_out",
                  {"--silent-from", "-1"},
                  1,
                  "did not answer the dump header within 2 seconds"},
        // A device number other than the device's: it takes the dump as another device's and
        // keeps silent, and the reason names the option to check.
        FaultCase{"other_device_number",
                  {},
                  1,
                  "did not answer the dump header within 2 seconds (handshake time-out): check "
                  "--from and --sds-dev",
                  {"--handshake", "--sds-dev", "5"}},
        // Answers meant for another sender's dump.
        FaultCase{"nak_for_another_dump",
                  {"--nak", "3", "--nak-offset", "5"},
                  1,
                  "the answers do not belong to this dump"},
        // Under the handshake a pulled cable shows as silence; without it, the next
        // message finds the port gone.
        FaultCase{"unplugged_in_handshake", {"--unplug", "3"}, 1, "time-out"},
        FaultCase{
            "unplugged", {"--unplug", "3"}, 1, "jx-device-in:in is gone", {"--no-handshake"}}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// Ctrl-C, SIGTERM or SIGHUP while the device keeps silent after the dump header stops the send
// as Stop Send does, with 128 + the signal, and the device hears the dump cancelled.
TEST_F(SendOverJack, SignalsStopTheSendAndCancelTheDump) {
    const std::string wav = dir.write("ramp.wav", ramp_wav(600, 16));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        ASSERT_NO_FATAL_FAILURE(start_device({"--silent-from", "-1"}));
        ChildProcess cli(JX_CLI_PATH,
                         {"send", wav, "--to", "jx-device", "--from", "jx-device", "--handshake"});
        ASSERT_TRUE(device->wait_for_text("\"dump\"", 10s)) << device->err();
        EXPECT_EQ(cli.stop(signal, 10s), 128 + signal) << cli.err();
        EXPECT_NE(cli.err().find("stopped"), std::string::npos) << cli.err();
        // The device took the CANCEL for its dump (F0 7E 00 7D 00 F7) after the header.
        const Bytes cancel = {0xF0, 0x7E, 0x00, 0x7D, 0x00, 0xF7};
        Bytes got;
        for (auto deadline = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < deadline;
             device->wait_for_text("no such line", 50ms)) {
            got = taken();
            if (got.size() >= cancel.size() &&
                std::equal(cancel.begin(), cancel.end(), got.end() - cancel.size()))
                break;
        }
        ASSERT_GE(got.size(), cancel.size());
        EXPECT_TRUE(std::equal(cancel.begin(), cancel.end(), got.end() - cancel.size()));
        device.reset();
    }
}

// Our own two ends under the handshake: jx-cli send into jx-cli receive. With the extended header
// the receiver answers the dump header and the sample name message each, and the sender waits
// for both answers before the first packet: every packet is answered in step, and the dump
// arrives as `jx-cli sds` writes it (the KVR-9ZB name message is taken as the entry's name).
TEST_F(SendOverJack, OwnReceiverTakesTheExtendedHeaderDumpUnderTheHandshake) {
    // jx-device only gives the receiver ports to open; the send goes to the receiver's own.
    ASSERT_NO_FATAL_FAILURE(start_device());
    const std::string wav = dir.write("ramp.wav", ramp_wav(2000, 16));
    const struct {
        std::vector<std::string> options;
        std::string file;
    } cases[] = {
        {{"--xsds"}, "unnamed1.syx"},
        {{"--xsds", "--zbname"}, "RAMP.syx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.back());
        const std::string out = dir.file("received" + c.options.back());
        ChildProcess receive(JX_CLI_PATH,
                             {"receive", "--from", "jx-device", "--to", "jx-device", "--handshake",
                              "--format", "sds", "--count", "1", "--out", out});
        // The receiver's ports are there once `jx-cli ports` lists them in both directions.
        bool ready = false;
        for (auto deadline = std::chrono::steady_clock::now() + 10s;
             !ready && std::chrono::steady_clock::now() < deadline;) {
            CommandResult ports = run_command(JX_CLI_PATH, {"ports"}, dir.file("ports.err"));
            size_t listed = 0;
            for (size_t at = ports.out.find("\"jx-cli-"); at != std::string::npos;
                 at = ports.out.find("\"jx-cli-", at + 1))
                ++listed;
            ready = listed == 2;
        }
        ASSERT_TRUE(ready) << receive.err();

        std::vector<std::string> args = {"send",   wav,      "--to",       "jx-cli",
                                         "--from", "jx-cli", "--handshake"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ChildProcess send(JX_CLI_PATH, args);
        EXPECT_EQ(send.wait_exit(30s), 0) << send.err();
        ASSERT_EQ(send.lines().size(), 1u) << send.err();
        EXPECT_NE(send.lines()[0].find("\"result\": \"sent\""), std::string::npos)
            << send.lines()[0];
        ASSERT_EQ(receive.wait_exit(30s), 0) << receive.err();
        EXPECT_EQ(read_file(out + "/" + c.file), sds_reference(wav, 1, {"--xsds"}));
    }
}

// A file that is neither SysEx nor a sample, or that cannot be read, is refused before anything
// is sent, with the reason.
TEST_F(SendOverJack, FilesThatCannotBeSentAreRefusedBeforeSending) {
    ASSERT_NO_FATAL_FAILURE(start_device());
    const std::string syx = dir.write("a.syx", sysex_message(40, 1));
    const std::string text = dir.write("text.txt", Bytes{'h', 'e', 'l', 'l', 'o'});
    const std::string folder = dir.file("adir");
    std::filesystem::create_directory(folder);
    const struct {
        std::string file;
        std::string said;
    } cases[] = {
        {text, "is neither SysEx"},
        {folder, "cannot read '" + folder + "': is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        SendResult r = send({syx, c.file}, {"--no-handshake"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_TRUE(r.lines.empty());
    }
    EXPECT_TRUE(taken().empty());
}

}  // namespace
}  // namespace jx::test
