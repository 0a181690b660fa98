// jx-device sending and jx-cli receive recording, as two programs over a private JACK server: what
// the device sends is stored byte for byte in every format, and every fault on the way ends as
// the receiver's rules say, with nothing lost that had arrived before it.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "jack_peer.h"
#include "jack_server.h"
#include "run_command.h"
#include "sample_file_maker.h"
#include "temp_dir.h"
#include "transfer_files.h"
#include "xdg_folders.h"
#ifdef JX_HAVE_SNDFILE
#include "sndfile_peer.h"
#endif

namespace jx::test {
namespace {

using namespace std::chrono_literals;

struct Received {
    int status = 0;
    std::vector<std::string> lines;  // one JSON line per entry written
    std::string err;
};

// The data bytes the 8 MiB receive buffer holds.
constexpr size_t receive_buffer_limit = 8388599;

// The byte offset of a WAV image's sample data with no "smpl" chunk.
constexpr size_t wav_data_offset = 44;

// A JACK server, a jx-device on it holding samples, and a home of its own for jx-cli.
class ReceiveOverJack : public ::testing::Test {
  protected:
    XdgFolders folders;
    TempDir dir;
    JackServer server;
    std::unique_ptr<ChildProcess> device;
    const std::string out = dir.file("received");

    void start_device(std::vector<std::string> args) {
        ASSERT_TRUE(server.up()) << server.log();
        device = std::make_unique<ChildProcess>(JX_DEVICE_PATH, args);
        ASSERT_TRUE(device->wait_for_text("\"ready\"", 10s)) << device->err();
    }

    std::unique_ptr<ChildProcess> start_receive(std::vector<std::string> options) {
        std::vector<std::string> args = {"receive",   "--from", "jx-device", "--to",
                                         "jx-device", "--out",  out};
        args.insert(args.end(), options.begin(), options.end());
        return std::make_unique<ChildProcess>(JX_CLI_PATH, args);
    }

    // A receive from a bare sender at the server, asking `asked` for sample 0 without the
    // handshake and ending after a second of silence; returns once the request went out, that
    // is, once the recording listens.
    std::unique_ptr<ChildProcess> receive_from(const char* from, JackPeer& asked) {
        auto r = std::make_unique<ChildProcess>(
            JX_CLI_PATH, std::vector<std::string>{"receive", "--from", from, "--to",
                                                  asked.port_name(), "--no-handshake", "--request",
                                                  "0", "--idle", "1", "--out", out});
        EXPECT_TRUE(asked.wait_for(7, 10s)) << r->err();
        return r;
    }

    Received finish(ChildProcess& receive, std::chrono::milliseconds limit = 60s) {
        const int status = receive.wait_exit(limit);
        return {status, receive.lines(), receive.err()};
    }

    Received receive(std::vector<std::string> options) {
        auto r = start_receive(options);
        return finish(*r);
    }

    // The device's line that ends its send, with the result it reports.
    bool device_sent(const std::string& result, std::chrono::milliseconds limit = 20s) {
        return device->wait_for_line(
            [&](const std::string& line) {
                return line.find("\"event\":\"sent\"") != std::string::npos &&
                       line.find("\"result\":\"" + result + "\"") != std::string::npos;
            },
            limit);
    }

    std::string written(const std::string& name) const { return out + "/" + name; }

    // The dump `jx-cli sds` writes for the sample, to sample number `samplepos` - 1.
    Bytes sds_reference(const std::string& sample, int samplepos) {
        const std::string file = dir.file("reference-" + std::to_string(samplepos) + ".syx");
        CommandResult r = run_command(
            JX_CLI_PATH, {"sds", sample, "--out", file, "--samplepos", std::to_string(samplepos)},
            dir.file("sds.err"));
        EXPECT_EQ(r.status, 0) << r.err;
        return read_file(file);
    }
};

// A WAV image cut off after `kept` bytes: the samples that came are the source's, and its sizes
// say what it holds, so that it reads as the shorter sample it is.
void expect_part_of(const Bytes& source, const Bytes& got, size_t kept) {
    ASSERT_EQ(got.size(), kept);
    EXPECT_TRUE(
        std::equal(got.begin() + wav_data_offset, got.end(), source.begin() + wav_data_offset));
    const auto le32 = [&](size_t at) {
        return uint32_t{got[at]} | uint32_t{got[at + 1]} << 8 | uint32_t{got[at + 2]} << 16 |
               uint32_t{got[at + 3]} << 24;
    };
    EXPECT_EQ(le32(4), kept - 8);                 // RIFF size
    EXPECT_EQ(le32(40), kept - wav_data_offset);  // data size
}

// A 16-bit and a 24-bit sample asked for by number under the handshake: as SDS the very dump that
// Send sends for the file, as WAV the file itself (a plain mono WAV comes back byte for byte), as
// AIFF the same samples at the same rate as libsndfile reads them.
TEST_F(ReceiveOverJack, RequestedSamplesArriveExactInEveryFormat) {
    const std::string wav16 = dir.write("ramp16.wav", ramp_wav(700, 16));
    const std::string wav24 = dir.write("ramp24.wav", ramp_wav(500, 24));
    ASSERT_NO_FATAL_FAILURE(start_device({"--hold", wav16, "--hold", wav24}));
    const struct {
        const char* format;
        const char* extension;
    } formats[] = {{"sds", ".syx"}, {"wav", ".wav"}, {"aiff", ".aif"}};
    for (const auto& f : formats) {
        for (int number = 0; number < 2; ++number) {
            SCOPED_TRACE(std::string(f.format) + " sample " + std::to_string(number));
            const std::string& source = number == 0 ? wav16 : wav24;
            std::filesystem::remove_all(out);
            Received r = receive({"--handshake", "--format", f.format, "--request",
                                  std::to_string(number), "--count", "1"});
            ASSERT_EQ(r.status, 0) << r.err;
            ASSERT_EQ(r.lines.size(), 1u);
            const std::string file = written("unnamed1" + std::string(f.extension));
            EXPECT_NE(r.lines[0].find(file), std::string::npos) << r.lines[0];
            const Bytes got = read_file(file);
            if (std::string(f.format) == "sds") {
                EXPECT_EQ(got, sds_reference(source, number + 1));
            } else if (std::string(f.format) == "wav") {
                EXPECT_EQ(got, read_file(source));
            } else {
#ifdef JX_HAVE_SNDFILE
                const int bits = number == 0 ? 16 : 24;
                EXPECT_EQ(peer_values(file, bits), peer_values(source, bits));
#endif
                EXPECT_EQ(got.size(), 54u + (read_file(source).size() - wav_data_offset));
            }
        }
    }
}

// A SysEx file of a mebibyte in messages of every size, sent by the device at full speed while a
// requested dump is still arriving: the dump is stored first, then at the idle stop the SysEx, byte
// for byte.
TEST_F(ReceiveOverJack, LongSysExAfterADumpArrivesByteExact) {
    const std::string wav16 = dir.write("ramp16.wav", ramp_wav(300, 16));
    Bytes sysex;
    for (uint8_t seed = 0; sysex.size() < (1u << 20); ++seed) {
        const Bytes m = sysex_message(seed % 5 == 0 ? 70000 : 17 + seed * 61, seed);
        sysex.insert(sysex.end(), m.begin(), m.end());
    }
    const std::string syx = dir.write("long.syx", sysex);
    ASSERT_NO_FATAL_FAILURE(start_device({"--hold", wav16, "--no-pacing"}));

    auto r = start_receive({"--handshake", "--format", "wav", "--request", "0", "--idle", "1"});
    ASSERT_TRUE(device->wait_for_text("\"request\"", 10s)) << device->err();
    ASSERT_TRUE(device->write_line("send " + syx));
    Received got = finish(*r);
    ASSERT_EQ(got.status, 0) << got.err;
    ASSERT_EQ(got.lines.size(), 2u);
    EXPECT_EQ(read_file(written("unnamed1.wav")), read_file(wav16));
    EXPECT_EQ(read_file(written("unnamed2.syx")), sysex);
}

// Every fault on the way, in the WAV form. A fault the handshake mends leaves the whole sample; one
// that ends the dump leaves the header and every packet accepted before it (40 samples each).
TEST_F(ReceiveOverJack, FaultsEndAsTheReceiverSaysAndLoseNothingThatArrived) {
    const Bytes source = ramp_wav(400, 16);  // ten packets
    const std::string wav = dir.write("ramp.wav", source);
    struct Case {
        const char* what;
        std::vector<std::string> device_faults;
        int status;                 // jx-cli receive's exit status
        const char* device_result;  // how the device says its send ended
        int packets;                // packets in the stored image; -1: the whole sample
    } cases[] = {
        {"bad checksum once", {"--send-bad-checksum", "3"}, 0, "sent", -1},
        {"wrong number once", {"--send-wrong-number", "3"}, 0, "sent", -1},
        {"cut short once", {"--send-cut-short", "3"}, 0, "sent", -1},
        {"header without a period once", {"--send-zero-period"}, 0, "sent", -1},
        {"three rejections",
         {"--send-bad-checksum", "3", "--send-faults-always"},
         1,
         "cancelled",
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {"--hold", wav};
        args.insert(args.end(), c.device_faults.begin(), c.device_faults.end());
        ASSERT_NO_FATAL_FAILURE(start_device(args));
        std::filesystem::remove_all(out);
        Received r = receive({"--handshake", "--format", "wav", "--request", "0", "--count", "1"});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_TRUE(device_sent(c.device_result)) << device->err();
        ASSERT_EQ(r.lines.size(), 1u) << r.err;
        const Bytes got = read_file(written("unnamed1.wav"));
        if (c.packets < 0)
            EXPECT_EQ(got, source);
        else
            expect_part_of(source, got, wav_data_offset + static_cast<size_t>(c.packets) * 40 * 2);
        device.reset();
    }
}

// The dump cut off half way, by the device switched off or by Stop Rec (Ctrl-C) while it hangs:
// what came before is stored, the header and the four packets that were answered, and a device
// still there hears a CANCEL.
TEST_F(ReceiveOverJack, DumpCutOffHalfWayKeepsWhatArrived) {
    const Bytes source = ramp_wav(400, 16);
    const std::string wav = dir.write("ramp.wav", source);
    const size_t kept = wav_data_offset + 4 * 40 * 2;
    {
        SCOPED_TRACE("device gone");
        ASSERT_NO_FATAL_FAILURE(start_device({"--hold", wav, "--send-unplug", "4"}));
        std::filesystem::remove_all(out);
        auto r = start_receive({"--handshake", "--format", "wav", "--request", "0", "--idle", "1"});
        ASSERT_TRUE(device->wait_for_text("\"unplugged\"", 20s)) << device->err();
        // The device's ports go away with it: the next handshake reply finds no port, and the
        // command says so.
        Received got = finish(*r);
        EXPECT_EQ(got.status, 1);
        EXPECT_NE(got.err.find("jx-device-in:in is gone"), std::string::npos) << got.err;
        ASSERT_EQ(got.lines.size(), 1u) << got.err;
        expect_part_of(source, read_file(written("unnamed1.wav")), kept);
        device.reset();
    }
    {
        SCOPED_TRACE("Stop Rec");
        ASSERT_NO_FATAL_FAILURE(start_device({"--hold", wav, "--send-stall", "4"}));
        std::filesystem::remove_all(out);
        auto r = start_receive({"--handshake", "--format", "wav", "--request", "0"});
        ASSERT_TRUE(device->wait_for_text("\"stalled\"", 20s)) << device->err();
        r->signal(SIGINT);
        Received got = finish(*r);
        EXPECT_EQ(got.status, 130) << got.err;
        EXPECT_TRUE(device_sent("cancelled")) << device->err();
        ASSERT_EQ(got.lines.size(), 1u) << got.err;
        expect_part_of(source, read_file(written("unnamed1.wav")), kept);
    }
}

// Nothing waits for ever, and a dump cut off is never presented as complete: a request for a
// sample the device does not hold, a device switched off or a server gone mid-dump without
// --idle, and a device that hangs mid-dump with --idle, each end with exit 1 and the reason; what
// came of a dump is written, its JSON line says "complete": false with the frames held and
// announced.
TEST_F(ReceiveOverJack, EveryWaitEndsWithItsReasonAndPartialDumpsAreNamed) {
    const Bytes source = ramp_wav(400, 16);  // ten packets of 40 frames
    const std::string wav = dir.write("ramp.wav", source);
    const std::string partial = "\"complete\": false, \"frames\": 160, \"frames_announced\": 400";
    enum class End { by_itself, server_killed };
    const struct Case {
        const char* what;
        std::vector<std::string> device_args;
        std::vector<std::string> receive_args;
        End end;
        const char* reason;
        bool partial;  // four packets of the dump arrived
    } cases[] = {
        {"request for a sample not held",
         {},
         {"--request", "7"},
         End::by_itself,
         "nothing came within 5 seconds of the request for sample 7",
         false},
        {"request for a sample not held, --idle",
         {},
         {"--request", "7", "--idle", "1"},
         End::by_itself,
         "nothing came within 1 second of the request for sample 7",
         false},
        {"device switched off mid-dump",
         {"--hold", wav, "--send-unplug", "4"},
         {"--request", "0"},
         End::by_itself,
         "the input 'jx-device-out:out' is gone",
         true},
        {"server gone mid-dump",
         {"--hold", wav, "--send-stall", "4"},
         {"--request", "0"},
         End::server_killed,
         "is gone",
         true},
        {"device hangs mid-dump, --idle",
         {"--hold", wav, "--send-stall", "4"},
         {"--request", "0", "--idle", "2"},
         End::by_itself,
         "holds 160 of the 400 frames its dump announced",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(start_device(c.device_args));
        std::filesystem::remove_all(out);
        std::vector<std::string> args = {"--handshake", "--format", "wav"};
        args.insert(args.end(), c.receive_args.begin(), c.receive_args.end());
        auto r = start_receive(args);
        if (c.end == End::server_killed) {
            ASSERT_TRUE(device->wait_for_text("\"stalled\"", 20s)) << device->err();
            server.kill_now();
        }
        Received got = finish(*r, 20s);
        EXPECT_EQ(got.status, 1) << got.err;
        EXPECT_NE(got.err.find(c.reason), std::string::npos) << got.err;
        if (c.partial) {
            ASSERT_EQ(got.lines.size(), 1u) << got.err;
            EXPECT_NE(got.lines[0].find(partial), std::string::npos) << got.lines[0];
            expect_part_of(source, read_file(written("unnamed1.wav")), wav_data_offset + 160 * 2);
        } else {
            EXPECT_TRUE(got.lines.empty());
        }
        device.reset();
        if (c.end == End::server_killed) break;  // the last case: the server is gone
    }
}

// SIGTERM and SIGHUP stop the recording as Ctrl-C does: what came is written, exit 128 + the
// signal.
TEST_F(ReceiveOverJack, TermAndHangUpStopAsCtrlCDoes) {
    const std::string wav = dir.write("ramp.wav", ramp_wav(400, 16));
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        ASSERT_NO_FATAL_FAILURE(start_device({"--hold", wav, "--send-stall", "4"}));
        std::filesystem::remove_all(out);
        auto r = start_receive({"--handshake", "--format", "wav", "--request", "0"});
        ASSERT_TRUE(device->wait_for_text("\"stalled\"", 20s)) << device->err();
        r->signal(signal);
        Received got = finish(*r);
        EXPECT_EQ(got.status, 128 + signal) << got.err;
        EXPECT_TRUE(device_sent("cancelled")) << device->err();
        ASSERT_EQ(got.lines.size(), 1u) << got.err;
        EXPECT_NE(got.lines[0].find("\"complete\": false"), std::string::npos) << got.lines[0];
        device.reset();
    }
}

// A folder nothing can be written to is found out before recording, with the reason.
TEST_F(ReceiveOverJack, UnwritableFolderIsRefusedBeforeRecording) {
    ASSERT_NO_FATAL_FAILURE(start_device({}));
    Received r = finish(*std::make_unique<ChildProcess>(
        JX_CLI_PATH, std::vector<std::string>{"receive", "--from", "jx-device", "--to", "jx-device",
                                              "--out", "/proc/1", "--idle", "1"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write into '/proc/1': "), std::string::npos) << r.err;
    EXPECT_FALSE(device->wait_for_text("\"request\"", 100ms));
}

// A folder that refuses the entry once recording ran (here it was replaced by a file) does not
// cost what arrived: the entry goes to a folder of its own in $TMPDIR, named on stderr and in its
// JSON line, with the reason given once.
TEST_F(ReceiveOverJack, EntryTheFolderRefusesGoesToATemporaryFolder) {
    const Bytes source = ramp_wav(400, 16);
    const std::string wav = dir.write("ramp.wav", source);
    const std::string tmp = dir.file("tmp");
    std::filesystem::create_directory(tmp);
    ScopedEnv tmpdir("TMPDIR", tmp);
    ASSERT_NO_FATAL_FAILURE(start_device({"--hold", wav, "--send-stall", "4"}));
    auto r = start_receive({"--handshake", "--format", "wav", "--request", "0"});
    ASSERT_TRUE(device->wait_for_text("\"stalled\"", 20s)) << device->err();
    std::filesystem::remove_all(out);
    dir.write("received", Bytes{1});
    r->signal(SIGINT);
    Received got = finish(*r);
    EXPECT_EQ(got.status, 130) << got.err;
    const size_t said = got.err.find("cannot write '" + written("unnamed1.wav") + "': ");
    EXPECT_NE(said, std::string::npos) << got.err;
    EXPECT_EQ(got.err.find("cannot write", said + 1), std::string::npos) << got.err;
    ASSERT_EQ(got.lines.size(), 1u) << got.err;
    const std::string prefix = "\"file\": \"" + tmp + "/jx-received-";
    const size_t at = got.lines[0].find(prefix);
    ASSERT_NE(at, std::string::npos) << got.lines[0];
    const std::string path = got.lines[0].substr(at + 9, got.lines[0].find('"', at + 9) - (at + 9));
    EXPECT_NE(got.err.find("written to '" + path + "' instead"), std::string::npos) << got.err;
    expect_part_of(source, read_file(path), wav_data_offset + 160 * 2);
}

// When the folder and the temporary folder both refuse an entry, the receive ends at once with
// the reason, exit 1, instead of recording more that would be lost the same way.
TEST_F(ReceiveOverJack, AnEntryWrittenNowhereEndsTheReceive) {
    const std::string wav = dir.write("ramp.wav", ramp_wav(4000, 16));  // 100 packets
    // The temporary folder is a file, for jx-cli alone: the test's own helpers need theirs.
    const std::string not_a_folder = dir.write("tmp", Bytes{1});
    ASSERT_NO_FATAL_FAILURE(start_device({"--hold", wav}));
    auto r = std::make_unique<ChildProcess>(
        "/usr/bin/env",
        std::vector<std::string>{"TMPDIR=" + not_a_folder, JX_CLI_PATH, "receive", "--from",
                                 "jx-device", "--to", "jx-device", "--out", out, "--handshake",
                                 "--format", "wav", "--request", "0"});
    ASSERT_TRUE(device->wait_for_text("\"sending\"", 20s)) << device->err();
    std::filesystem::remove_all(out);
    dir.write("received", Bytes{1});
    // The dump is stored as it completes; writing it fails twice, and the receive ends.
    Received got = finish(*r, 30s);
    EXPECT_EQ(got.status, 1) << got.err;
    EXPECT_NE(got.err.find("the recording ended by itself: an entry could be written neither "
                           "to the folder nor to the temporary folder"),
              std::string::npos)
        << got.err;
    ASSERT_EQ(got.lines.size(), 1u) << got.err;
    EXPECT_NE(got.lines[0].find("\"file\": \"\""), std::string::npos) << got.lines[0];
}

// One SysEx message longer than the 1 MiB the input once held arrives whole; one longer than the
// 8 MiB receive buffer fills it and ends the recording with that reason alone.
TEST_F(ReceiveOverJack, SingleLongMessagesArriveWholeOrFillTheBuffer) {
    for (const size_t size : {(size_t{1} << 20) + 1, (size_t{8} << 20) + 1}) {
        SCOPED_TRACE(size);
        ASSERT_NO_FATAL_FAILURE(start_device({"--no-pacing"}));
        const Bytes message = sysex_message(size, 9);
        const std::string syx = dir.write("one.syx", message);
        std::filesystem::remove_all(out);
        // The long one takes many seconds to cross the server and fill the buffer.
        const bool fills = size >= receive_buffer_limit;
        auto r =
            start_receive({"--no-handshake", "--idle", fills ? "120" : "5", "--request", "99"});
        ASSERT_TRUE(device->wait_for_text("\"request\"", 10s)) << device->err();
        ASSERT_TRUE(device->write_line("send " + syx));
        Received got = finish(*r, 120s);
        const Bytes stored = read_file(written("unnamed1.syx"));
        if (!fills) {
            EXPECT_EQ(got.status, 0) << got.err;
            EXPECT_TRUE(stored == message);
        } else {
            EXPECT_EQ(got.status, 1) << got.err;
            EXPECT_NE(got.err.find("the receive buffer of 8 MiB is full"), std::string::npos)
                << got.err;
            EXPECT_EQ(got.err.find("came faster"), std::string::npos) << got.err;
            ASSERT_EQ(stored.size(), receive_buffer_limit);
            EXPECT_TRUE(std::equal(stored.begin(), stored.end(), message.begin()));
        }
        device.reset();
    }
}

// A SysEx message longer than an input buffer whose end comes slowly, a piece at a time, is
// recorded whole: --idle counts the silence from the last byte, not from the last buffer.
TEST_F(ReceiveOverJack, AMessageComingSlowlyKeepsIdleFromEndingTheRecording) {
    ASSERT_TRUE(server.up()) << server.log();
    JackPeer sender("jxt-slow", true);
    JackPeer asked("jxt-asked", false);
    ASSERT_TRUE(sender.ok() && asked.ok());
    auto r = receive_from("jxt-slow", asked);

    const Bytes message = sysex_message(20000, 3);
    const size_t quick = 17000;  // a buffer fills at once
    const size_t piece = 250;
    for (size_t at = 0; at < quick; at += 1000)
        sender.send(Bytes(message.begin() + at, message.begin() + std::min(quick, at + 1000)));
    ASSERT_TRUE(sender.wait_sent(10s));
    // The rest takes three seconds, each piece well within the second of --idle.
    auto due = std::chrono::steady_clock::now();
    for (size_t at = quick; at < message.size(); at += piece) {
        due += 250ms;
        std::this_thread::sleep_until(due);
        sender.send(Bytes(message.begin() + at, message.begin() + at + piece));
    }
    Received got = finish(*r);
    EXPECT_EQ(got.status, 0) << got.err;
    ASSERT_EQ(got.lines.size(), 1u) << got.err;
    EXPECT_TRUE(read_file(written("unnamed1.syx")) == message);
}

// A source that stops in the middle of a message: what came of it is kept in the entry, written,
// and the receive says that the message has no end, exit 1; it never ends with success having
// stored nothing.
TEST_F(ReceiveOverJack, AMessageCutOffByTheStopIsKeptAndSaidSo) {
    ASSERT_TRUE(server.up()) << server.log();
    JackPeer sender("jxt-cut", true);
    JackPeer asked("jxt-asked", false);
    ASSERT_TRUE(sender.ok() && asked.ok());
    auto r = receive_from("jxt-cut", asked);
    Bytes begun = sysex_message(1002, 5);
    begun.pop_back();  // F0 and 1000 data bytes, no F7
    sender.send(begun);
    ASSERT_TRUE(sender.wait_sent(10s));
    Received got = finish(*r);
    EXPECT_EQ(got.status, 1) << got.err;
    EXPECT_NE(got.err.find("stopped inside a SysEx message: its first 1001 bytes are kept"),
              std::string::npos)
        << got.err;
    ASSERT_EQ(got.lines.size(), 1u) << got.err;
    EXPECT_TRUE(read_file(written("unnamed1.syx")) == begun);
}

// A plain SysEx message between two packets of a dump stored as WAV does not land among the
// samples: the image is whole, the message an entry of its own.
TEST_F(ReceiveOverJack, PlainSysExBetweenPacketsStaysOutOfTheImage) {
    const std::string wav = dir.write("ramp.wav", ramp_wav(400, 16));
    ASSERT_NO_FATAL_FAILURE(start_device({"--hold", wav, "--send-plain-before", "4"}));
    Received r = receive({"--handshake", "--format", "wav", "--request", "0", "--idle", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(written("unnamed1.wav")), read_file(wav));
    ASSERT_EQ(r.lines.size(), 2u) << r.err;
    EXPECT_EQ(read_file(written("unnamed2.syx")), (Bytes{0xF0, 0x7D, 0x00, 0x01, 0x02, 0xF7}));
}

// The receive buffer holds 8388599 bytes: a longer stream stops the recording with exactly those
// stored, and the command says that it ended by itself.
TEST_F(ReceiveOverJack, OverflowStopsWithTheFullBufferStored) {
    Bytes sysex;
    for (uint8_t seed = 0; sysex.size() < (9u << 20); ++seed) {
        const Bytes m = sysex_message(65536, seed);
        sysex.insert(sysex.end(), m.begin(), m.end());
    }
    const std::string syx = dir.write("nine.syx", sysex);
    ASSERT_NO_FATAL_FAILURE(start_device({"--no-pacing"}));
    // A request for a sample the device does not hold shows that the receiver listens.
    auto r = start_receive({"--no-handshake", "--idle", "5", "--request", "99"});
    ASSERT_TRUE(device->wait_for_text("\"request\"", 10s)) << device->err();
    ASSERT_TRUE(device->write_line("send " + syx));
    Received got = finish(*r, 120s);
    EXPECT_EQ(got.status, 1) << got.err;
    EXPECT_NE(got.err.find("ended by itself"), std::string::npos) << got.err;
    const Bytes stored = read_file(written("unnamed1.syx"));
    ASSERT_EQ(stored.size(), 8388599u);
    const auto differs = std::mismatch(stored.begin(), stored.end(), sysex.begin());
    EXPECT_EQ(differs.first - stored.begin(), stored.end() - stored.begin());
}

}  // namespace
}  // namespace jx::test
