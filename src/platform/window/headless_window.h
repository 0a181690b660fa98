#pragma once
// The in-memory window: records every text, state and message box, and answers file dialogs
// from queues the caller fills. Used by the tests and by jx-cli.
#include <deque>
#include <map>
#include <mutex>

#include "platform/window/window.h"

namespace jx {

struct MessageBoxRecord {
    std::string text;
    std::string caption;
    MessageIcon icon;
};

class HeadlessWindow : public Window {
  public:
    void set_text(int id, const std::string& text) override;
    std::string text(int id) const override;
    void enable(int id, bool enabled) override;
    bool is_enabled(int id) const override;  // controls never touched count as enabled
    void check(int id, bool checked) override;
    bool is_checked(int id) const override;
    void message_box(const std::string& text, const std::string& caption,
                     MessageIcon icon) override;
    std::optional<FileDialogResult> open_file_dialog(const FileDialogRequest& request) override;
    std::optional<FileDialogResult> save_file_dialog(const FileDialogRequest& request) override;
    // The two dialogs above as runners, for the commands that take one.
    FileDialogRunner open_dialog();
    FileDialogRunner save_dialog();

    void set_list_rows(int id, const std::vector<ListRow>& rows) override;
    void set_column_width(int id, int column, int width) override;
    // Rows of row_height pixels from the list's top edge, over its control rectangle.
    int list_row_at(int id, int x, int y) const override;
    void add_string(int id, const std::string& text) override;
    void select_index(int id, int index) override;
    int selected_index(int id) const override;
    void set_progress(int id, int position) override;
    void start_timer(int id, int period_ms) override;
    void stop_timer(int id) override;
    DialogUnits dialog_units() const override { return units; }
    void move_control(int id, int x, int y) override;
    void size_control(int id, int w, int h) override;
    Rect control_rect(int id) const override;
    Rect outer_rect() const override { return outer; }
    void set_outer_rect(const Rect& rect) override;
    Size client_size() const override;
    Size screen_size() const override { return screen; }
    void set_minimum_size(const Size& size) override { minimum_size = size; }
    void capture_mouse() override { mouse_captured = true; }
    void release_mouse() override { mouse_captured = false; }
    // Makes a HeadlessWindow for the dialog, initialises it, and hands both to dialog_script,
    // which plays the user; the result is what the procedure ended the dialog with.
    int run_dialog(int template_id, DialogProcedure& procedure) override;
    void end_dialog(int result) override { ended = result; }
    void add_menu_entry(int id, const std::string& text, std::function<void()> action) override {
        menu_entries.push_back({id, text, std::move(action)});
    }

    std::vector<ListRow> list_rows(int id) const;
    std::vector<std::string> strings(int id) const;
    int column_width(int id, int column) const;
    int progress(int id) const;
    // Timer periods by id; a stopped timer is gone.
    std::map<int, int> timers;

    DialogUnits units;
    Rect outer{0, 0, 600, 300};
    Size frame{8, 30};  // outer size minus client size
    Size screen{1920, 1080};
    Size minimum_size;
    int row_height = 10;
    bool mouse_captured = false;
    std::optional<int> ended;
    std::function<void(HeadlessWindow& dialog, DialogProcedure& procedure, int template_id)>
        dialog_script;

    // Called while a file dialog is open, before it answers: what happens while the user browses.
    std::function<void()> while_file_dialog_open;
    // Answers for the next dialogs, oldest first; an empty queue answers "cancelled".
    std::deque<std::optional<FileDialogResult>> open_answers;
    std::deque<std::optional<FileDialogResult>> save_answers;
    // What was asked and shown, in order.
    std::vector<FileDialogRequest> open_requests;
    std::vector<FileDialogRequest> save_requests;
    std::vector<MessageBoxRecord> message_boxes;
    // The context-menu entries in the order they were added; a test chooses one by calling its
    // action.
    struct MenuEntry {
        int id;
        std::string text;
        std::function<void()> action;
    };
    std::vector<MenuEntry> menu_entries;

  private:
    mutable std::mutex mutex_;  // the send and MIDI threads may write texts too
    std::map<int, std::string> texts_;
    std::map<int, bool> enabled_;
    std::map<int, bool> checked_;
    std::map<int, std::vector<ListRow>> rows_;
    std::map<std::pair<int, int>, int> column_widths_;
    std::map<int, std::vector<std::string>> strings_;
    std::map<int, int> selected_indices_;
    std::map<int, int> progress_;
    std::map<int, Rect> rects_;
};

}  // namespace jx
