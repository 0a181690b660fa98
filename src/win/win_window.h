#pragma once
// The Window interface drawn with the Windows dialog manager: a dialog built in memory from its
// template, every control a standard Windows control at its template position in dialog units.
// What the user does goes to the dialog's procedure; calls from other threads are posted to the
// window thread without waiting.
#include <windows.h>

#include <deque>
#include <map>
#include <mutex>

#include "platform/window/dialog_template.h"
#include "platform/window/window.h"

namespace jx {

// The template kept in the program's resources for a dialog id; nothing for an unknown id.
std::optional<DialogTemplate> load_dialog_template(int template_id);

// The template as the dialog manager reads it (DLGTEMPLATEEX and its items), in the system's
// dialog font at the template's point size.
std::vector<WORD> dialog_template_words(const DialogTemplate& dialog);

class WinWindow : public Window {
  public:
    WinWindow(const DialogTemplate& dialog, DialogProcedure& procedure, HWND owner = nullptr);
    ~WinWindow() override = default;
    WinWindow(const WinWindow&) = delete;
    WinWindow& operator=(const WinWindow&) = delete;

    // Runs the dialog modally until its procedure ends it; the result is the procedure's.
    int run() override;
    // Runs a modal dialog from a template, owned by this one, until the procedure ends it.
    int run_dialog(const DialogTemplate& dialog, DialogProcedure& procedure);

    void set_text(int id, const std::string& text) override;
    std::string text(int id) const override;
    void enable(int id, bool enabled) override;
    bool is_enabled(int id) const override;
    void check(int id, bool checked) override;
    bool is_checked(int id) const override;
    void message_box(const std::string& text, const std::string& caption,
                     MessageIcon icon) override;
    std::optional<FileDialogResult> open_file_dialog(const FileDialogRequest& request) override;
    std::optional<FileDialogResult> save_file_dialog(const FileDialogRequest& request) override;

    void set_list_rows(int id, const std::vector<ListRow>& rows) override;
    void set_column_width(int id, int column, int width) override;
    int list_row_at(int id, int x, int y) const override;
    void add_string(int id, const std::string& text) override;
    void select_index(int id, int index) override;
    int selected_index(int id) const override;
    void set_progress(int id, int position) override;
    void start_timer(int id, int period_ms) override;
    void stop_timer(int id) override;
    DialogUnits dialog_units() const override;
    void move_control(int id, int x, int y) override;
    void size_control(int id, int w, int h) override;
    Rect control_rect(int id) const override;
    Rect outer_rect() const override;
    void set_outer_rect(const Rect& rect) override;
    Size client_size() const override;
    Size screen_size() const override;
    void set_minimum_size(const Size& size) override;
    void capture_mouse() override;
    void release_mouse() override;
    int run_dialog(int template_id, DialogProcedure& procedure) override;
    void end_dialog(int result) override;
    // The entries are also commands, from menu_command_base on in the order they were added.
    void add_menu_entry(int id, const std::string& text, std::function<void()> action) override;
    void post(std::function<void()> work) override;

    static constexpr int menu_command_base = 0xE000;

  private:
    struct MenuEntry {
        int id;
        std::string text;
        std::function<void()> action;
    };

    static INT_PTR CALLBACK dialog_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    INT_PTR handle_message(UINT message, WPARAM wparam, LPARAM lparam);
    void init(HWND hwnd);
    void command(int id, int code, HWND control);
    bool notify(const NMHDR& header);
    void files_dropped(HDROP drop);
    void context_menu(HWND clicked, LPARAM at);
    void run_posted();
    // Runs on the window thread: now when called there, later otherwise.
    void on_window(std::function<void()> work);
    void report_list_selection(int id);
    HWND item(int id) const { return GetDlgItem(hwnd_, id); }
    // Whether the template makes control id a control of that kind ("edit", "combo", ...).
    bool is_kind(int id, const char* kind) const;

    DialogTemplate template_;
    DialogProcedure& procedure_;
    HWND owner_;
    HWND hwnd_ = nullptr;  // set and cleared under posted_mutex_, which post() reads it under
    DWORD thread_ = 0;
    bool initialised_ = false;
    bool ending_ = false;
    int result_ = 0;
    bool showing_rows_ = false;  // rows being set by the program, not chosen by the user
    bool captured_ = false;
    Size minimum_;
    int dpi_ = 0;  // the dots per inch the window was last drawn at
    std::map<int, std::vector<ListRow>> shown_rows_;
    std::vector<MenuEntry> menu_;

    std::mutex posted_mutex_;
    std::deque<std::function<void()>> posted_;

    // What other threads read: the texts and check marks as last set or edited.
    mutable std::mutex cache_mutex_;
    std::map<int, std::string> texts_;
    std::map<int, bool> checks_;
};

}  // namespace jx
