#include "app/config.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/os/files.h"
#include "platform/store/registry.h"
#include "xdg_folders.h"

namespace jx {
namespace {

const std::string header = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tessarin\\Jx\\Config]\n";

struct Config : ::testing::Test {
    test::XdgFolders xdg;
    void store(const std::string& text) {
        std::filesystem::create_directories(xdg.dir.path / "config/Tessarin");
        xdg.dir.write("config/Tessarin/registry.reg", {text.begin(), text.end()});
    }
    std::string stored() const {
        auto bytes = read_whole_file(xdg.registry_file());
        return bytes ? std::string(bytes->begin(), bytes->end()) : "(missing)";
    }
    Settings loaded(const std::string& values) {
        store(header + values);
        Settings s;
        load_config(s);
        return s;
    }
};

bool operator==(const Settings& a, const Settings& b) {
    return a.midi_in == b.midi_in && a.midi_del == b.midi_del && a.syx_reload == b.syx_reload &&
           a.use_xsds == b.use_xsds && a.ignore_hs == b.ignore_hs && a.win_w == b.win_w &&
           a.win_h == b.win_h && a.win_x == b.win_x && a.win_y == b.win_y &&
           a.midi_out == b.midi_out && a.turbo_lim == b.turbo_lim && a.sds_dev == b.sds_dev &&
           a.rec_format == b.rec_format && a.send_zbname == b.send_zbname;
}

TEST_F(Config, FirstRunKeepsTheDefaults) {
    const Settings defaults;
    EXPECT_EQ(defaults.midi_in, -1);
    EXPECT_EQ(defaults.midi_out, -1);
    EXPECT_EQ(defaults.midi_del, 0);
    EXPECT_EQ(defaults.ignore_hs, 1);
    EXPECT_EQ(defaults.turbo_lim, 11);
    EXPECT_EQ(defaults.rec_format, 0);
    EXPECT_EQ(defaults.win_h, no_placement);
    for (const char* text : {"(no file)", "",
                             "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Other]\n"
                             "\"midi_in\"=dword:00000003\n"}) {
        if (std::string(text) != "(no file)") store(text);
        Settings s;
        load_config(s);
        EXPECT_TRUE(s == defaults) << text;
    }
}

TEST_F(Config, StoredValuesAndTheirRules) {
    struct Case {
        const char* stored;
        void (*check)(const Settings&);
    };
    const Case cases[] = {
        {"\"turbo_lim\"=dword:00000000\n", [](const Settings& s) { EXPECT_EQ(s.turbo_lim, 11); }},
        {"\"turbo_lim\"=dword:0000000c\n", [](const Settings& s) { EXPECT_EQ(s.turbo_lim, 11); }},
        {"\"turbo_lim\"=dword:00000001\n", [](const Settings& s) { EXPECT_EQ(s.turbo_lim, 1); }},
        {"\"midi_outs\"=hex(1):30,61,00,00,00\n",
         [](const Settings& s) { EXPECT_EQ(s.midi_out, 10); }},
        {"\"midi_outs\"=\"ff\"\n", [](const Settings& s) { EXPECT_EQ(s.midi_out, 255); }},
        {"\"midi_outs\"=\" 7z\"\n", [](const Settings& s) { EXPECT_EQ(s.midi_out, 7); }},
        {"\"midi_outs\"=hex(1):00,00,00,00,00\n",
         [](const Settings& s) { EXPECT_EQ(s.midi_out, -1); }},
        {"\"midi_outs\"=\"0a0a0\"\n",
         [](const Settings& s) { EXPECT_EQ(s.midi_out, -1); }},  // 6 bytes
        {"\"midi_outs\"=\"xy\"\n", [](const Settings& s) { EXPECT_EQ(s.midi_out, -1); }},
        {"\"midi_outs\"=hex(1):31,32,33,34,35\n",
         [](const Settings& s) { EXPECT_EQ(s.midi_out, 0x12); }},
        {"\"sds_dev\"=dword:00000105\n", [](const Settings& s) { EXPECT_EQ(s.sds_dev, 5); }},
        {"\"sds_dev\"=hex(4):7f\n", [](const Settings& s) { EXPECT_EQ(s.sds_dev, 0x7F); }},
        {"\"sds_dev\"=hex(4):01,02,03,04,05\n", [](const Settings& s) { EXPECT_EQ(s.sds_dev, 0); }},
        // The type is not looked at; a shorter value fills the low bytes, a longer one is ignored.
        {"\"midi_in\"=hex:02\n", [](const Settings& s) { EXPECT_EQ(s.midi_in, 2); }},
        {"\"midi_in\"=hex:01,00,00,00,00\n", [](const Settings& s) { EXPECT_EQ(s.midi_in, -1); }},
        {"\"win_h\"=dword:fffffc18\n\"win_w\"=dword:00000320\n",
         [](const Settings& s) {
             EXPECT_EQ(s.win_h, -1000);
             EXPECT_EQ(s.win_w, 800);
         }},
        {"\"rec_format\"=dword:00000007\n\"midi_del\"=dword:ffffffff\n",
         [](const Settings& s) {
             EXPECT_EQ(s.rec_format, 7);
             EXPECT_EQ(s.midi_del, -1);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        c.check(loaded(c.stored));
    }
}

TEST_F(Config, SavesWriteTheirOwnValuesInTheirStoredForms) {
    Settings s;
    s.midi_in = 2;
    s.midi_del = 250;
    s.syx_reload = 1;
    s.turbo_lim = 7;
    s.sds_dev = 0x90;
    s.rec_format = 3;
    s.win_x = 40;
    EXPECT_TRUE(save_prefs(s));
    EXPECT_EQ(stored(), header +
                            "\"midi_in\"=dword:00000002\n"
                            "\"midi_del\"=dword:000000fa\n"
                            "\"syx_reload\"=dword:00000001\n"
                            "\"use_xsds\"=dword:00000000\n"
                            "\"turbo_lim\"=dword:00000007\n"
                            "\"ignore_hs\"=dword:00000001\n"
                            "\"midi_outs\"=hex(1):00,00,00,00,00\n"
                            "\"sds_dev\"=hex(4):90\n"
                            "\"rec_format\"=dword:00000003\n"
                            "\"send_zbname\"=dword:00000000\n");
    std::string prefs = stored();
    EXPECT_TRUE(save_placement(s));
    EXPECT_EQ(stored(), prefs +
                            "\"win_w\"=dword:ffffffff\n"
                            "\"win_h\"=dword:fffffc18\n"
                            "\"win_x\"=dword:00000028\n"
                            "\"win_y\"=dword:00000000\n");
    // Each save leaves the other's values as they are.
    Settings changed = s;
    changed.win_x = 99;
    changed.midi_out = 0x3C;
    EXPECT_TRUE(save_prefs(changed));
    Settings back;
    load_config(back);
    EXPECT_EQ(back.win_x, 40);
    EXPECT_EQ(back.midi_out, 0x3C);
    changed.win_x = 40;
    EXPECT_TRUE(back == changed);
}

// The ports' names follow the other preferences; a store without them keeps its form until a
// name is chosen, and a name dropped later is stored empty.
TEST_F(Config, PortNamesAreStoredBesideTheIndices) {
    Settings s;
    EXPECT_TRUE(save_prefs(s));
    EXPECT_EQ(stored().find("_name"), std::string::npos);
    s.midi_out = 3;
    s.midi_out_name = "jx-device:in";
    EXPECT_TRUE(save_prefs(s));
    EXPECT_NE(stored().find("\"send_zbname\"=dword:00000000\n\"midi_out_name\"=\"jx-device:in\"\n"),
              std::string::npos)
        << stored();
    Settings back;
    load_config(back);
    EXPECT_EQ(back.midi_out_name, "jx-device:in");
    EXPECT_EQ(back.midi_in_name, "");
    s.midi_out_name.clear();
    EXPECT_TRUE(save_prefs(s));
    load_config(back);
    EXPECT_EQ(back.midi_out_name, "");
    EXPECT_EQ(back.midi_out, 3);
}

TEST_F(Config, AKeyThatCannotBeCreatedWritesNothing) {
    xdg.dir.write("config", {1});  // a file where the configuration folder should be
    Settings s;
    s.midi_in = 4;
    EXPECT_FALSE(save_prefs(s));
    EXPECT_FALSE(save_placement(s));
    Settings back;
    load_config(back);
    EXPECT_EQ(back.midi_in, -1);
}

TEST(ConfigValues, MidiOutsTextAndTurboSpeeds) {
    EXPECT_EQ(midi_outs_text(-1), std::string(5, '\0'));
    EXPECT_EQ(midi_outs_text(0), std::string("00\0\0\0", 5));
    EXPECT_EQ(midi_outs_text(255), std::string("ff\0\0\0", 5));
    EXPECT_EQ(midi_outs_text(256), std::string(5, '\0'));  // would read back as another device
    const int speeds[] = {10, 10, 20, 33, 40, 50, 66, 80, 100, 133, 160, 200};
    for (int index = 0; index < 12; ++index) EXPECT_EQ(turbo_speed_of_index(index), speeds[index]);
    EXPECT_EQ(turbo_speed_of_index(12), 10);
    EXPECT_EQ(turbo_speed_of_index(-1), 10);
}

}  // namespace
}  // namespace jx
