#pragma once
// The main window's procedure: every command, list-view notification, key, dropped file and
// row drag becomes one call into another part of the program; a 100 ms timer shows what the
// transfer threads keep in the shared values; closing runs shutdown.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/app.h"
#include "platform/window.h"

namespace jx {

constexpr int status_timer = 1;
constexpr int status_period_ms = 100;
// Timer ticks the "Remotely cancelled." notice stays: 2 seconds.
constexpr int notice_tick_count = 20;
constexpr const char* main_caption = "- Sysex Tool by Tessarin v1.51";
constexpr const char* text_remotely_cancelled = "Remotely cancelled.";

// The text the Turbo speed edit shows for a speed; nothing for a speed not in the table.
const char* turbo_speed_text(int32_t turbo_speed);
// The status line for the transfer bits; nothing when the line is to stay as it is.
std::optional<std::string> transfer_status_text(int32_t status_bits, int32_t sent_count,
                                                int32_t received_count);

// Where the saved placement puts the window, given its current outer size and the screen's;
// nothing when no placement was saved.
std::optional<Rect> restored_placement(const Settings& settings, Size current, Size screen);

class MainWindow : public DialogProcedure {
  public:
    explicit MainWindow(App& app) : app_(app) {}

    void init_dialog(Window& window) override;
    void command(int id) override;
    void list_selection(int id, const std::vector<bool>& selected, int focused) override;
    void list_notify(int id, ListNotify notify, int key, bool control) override;
    void timer(int id) override;
    void files_dropped(const std::vector<std::string>& paths) override;
    void mouse_move(int x, int y) override;
    void left_button_up() override;
    void size(int client_w, int client_h) override;
    void close_request() override;

    int drag_from() const { return drag_from_; }
    int notice_ticks() const { return notice_ticks_; }

    // Shows the transfer list's rows in the list view when they changed since last shown.
    void refresh_list();

  private:
    // Holds the list's mutex for the handler that runs now; nested handlers (a timer tick while
    // a dialog of an outer handler is open) find it held by their own thread already.
    class ListLock {
      public:
        explicit ListLock(MainWindow& window);
        ~ListLock();
        ListLock(const ListLock&) = delete;
        ListLock& operator=(const ListLock&) = delete;

      private:
        MainWindow& window_;
    };

    // A file dialog run with the list's mutex let go: while the user browses, a dump arriving
    // under the handshake is stored at once instead of stalling the MIDI side.
    FileDialogRunner unlocked_dialog(bool save);
    void send_command();
    void list_command(int id);
    void show_focused_entry();
    void preferences();

    App& app_;
    Window* window_ = nullptr;
    int drag_from_ = -1;
    int drag_over_ = -1;
    int32_t shown_turbo_speed_ = 10;
    int notice_ticks_ = 0;
    bool loading_ = false;
    bool saving_ = false;
    int lock_depth_ = 0;
    std::unique_lock<std::mutex> list_lock_;
    std::vector<ListRow> shown_rows_;
    bool rows_shown_ = false;
};

}  // namespace jx
