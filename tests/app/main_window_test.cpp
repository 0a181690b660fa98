#include "app/main_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <memory>
#include <string>

#include "app/config.h"
#include "app/startup.h"
#include "app_rig.h"
#include "devsim/virtual_device.h"
#include "maker_message.h"
#include "platform/os/files.h"
#include "platform/window/dialog_ids.h"
#include "platform/window/headless_window.h"
#include "sample_file_maker.h"
#include "temp_dir.h"
#include "transfer/add_files.h"
#include "transfer/entry_info.h"
#include "transfer/file_list.h"
#include "xdg_folders.h"

namespace jx {
namespace {

using namespace std::chrono_literals;

struct MainWindowTest : ::testing::Test {
    test::XdgFolders folders;
    test::TempDir dir;
    App app;
    test::AppRig rig;
    HeadlessWindow window;
    MainWindow main{app};

    void SetUp() override {
        start_up(app, "");
        rig.wire(app.ports, app.settings, app.state);
        window.outer = {10, 10, 600, 320};
        window.size_control(ids::transfer_list, 580, 200);
    }
    void TearDown() override {
        settle_ports(app);
        if (app.send_worker.joinable()) {
            request_cancel(app.state);
            app.send_worker.join();
        }
        close_midi_out(app.ports);
        close_midi_in(app.ports);
    }

    // Adds files named by their contents' first byte and shows them.
    void add(int count) {
        for (int k = 0; k < count; ++k) {
            auto entry = std::make_unique<Entry>();
            entry->data = test::record(0x06, 'R', {static_cast<uint8_t>(k)});
            insert_entry(app.list, "row" + std::to_string(k), std::move(entry), -1);
        }
        main.refresh_list();
    }
    std::vector<std::string> names() const {
        std::vector<std::string> all;
        for (const ListItem& item : app.list.items) all.push_back(item.name);
        return all;
    }
    void select(std::vector<bool> selected, int focused) {
        main.list_selection(ids::transfer_list, selected, focused);
        main.list_notify(ids::transfer_list, ListNotify::item_changed, 0, false);
    }
    void key(int code, bool control = false) {
        main.list_notify(ids::transfer_list, ListNotify::key_down, code, control);
    }
    void tick(int times = 1) {
        for (int k = 0; k < times; ++k) main.timer(status_timer);
    }
    // Waits up to 5 s; looks again every few milliseconds, as what the device took or the list
    // holds tells the transfer values nothing.
    bool wait_for(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + 5s;
        for (;;) {
            const auto slice = std::min(std::chrono::steady_clock::now() + 5ms, end);
            if (wait_transfer_until(app.state, slice, done)) return true;
            if (std::chrono::steady_clock::now() >= end) return false;
        }
    }
};

TEST_F(MainWindowTest, InitialisationSetsTheMinimumSizeAndStartsTheTimer) {
    main.init_dialog(window);
    EXPECT_EQ(window.minimum_size, (Size{600, 320}));
    EXPECT_EQ(window.timers.at(status_timer), 100);
    EXPECT_FALSE(window.is_checked(ids::turbo_check));
    settle_ports(app);  // the ports open on the engine thread
    EXPECT_EQ(app.ports.open_in_index.load(), 0);
    // The Turbo query went out and opened the output.
    EXPECT_EQ(app.ports.open_out_index.load(), 0);
}

TEST_F(MainWindowTest, TheCommandLineDocumentIsAddedAsAFullPath) {
    const std::string path = dir.write("kit.syx", test::record(0x06, 'R', {1, 2}));
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);
    start_up(app, "kit.syx");
    std::filesystem::current_path(here);
    main.init_dialog(window);
    ASSERT_EQ(names(), std::vector<std::string>{path});
    EXPECT_TRUE(window.list_rows(ids::transfer_list)[0].selected);
    EXPECT_FALSE(window.text(ids::file_info).empty());
}

TEST(RestoredPlacement, FollowsTheSavedPlacementWithinTheScreen) {
    struct Case {
        int x, y, w, h;
        Rect expected;
    };
    const Size designed{600, 320};
    const Size screen{1920, 1080};
    const Case cases[] = {
        {100, 50, 800, 500, {100, 50, 800, 500}},   // as saved
        {100, 50, 300, 200, {100, 50, 600, 320}},   // never below the designed size
        {2500, 50, 800, 500, {960, 50, 800, 500}},  // beyond the right edge: half the screen
        {100, 1200, 800, 500, {100, 540, 800, 500}}, {-40, -7, 800, 500, {0, 0, 800, 500}},
    };
    for (const Case& c : cases) {
        Settings settings;
        settings.win_x = c.x;
        settings.win_y = c.y;
        settings.win_w = c.w;
        settings.win_h = c.h;
        EXPECT_EQ(restored_placement(settings, designed, screen), c.expected) << c.x << "," << c.y;
    }
    EXPECT_FALSE(restored_placement(Settings{}, designed, screen));
}

TEST_F(MainWindowTest, DeleteRemovesTheSelectionButNothingWhileSending) {
    main.init_dialog(window);
    add(3);
    select({false, true, false}, 1);
    app.state.sending = 1;
    key(key_delete);
    EXPECT_EQ(names(), (std::vector<std::string>{"row0", "row1", "row2"}));
    EXPECT_FALSE(app.list.removing);  // the info panel keeps following the focus
    app.state.sending = 0;
    key(key_delete);
    EXPECT_EQ(names(), (std::vector<std::string>{"row0", "row2"}));
    // The row that took the removed one's place is selected and shown.
    EXPECT_TRUE(window.list_rows(ids::transfer_list)[1].selected);
    EXPECT_EQ(window.list_rows(ids::transfer_list)[1].cells[0], "row2");
}

TEST_F(MainWindowTest, ControlASelectsEveryRowOnlyWhenIdle) {
    main.init_dialog(window);
    key(key_a, true);  // an empty list: nothing happens
    EXPECT_TRUE(window.list_rows(ids::transfer_list).empty());
    add(3);
    key(key_a, false);
    EXPECT_EQ(selected_count(app.list), 0);
    app.state.sending = 1;
    key(key_a, true);
    EXPECT_EQ(selected_count(app.list), 0);
    app.state.sending = 0;
    key(key_a, true);
    EXPECT_EQ(selected_count(app.list), 3);
    for (const ListRow& row : window.list_rows(ids::transfer_list)) EXPECT_TRUE(row.selected);
}

TEST_F(MainWindowTest, DraggingTheFirstRowOverTheThirdMovesItThere) {
    main.init_dialog(window);
    add(4);
    select({true, false, false, false}, 0);
    main.list_notify(ids::transfer_list, ListNotify::begin_drag, 0, false);
    EXPECT_TRUE(window.mouse_captured);
    const int row_y = window.row_height / 2;
    main.mouse_move(5, row_y);  // still over itself
    main.mouse_move(5, window.row_height + row_y);
    main.mouse_move(5, 2 * window.row_height + row_y);
    EXPECT_EQ(names(), (std::vector<std::string>{"row1", "row2", "row0", "row3"}));
    EXPECT_TRUE(window.list_rows(ids::transfer_list)[2].drop_highlighted);
    main.mouse_move(5, 100 * window.row_height);  // below the rows: nothing moves
    main.left_button_up();
    EXPECT_FALSE(window.mouse_captured);
    EXPECT_EQ(main.drag_from(), -1);
    EXPECT_EQ(names(), (std::vector<std::string>{"row1", "row2", "row0", "row3"}));
    for (const ListRow& row : window.list_rows(ids::transfer_list))
        EXPECT_FALSE(row.drop_highlighted);
}

TEST_F(MainWindowTest, RemoteCancelNoticeStaysTwoSeconds) {
    main.init_dialog(window);
    window.set_text(ids::send, "Stop Send");
    app.state.status_bits = status_remote_cancel;
    tick();
    EXPECT_EQ(window.text(ids::status), "Remotely cancelled.");
    EXPECT_EQ(window.text(ids::send), "Send");
    tick(19);
    EXPECT_EQ(window.text(ids::status), "Remotely cancelled.");
    tick();
    EXPECT_EQ(window.text(ids::status), "");
    EXPECT_EQ(app.state.status_bits.load(), 0);
}

TEST_F(MainWindowTest, TimerShowsTheTransferCountersAndProgress) {
    main.init_dialog(window);
    struct Case {
        int32_t bits;
        const char* text;
    };
    const Case cases[] = {{status_sending, "Sent: 7"},
                          {status_receiving, "Receiving: 3"},
                          {status_sending | status_receiving, "S:7 R:3"},
                          {0, "S:7 R:3"}};  // the last text of a transfer stays
    app.state.sent_count = 7;
    app.state.received_count = 3;
    app.state.progress_percent = 42;
    for (const Case& c : cases) {
        app.state.status_bits = c.bits;
        tick();
        EXPECT_EQ(window.text(ids::status), c.text) << c.bits;
    }
    EXPECT_EQ(window.progress(ids::progress), 42);
}

// Request sample: Receive starts and the request goes out; nothing back within 30 ticks is named
// and stays named over the receive counter until an answer comes; without an output nothing is
// asked, and the status says so.
TEST_F(MainWindowTest, RequestSampleStartsReceiveAndNamesADeviceThatDoesNotAnswer) {
    main.init_dialog(window);
    VirtualDevice& device = rig.device.device();
    ReceivedSample sample;
    sample.bits = 8;
    sample.period = 50000;
    sample.words.assign(200, 100);
    sample.length = 200;
    sample.complete = true;
    device.hold_sample(sample, 2);
    const auto requests = [&] { return device.record().requests.size(); };

    main.request_sample(2);
    EXPECT_EQ(window.text(ids::receive), "Stop Rec");
    ASSERT_TRUE(wait_for([&] { return requests() == 1; }));
    // The dump is stored, and the recorder is done with the input buffer that ended it.
    ASSERT_TRUE(wait_for([&] {
        std::lock_guard lock(app.list_mutex);
        return app.list.items.size() == 1 && app.state.received_count.load() == 0;
    }));
    tick(request_answer_ticks + 1);
    EXPECT_EQ(window.text(ids::status).rfind("Receiving: ", 0), 0u) << window.text(ids::status);
    // The dump joined an unselected list on the input thread; the timer shows it.
    {
        std::lock_guard lock(app.list_mutex);
        EXPECT_EQ(window.text(ids::file_info), describe_entry(*app.list.items[0].entry).text);
    }

    main.request_sample(5);  // a number the device does not hold: it sends nothing
    ASSERT_TRUE(wait_for([&] { return requests() == 2; }));
    EXPECT_FALSE(device.record().requests[1].held);
    tick(request_answer_ticks - 1);
    EXPECT_NE(window.text(ids::status), text_no_answer);
    tick();
    EXPECT_EQ(window.text(ids::status), text_no_answer);
    tick(5);
    EXPECT_EQ(window.text(ids::status), text_no_answer);
    EXPECT_EQ(app.state.receive_state.load(), receive_recording);
    main.command(ids::receive);  // Stop Rec
    EXPECT_EQ(window.text(ids::receive), "Receive");

    app.settings.midi_out = -1;
    main.request_sample(2);
    EXPECT_EQ(window.text(ids::status), text_no_request_output);
    EXPECT_EQ(window.text(ids::receive), "Stop Rec");
    tick(request_answer_ticks + 1);
    EXPECT_EQ(window.text(ids::status), text_no_request_output);
    EXPECT_EQ(requests(), 2u);
    main.command(ids::receive);
}

// A dropped MIDI file that is damaged is named with the reason; other unreadable files are
// passed over without a word, as always.
TEST_F(MainWindowTest, ADamagedMidiFileDroppedIsNamed) {
    main.init_dialog(window);
    const test::Bytes kit = test::record(0x06, 'R', {1, 2, 3});
    const std::string good = dir.write("kit.syx", kit);
    const std::string bad = dir.write("bad.mid", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 2});
    main.files_dropped({bad, dir.file("missing.syx"), good});
    EXPECT_EQ(names(), std::vector<std::string>{good});
    ASSERT_EQ(window.message_boxes.size(), 1u);
    EXPECT_EQ(window.message_boxes[0].text, "bad.mid: MIDI file: the header chunk is cut short");
    EXPECT_EQ(window.message_boxes[0].caption, "Load");
    EXPECT_EQ(window.message_boxes[0].icon, MessageIcon::exclamation);
}

// Save keeps the Samplepos edit in the document; loading the document puts it back in the edit
// and shows the entry it brings.
TEST_F(MainWindowTest, ADocumentCarriesTheSamplepos) {
    main.init_dialog(window);
    const std::string kit = dir.write("kit.syx", test::record(0x06, 'R', {1, 2, 3}));
    main.files_dropped({kit});
    window.set_text(ids::samplepos, "12");
    window.save_answers.push_back(FileDialogResult{{dir.file("list.jx")}, 2});
    main.command(ids::save);
    const auto saved = read_whole_file(dir.file("list.jx"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(parse_file_list(saved->data(), saved->size()).sample_position, 12);

    window.set_text(ids::samplepos, "3");
    window.set_text(ids::file_info, "");
    main.files_dropped({dir.file("list.jx")});
    EXPECT_EQ(window.text(ids::samplepos), "12");
    EXPECT_EQ(window.text(ids::file_info).rfind("Normal Globals: 0 Kits: 1", 0), 0u)
        << window.text(ids::file_info);
}

TEST_F(MainWindowTest, TurboAnswerIsShownAndTurboAgainAsksForNormalSpeed) {
    main.init_dialog(window);
    ASSERT_TRUE(rig.loopback.wait_idle(std::chrono::steady_clock::now() + 5s));
    main.command(ids::turbo_check);  // asks for the fastest speed the device has
    ASSERT_TRUE(wait_for([&] { return app.state.turbo_speed.load() == 200; }));
    tick();
    EXPECT_EQ(window.text(ids::turbo_speed), "20");
    EXPECT_TRUE(window.is_checked(ids::turbo_check));
    main.command(ids::turbo_check);
    tick();
    EXPECT_EQ(window.text(ids::turbo_speed), "");
    EXPECT_FALSE(window.is_checked(ids::turbo_check));
}

TEST_F(MainWindowTest, EscapeDoesNothingAndExitSavesThePlacement) {
    main.init_dialog(window);
    main.command(2);  // what the Escape key sends
    EXPECT_FALSE(window.ended);
    window.outer = {33, 44, 700, 400};
    main.command(ids::exit_button);
    EXPECT_EQ(window.ended, 0);
    EXPECT_TRUE(window.timers.empty());
    EXPECT_EQ(app.ports.open_out_index.load(), -1);
    Settings saved;
    load_config(saved);
    EXPECT_EQ((Rect{saved.win_x, saved.win_y, saved.win_w, saved.win_h}), (Rect{33, 44, 700, 400}));
}

TEST_F(MainWindowTest, SendWithNothingSelectedAsksForAFileAndSendsIt) {
    main.init_dialog(window);
    main.command(ids::send);  // the dialog is cancelled: nothing is sent
    EXPECT_EQ(window.open_requests.size(), 1u);
    EXPECT_FALSE(app.send_worker.joinable());
    const test::Bytes kit = test::record(0x06, 'R', {1, 2});
    window.open_answers.push_back(FileDialogResult{{dir.write("kit.syx", kit)}, 1});
    main.command(ids::send);
    ASSERT_TRUE(app.send_worker.joinable());
    ASSERT_TRUE(wait_for([&] { return !app.worker_alive.load(); }));
    ASSERT_TRUE(rig.loopback.wait_idle(std::chrono::steady_clock::now() + 5s));
    EXPECT_EQ(rig.device.device().record().sysex, std::vector<test::Bytes>{kit});
    EXPECT_EQ(first_selected(app.list), 0);
    tick();
    EXPECT_EQ(window.text(ids::send), "Send");
    EXPECT_EQ(window.text(ids::status), "Sent: " + std::to_string(kit.size()));
}

// An input whose open takes until the test lets it go, and then fails.
class SlowInput : public MidiBackend {
  public:
    std::promise<void> release;
    std::atomic<bool> held_too_long{false};

    int out_count() override { return 0; }
    std::string out_name(int) override { return {}; }
    int in_count() override { return 1; }
    std::string in_name(int) override { return "slow"; }
    std::unique_ptr<MidiOutConnection> open_out(int, std::string&) override { return nullptr; }
    std::unique_ptr<MidiInConnection> open_in(int, MidiInSink&, std::string& error) override {
        if (released_.wait_for(5s) != std::future_status::ready) held_too_long = true;
        error = "not now";
        return nullptr;
    }

  private:
    std::shared_future<void> released_ = release.get_future().share();
};

// A MIDI server slow to open a port does not hold the window: at start-up the input opens on the
// engine thread, and what fails there is said by the timer.
TEST_F(MainWindowTest, TheInputOpensOffTheWindowThread) {
    SlowInput slow;
    rig.service.backends = {&slow};
    app.settings.midi_out = -1;
    main.init_dialog(window);  // returns while the open waits
    slow.release.set_value();
    settle_ports(app);
    EXPECT_FALSE(slow.held_too_long.load());
    EXPECT_EQ(app.ports.open_in_index.load(), -1);
    EXPECT_TRUE(window.message_boxes.empty());
    tick();
    ASSERT_EQ(window.message_boxes.size(), 1u);
    EXPECT_EQ(window.message_boxes[0].text, "Could not allocate Midi In port");
}

// A port that fails on the window thread is said at once; one the send meets on the engine
// thread is said by the next timer tick, in the same message box, once.
TEST_F(MainWindowTest, PortErrorsAreSaidAtOnceOrByTheTimer) {
    main.init_dialog(window);
    settle_ports(app);  // the settings change below only once the ports opened, as Preferences'
    test::Bytes two = test::record(0x06, 'R', {1});
    const test::Bytes second = test::record(0x06, 'R', {2});
    two.insert(two.end(), second.begin(), second.end());
    add_files(app.list, dir.write("kit.syx", two), '0', '0');
    select({true}, 0);
    app.settings.midi_out = 7;
    main.command(ids::send);
    ASSERT_EQ(window.message_boxes.size(), 1u);
    EXPECT_EQ(window.message_boxes[0].text, "Could not allocate Midi Out port");
    EXPECT_FALSE(app.send_worker.joinable());

    // The cable is pulled after the first message, while the send waits before the second.
    app.settings.midi_out = 0;
    app.settings.midi_del = 300;
    main.command(ids::send);
    ASSERT_TRUE(app.send_worker.joinable());
    ASSERT_TRUE(wait_for([&] { return rig.device.device().record().sysex.size() == 1; }));
    rig.loopback.set_unplugged(true);
    ASSERT_TRUE(wait_for([&] { return !app.worker_alive.load(); }));
    EXPECT_EQ(window.message_boxes.size(), 1u);
    tick();
    ASSERT_EQ(window.message_boxes.size(), 2u);
    EXPECT_EQ(window.message_boxes[1].text, "Virtual device: the MIDI cable is unplugged.");
    EXPECT_EQ(window.message_boxes[1].caption, "Cancel");
    EXPECT_EQ(window.message_boxes[1].icon, MessageIcon::exclamation);
    EXPECT_EQ(window.text(ids::send), "Send");
    tick();
    EXPECT_EQ(window.message_boxes.size(), 2u);
}

TEST_F(MainWindowTest, ClosingWhileSendingStopsTheSendFirst) {
    rig.service.pacing.enabled = true;  // a dump that takes seconds on the wire
    app.settings.syx_reload = 1;
    main.init_dialog(window);
    // 40 messages of a third of a second each at MIDI speed.
    test::Bytes message(1000, 0x11);
    message.front() = 0xF0;
    message.back() = 0xF7;
    test::Bytes long_dump;
    for (int k = 0; k < 40; ++k) long_dump.insert(long_dump.end(), message.begin(), message.end());
    const std::string path = dir.write("long.syx", long_dump);
    add_files(app.list, path, '0', '0');
    main.list_notify(ids::transfer_list, ListNotify::double_click, 0, false);
    ASSERT_TRUE(wait_for([&] { return app.state.sending.load() == 1; }));
    main.list_notify(ids::transfer_list, ListNotify::double_click, 0, false);  // refused
    main.close_request();
    // The window does not wait for the send: the send stops, and the closing timer's next tick
    // ends the window.
    ASSERT_TRUE(window.timers.count(closing_timer));
    ASSERT_TRUE(wait_for([&] { return !app.worker_alive.load(); }));
    main.timer(closing_timer);
    EXPECT_EQ(app.state.sending.load(), 0);
    // The dump was cut off by the stop, not waited for.
    EXPECT_LT(rig.device.device().record().sysex.size(), 40u);
    EXPECT_FALSE(app.send_worker.joinable());
    EXPECT_EQ(window.ended, 0);
    // The list was kept for the next start.
    TransferList next;
    restore_list(next);
    ASSERT_EQ(next.items.size(), 1u);
    EXPECT_EQ(next.items[0].name, path);
}

TEST_F(MainWindowTest, ConfigureOnlyWhenIdle) {
    int opened = 0;
    window.dialog_script = [&](HeadlessWindow&, DialogProcedure&, int id) {
        EXPECT_EQ(id, ids::preferences_dialog);
        ++opened;
    };
    main.init_dialog(window);
    app.state.receive_state = receive_recording;
    main.command(ids::configure);
    EXPECT_EQ(opened, 0);
    app.state.receive_state = receive_idle;
    main.command(ids::configure);
    EXPECT_EQ(opened, 1);
}

// The list is never held while a file dialog is open: a sample dump that arrives under the
// handshake while the user browses in Load or Save is stored while the dialog is still open.
TEST_F(MainWindowTest, ADumpArrivingWhileAFileDialogIsOpenIsStoredAtOnce) {
    test::Bytes words;
    for (int k = 0; k < 2000; ++k) test::put(words, static_cast<uint32_t>(k * 17), 2, false);
    const test::Bytes wav =
        test::riff({test::fmt_chunk(1, 1, 22050, 16), test::wav_chunk("data", words)});
    app.settings.ignore_hs = 0;
    main.init_dialog(window);
    main.command(ids::receive);
    for (int dialog : {ids::load, ids::save}) {
        SCOPED_TRACE(dialog);
        const size_t before = app.list.items.size();
        bool stored_while_open = false;
        window.while_file_dialog_open = [&] {
            ReceivedSample sample;
            ASSERT_EQ(sample_from_file(wav.data(), wav.size(), sample), "");
            rig.device.device().send_sample(std::move(sample), 0, "held.wav");
            // Another thread looks, as the input thread stores: it must not wait for the dialog.
            auto stored = std::async(std::launch::async, [&] {
                return wait_transfer_until(app.state, std::chrono::steady_clock::now() + 10s, [&] {
                    std::unique_lock lock(app.list_mutex, std::try_to_lock);
                    return lock.owns_lock() && app.list.items.size() == before + 1;
                });
            });
            stored_while_open = stored.wait_for(15s) == std::future_status::ready && stored.get();
        };
        if (dialog == ids::save) select({true}, 0);
        main.command(dialog);
        window.while_file_dialog_open = nullptr;
        EXPECT_TRUE(stored_while_open);
    }
    main.command(ids::receive);
}

}  // namespace
}  // namespace jx
