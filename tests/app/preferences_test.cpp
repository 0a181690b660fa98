#include "app/preferences.h"

#include <gtest/gtest.h>

#include "app/config.h"
#include "app/startup.h"
#include "app_rig.h"
#include "named_ports.h"
#include "platform/window/dialog_ids.h"
#include "platform/window/headless_window.h"
#include "xdg_folders.h"

namespace jx {
namespace {

struct PreferencesTest : ::testing::Test {
    test::XdgFolders folders;
    App app;
    HeadlessWindow dialog;
    PreferencesDialog preferences{app};

    void TearDown() override {
        settle_ports(app);
        close_midi_out(app.ports);
        close_midi_in(app.ports);
    }
};

TEST_F(PreferencesTest, NoDevicesStoresNoneForBoth) {
    app.settings.midi_in = 0;
    app.settings.midi_out = 0;
    preferences.init_dialog(dialog);
    EXPECT_TRUE(dialog.strings(ids::midi_in_list).empty());
    EXPECT_TRUE(dialog.strings(ids::midi_out_list).empty());
    preferences.command(ids::pref_ok);
    EXPECT_EQ(dialog.ended, ids::pref_ok);
    Settings saved;
    load_config(saved);
    EXPECT_EQ(saved.midi_in, -1);
    EXPECT_EQ(saved.midi_out, -1);
}

TEST_F(PreferencesTest, VirtualDeviceListedLastAndAMissingDeviceBecomesNoneEvenOnCancel) {
    test::AppRig rig;
    rig.wire(app.ports, app.settings, app.state);
    app.settings.midi_in = 5;
    preferences.init_dialog(dialog);
    ASSERT_FALSE(dialog.strings(ids::midi_out_list).empty());
    EXPECT_EQ(dialog.strings(ids::midi_out_list).back(), "Virtual device");
    EXPECT_EQ(dialog.strings(ids::midi_in_list).back(), "Virtual device");
    EXPECT_EQ(dialog.selected_index(ids::midi_in_list), -1);
    EXPECT_EQ(dialog.selected_index(ids::midi_out_list), 0);
    preferences.close_request();
    EXPECT_EQ(dialog.ended, ids::pref_cancel);
    EXPECT_EQ(app.settings.midi_in, -1);
    EXPECT_EQ(app.settings.midi_out, 0);
}

TEST_F(PreferencesTest, OkReadsTheFieldsAsTheyStand) {
    struct Case {
        const char* delay;
        const char* devno;
        int32_t midi_del;
        uint8_t sds_dev;
    };
    const Case cases[] = {{"", "300", 0, 44}, {"25", "5", 25, 5}, {"x", "127", 0, 127}};
    for (const Case& c : cases) {
        HeadlessWindow fresh;
        PreferencesDialog dialog_procedure(app);
        dialog_procedure.init_dialog(fresh);
        fresh.set_text(ids::delay_edit, c.delay);
        fresh.set_text(ids::sds_devno, c.devno);
        dialog_procedure.command(ids::pref_ok);
        EXPECT_EQ(app.settings.midi_del, c.midi_del) << c.delay;
        EXPECT_EQ(app.settings.sds_dev, c.sds_dev) << c.devno;
    }
}

TEST_F(PreferencesTest, TurboLimitAndRecFormatOutsideTheirListsShowNothingOrNone) {
    app.settings.turbo_lim = 9;
    app.settings.rec_format = 7;
    preferences.init_dialog(dialog);
    EXPECT_EQ(dialog.strings(ids::turbo_limit)[dialog.selected_index(ids::turbo_limit)], "None");
    EXPECT_EQ(dialog.selected_index(ids::rec_format), -1);
    preferences.command(ids::pref_ok);
    EXPECT_EQ(app.settings.turbo_lim, 11);
    EXPECT_EQ(app.settings.rec_format, -1);
}

TEST_F(PreferencesTest, CheckBoxesActOnPendingValuesUntilOk) {
    app.settings.use_xsds = 1;
    app.settings.ignore_hs = 1;
    preferences.init_dialog(dialog);
    EXPECT_TRUE(dialog.is_checked(ids::use_xsds));
    EXPECT_FALSE(dialog.is_checked(ids::use_handshake));
    preferences.command(ids::use_xsds);
    preferences.command(ids::use_xsds);
    preferences.command(ids::use_handshake);
    preferences.command(ids::reload_files);
    preferences.command(2);  // Escape: the dialog stays
    EXPECT_FALSE(dialog.ended);
    EXPECT_EQ(app.settings.ignore_hs, 1);  // nothing applies before Ok
    preferences.command(ids::pref_ok);
    EXPECT_EQ(app.settings.use_xsds, 1);
    EXPECT_EQ(app.settings.ignore_hs, 0);
    EXPECT_EQ(app.settings.syx_reload, 1);
    EXPECT_EQ(app.settings.send_zbname, 0);
}

TEST_F(PreferencesTest, CancelKeepsEverySetting) {
    preferences.init_dialog(dialog);
    preferences.command(ids::reload_files);
    dialog.set_text(ids::delay_edit, "99");
    preferences.command(ids::pref_cancel);
    EXPECT_EQ(dialog.ended, ids::pref_cancel);
    EXPECT_EQ(app.settings.syx_reload, 0);
    EXPECT_EQ(app.settings.midi_del, 0);
}

// The lists select the stored ports by name wherever they are now; a stored port that is not
// plugged in stays stored unless another is chosen.
TEST_F(PreferencesTest, PortsAreChosenAndKeptByName) {
    test::NamedPorts interfaces;
    MidiService service;
    service.backends = {&interfaces};
    app.ports.service = &service;
    app.ports.settings = &app.settings;
    app.ports.state = &app.state;

    interfaces.names = {"A:one", "B:two"};
    app.settings.midi_out = 0;
    app.settings.midi_out_name = "B:two";
    app.settings.midi_in = 1;
    app.settings.midi_in_name = "Z:away";
    preferences.init_dialog(dialog);
    EXPECT_EQ(dialog.selected_index(ids::midi_out_list), 1);
    EXPECT_EQ(dialog.selected_index(ids::midi_in_list), -1);
    preferences.command(ids::pref_ok);
    settle_ports(app);  // Ok opens the ports on the engine thread; the window waits for that
    Settings saved;
    load_config(saved);
    EXPECT_EQ(saved.midi_out, 1);
    EXPECT_EQ(saved.midi_out_name, "B:two");
    EXPECT_EQ(saved.midi_in, 1);
    EXPECT_EQ(saved.midi_in_name, "Z:away");

    HeadlessWindow again;
    PreferencesDialog second{app};
    second.init_dialog(again);
    again.select_index(ids::midi_in_list, 0);
    second.command(ids::pref_ok);
    load_config(saved);
    EXPECT_EQ(saved.midi_in, 0);
    EXPECT_EQ(saved.midi_in_name, "A:one");
    settle_ports(app);
    close_midi_out(app.ports);  // before the service ends
    close_midi_in(app.ports);
    app.ports.service = nullptr;
}

}  // namespace
}  // namespace jx
