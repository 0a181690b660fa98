// jx-cli info run as a user runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "audio/sds.h"
#include "maker_message.h"
#include "run_command.h"
#include "sample_file_maker.h"
#include "temp_dir.h"
#include "upgrade_message.h"

namespace jx {
namespace {

struct CliInfo : ::testing::Test {
    test::TempDir dir;
    test::CommandResult run(std::vector<std::string> args) {
        args.insert(args.begin(), "info");
        return test::run_command(JX_CLI_PATH, args, dir.file("stderr.txt"));
    }
};

TEST_F(CliInfo, JsonLinesCarryTypeSizeAndExactInfoText) {
    test::Bytes body = {1, 2, 3, 4, 5};
    test::Bytes dump = test::concat({test::record(0x02, 'P', body), test::record(0x02, 'g', body)});
    dump[dump.size() - 4] ^= 1;  // the pattern's checksum is off
    std::string ka = dir.write("ka dump \"1\".syx", dump);
    std::string empty = dir.write("empty.syx", {});
    auto r = run({"--json", ka, empty});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"file\": \"" + dir.file("ka dump \\\"1\\\".syx") +
                  "\", \"type\": \"KA\", \"size\": \"34\", \"info\": \"Normal Globals: 1 Kits: 0 "
                  "Patterns: 0 Songs: 0 \\nBroken Globals: 0 Kits: 0 Patterns: 1 Songs: 0\"}\n"
                  "{\"file\": \"" +
                  empty + "\", \"type\": \"-\", \"size\": \"0\", \"info\": \"\"}\n");
}

// Names that are not UTF-8 stay apart and recoverable in JSON: each stray byte is \udcXX.
TEST_F(CliInfo, JsonKeepsNamesThatAreNotUtf8Recoverable) {
    std::string a = dir.write("kit\xff.syx", {});
    std::string b = dir.write("kit\xfe.syx", {});
    std::string c = dir.write("kit\xc3\xa4\xc3.syx", {});  // a whole "ä", then half of one
    auto r = run({"--json", a, b, c});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string folder = dir.path.string();
    auto line = [&](const std::string& name) {
        return "{\"file\": \"" + folder + "/" + name +
               "\", \"type\": \"-\", \"size\": \"0\", \"info\": \"\"}\n";
    };
    EXPECT_EQ(r.out,
              line("kit\\udcff.syx") + line("kit\\udcfe.syx") + line("kit\xc3\xa4\\udcc3.syx"));
}

TEST_F(CliInfo, SamplesShowTheirFileInfoText) {
    using namespace test;
    std::string wav =
        dir.write("loop.wav", riff({fmt_chunk(1, 2, 44100, 16), wav_chunk("data", Bytes(400)),
                                    smpl_chunk(0, {{0, 10, 80}})}));
    std::string aiff = dir.write(
        "tone.aiff", form("AIFF", {comm_chunk(1, 0, 24, rate_48000), ssnd_chunk(Bytes(300))}));
    std::string broken =
        dir.write("broken.aifc", form("AIFC", {comm_chunk(1, 0, 8, rate_48000, "ulaw")}));
    auto r = run({"--json", wav, aiff, broken});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"file\": \"" + wav +
                  "\", \"type\": \"WAV\", \"size\": \"512\", \"info\": "
                  "\"Sample length: 100 Channels: 2 Sample Rate: 44100\\nBits: 16 Loop ON. Loop "
                  "start: 10 "
                  "Loop end: 80\"}\n"
                  "{\"file\": \"" +
                  aiff +
                  "\", \"type\": \"AIFF\", \"size\": \"354\", \"info\": "
                  "\"Sample length: 100 Channels: 1 Sample Rate: 48000\\nBits: 24 Loop OFF.\"}\n"
                  "{\"file\": \"" +
                  broken +
                  "\", \"type\": \"AIFC\", \"size\": \"44\", \"info\": "
                  "\"AIFC: Not PCM or Float\"}\n");
}

TEST_F(CliInfo, SampleDumpAndUpgradeDump) {
    SdsDump dump;
    dump.sample.bits = 8;
    dump.sample.period = 20833;
    dump.sample.length = 60;
    sds_begin_dump(dump, 0, 0);
    sds_build_header(dump, loop_on, std::nullopt);
    sds_build_packet(dump);
    test::Bytes sds(dump.header.begin(), dump.header.begin() + dump.header_length);
    sds.insert(sds.end(), dump.packet.begin(), dump.packet.begin() + sds::packet_size);
    std::string sds_file = dir.write("dump.syx", sds);
    std::string upgrade = dir.write("os.syx", test::packet_upgrade(0x07, 2, 2));
    auto r = run({"--json", sds_file, upgrade});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"file\": \"" + sds_file +
                         "\", \"type\": \"SDS\", \"size\": \"148\", \"info\": \"Dump length: 60 "
                         "Sample Rate: 48000\\nBits: 8 Loop ON. Loop start: 0 Loop end: 59\"}\n"
                         "{\"file\": \"" +
                         upgrade +
                         "\", \"type\": \"KG\", \"size\": \"288\", \"info\": \"Sysex Upgrade\"}\n");
}

// A FIFO, as a file or as a document, is never opened for reading: no command waits for a
// writer that never comes. (`timeout` ends the run if it ever did.)
TEST_F(CliInfo, AFifoIsRefusedAtOnce) {
    std::string fifo = dir.file("pipe.syx");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string list_fifo = dir.file("pipe.jx");
    ASSERT_EQ(::mkfifo(list_fifo.c_str(), 0600), 0);
    auto r = test::run_command("timeout", {"10", JX_CLI_PATH, "info", fifo, list_fifo},
                               dir.file("stderr.txt"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "jx-cli info: cannot read '" + fifo +
                         "': not a regular file\n"
                         "jx-cli info: cannot read '" +
                         list_fifo + "': not a regular file\n");
}

TEST_F(CliInfo, UnreadableFileIsNamedAndTheRestStillPrinted) {
    std::string kit = dir.write("kit.syx", test::record(0x06, 'R', {1, 2, 3, 4}));
    std::string missing = dir.file("missing.syx");
    auto r = run({missing, kit});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "jx-cli info: cannot read '" + missing + "': no such file or directory\n");
    EXPECT_NE(r.out.find(kit + "\n  Type: KE  Size: 16\n  Normal Globals: 0 Kits: 1 Sounds: 0\n"),
              std::string::npos)
        << r.out;
}

// A MIDI file mido wrote is described as the .syx of its SysEx messages; a damaged one is named
// with the reason.
TEST_F(CliInfo, MidiFilesAsTheirSysex) {
    const std::string data = JX_TEST_DATA_DIR;
    const std::string syx = dir.file("format1.syx");
    std::filesystem::copy_file(data + "/mido_format1.syx", syx);
    const auto as_syx = run({"--json", syx});
    std::string damaged_bytes = "MThd";
    const std::string damaged =
        dir.write("damaged.mid", test::Bytes(damaged_bytes.begin(), damaged_bytes.end()));
    const auto r = run({"--json", data + "/mido_format1.mid", damaged});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "jx-cli info: cannot read '" + damaged +
                         "': MIDI file: the header chunk is cut short\n");
    // The same line but for the file's name.
    const std::string prefix = "{\"file\": \"" + syx + "\"";
    ASSERT_EQ(as_syx.out.rfind(prefix, 0), 0u) << as_syx.out;
    EXPECT_EQ(r.out,
              "{\"file\": \"" + data + "/mido_format1.mid\"" + as_syx.out.substr(prefix.size()));
}

TEST_F(CliInfo, UsageAndHelp) {
    EXPECT_EQ(run({}).status, 2);
    EXPECT_EQ(run({"--bogus", "x"}).status, 2);
    auto help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: jx-cli info"), std::string::npos);
    auto top = test::run_command(JX_CLI_PATH, {"--help"}, dir.file("e"));
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("info"), std::string::npos);
}

}  // namespace
}  // namespace jx
