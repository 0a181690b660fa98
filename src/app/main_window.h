#pragma once
// The main window's procedure: every command, list-view notification, key, dropped file and
// row drag becomes one call into another part of the program; a 100 ms timer shows what the
// transfer threads keep in the shared values; closing runs shutdown.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/record_view.h"
#include "app/send_view.h"
#include "platform/window/window.h"
#include "transfer/file_entry.h"

namespace jx {

constexpr int status_timer = 1;
constexpr int status_period_ms = 100;
// While the window closes: looks every few milliseconds whether a send asked to stop has ended.
constexpr int closing_timer = 2;
constexpr int closing_period_ms = 10;
// Timer ticks the "Remotely cancelled." notice stays: 2 seconds.
constexpr int notice_tick_count = 20;
constexpr const char* main_caption = "- Sysex Tool by Tessarin v1.51";
constexpr const char* text_remotely_cancelled = "Remotely cancelled.";
// Timer ticks a sample request waits for the first byte of an answer: 3 seconds.
constexpr int request_answer_ticks = 30;
constexpr const char* text_no_answer = "No answer to the request.";
constexpr const char* text_no_request_output = "No MIDI output chosen.";
constexpr const char* text_load_caption = "Load";

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
    // "Inspect" on a row of the list, or Alt+double-click: the window shows that entry where it
    // has an inspector, which takes the list's mutex itself.
    void inspect_row(int /*id*/, int row) override { window_->open_inspector(row); }

    int drag_from() const { return drag_from_; }
    int notice_ticks() const { return notice_ticks_; }

    // Shows the transfer list's rows in the list view when they changed since last shown, and
    // what the list's operations left to show in the File Info box and the fields about it.
    void refresh_list();

    // "Request sample...": Receive starts as its button starts it (a recording that runs goes
    // on) and the device is asked for its sample `number`; a device that sends nothing within
    // the answer time is named in the status field while the recording goes on.
    void request_sample(int32_t number);
    // The SDS device number the request is sent on.
    int sds_device() const { return app_.settings.sds_dev; }

  private:
    // Ends the window once no send runs: shutdown, the list kept, the dialog ended.
    void finish_close();
    bool closing_ = false;

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
    void show_status(const std::string& text);
    void list_command(int id);
    void show_focused_entry();
    void preferences();
    void watch_request();
    // Adds files as add_files does, keeping the damaged MIDI files among those it could not
    // read; report_damaged names them in a message box each once the list's lock is let go.
    // Other unreadable files are passed over without a word, as always.
    void add(const std::optional<std::string>& path);
    void report_damaged();

    App& app_;
    Window* window_ = nullptr;
    int drag_from_ = -1;
    int drag_over_ = -1;
    int32_t shown_turbo_speed_ = 10;
    int notice_ticks_ = 0;
    int request_ticks_ = 0;    // ticks left before an unanswered request is named; 0: none waits
    bool unanswered_ = false;  // the status field names a request nothing answered
    int32_t request_received_count_ = 0;
    std::vector<FileProblem> damaged_;
    bool loading_ = false;
    bool saving_ = false;
    int lock_depth_ = 0;
    std::unique_lock<std::mutex> list_lock_;
    std::vector<ListRow> shown_rows_;
    bool rows_shown_ = false;
    SendView send_view_;
    RecordView record_view_;
};

}  // namespace jx
