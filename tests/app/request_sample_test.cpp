#include "app/request_sample.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "app/startup.h"
#include "app_rig.h"
#include "audio/sds.h"
#include "platform/window/dialog_ids.h"
#include "platform/window/headless_window.h"
#include "xdg_folders.h"

namespace jx {
namespace {

using namespace std::chrono_literals;

// What the dialog takes from its number field, by the button or box that ends it.
TEST(RequestSampleDialogTest, TakesTheNumberOnlyOnOk) {
    const int highest = sds::max_sample_number;
    struct Case {
        const char* typed;
        int pressed;              // a command id, or -1 for the close box
        std::optional<int> ends;  // the dialog's result; nothing: it stays open
        bool accepted;
        int number;
    };
    const Case cases[] = {
        {"3", ids::request_ok, ids::request_ok, true, 3},
        {" 12x", ids::request_ok, ids::request_ok, true, 12},
        {"99999", ids::request_ok, ids::request_ok, true, highest},
        {"", ids::request_ok, std::nullopt, false, 5},
        {"4294967296", ids::request_ok, std::nullopt, false, 5},  // not a 32-bit number
        {"3", ids::request_cancel, ids::request_cancel, false, 5},
        {"3", -1, ids::request_cancel, false, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("typed '") + c.typed + "', pressed " + std::to_string(c.pressed));
        HeadlessWindow window;
        RequestSampleDialog dialog(9, 5);
        dialog.init_dialog(window);
        EXPECT_EQ(window.text(ids::request_number), "5");
        EXPECT_EQ(window.text(ids::request_sds_device), "9");
        window.set_text(ids::request_number, c.typed);
        if (c.pressed < 0)
            dialog.close_request();
        else
            dialog.command(c.pressed);
        EXPECT_EQ(window.ended, c.ends);
        EXPECT_EQ(dialog.accepted(), c.accepted);
        EXPECT_EQ(dialog.number(), c.number);
    }
}

// The menu entry on the Receive button and on the window: the number chosen is asked of the
// device on the SDS device number the dialog showed, and offered again the next time; Cancel
// asks nothing.
TEST(RequestSampleMenuTest, AsksTheDeviceForTheNumberChosen) {
    test::XdgFolders folders;
    App app;
    test::AppRig rig;
    start_up(app, "");
    rig.wire(app.ports, app.settings, app.state);
    HeadlessWindow window;
    MainWindow main{app};
    main.init_dialog(window);
    add_request_sample_menu(window, main);
    ASSERT_EQ(window.menu_entries.size(), 2u);
    EXPECT_EQ(window.menu_entries[0].id, ids::receive);
    EXPECT_EQ(window.menu_entries[1].id, 0);
    for (const auto& entry : window.menu_entries) EXPECT_EQ(entry.text, "Request sample\u2026");

    std::vector<std::string> offered;
    const auto choose = [&](const std::string& typed, int button) {
        window.dialog_script = [&](HeadlessWindow& dialog, DialogProcedure& procedure,
                                   int template_id) {
            EXPECT_EQ(template_id, ids::request_sample_dialog);
            EXPECT_EQ(dialog.text(ids::request_sds_device), std::to_string(app.settings.sds_dev));
            offered.push_back(dialog.text(ids::request_number));
            dialog.set_text(ids::request_number, typed);
            procedure.command(button);
        };
        window.menu_entries[1].action();
    };
    const auto requests = [&] { return rig.device.device().record().requests; };
    const auto wait_for_requests = [&](size_t count) {
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (requests().size() < count && std::chrono::steady_clock::now() < end)
            wait_transfer_until(app.state, std::chrono::steady_clock::now() + 5ms,
                                [&] { return requests().size() >= count; });
        return requests().size() == count;
    };
    choose("7", ids::request_ok);
    ASSERT_TRUE(wait_for_requests(1));
    EXPECT_EQ(requests()[0].number, 7);
    choose("9", ids::request_cancel);
    choose("8", ids::request_ok);
    ASSERT_TRUE(wait_for_requests(2));
    EXPECT_EQ(requests()[1].number, 8);
    EXPECT_EQ(offered, (std::vector<std::string>{"0", "7", "7"}));

    main.close_request();
    EXPECT_EQ(window.ended, 0);
}

}  // namespace
}  // namespace jx
