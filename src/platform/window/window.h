#pragma once
// A dialog window whose controls are addressed by their resource ids. The core talks to the
// screen only through this interface: HeadlessWindow keeps everything in memory (tests, jx-cli),
// the Qt and Win32 windows draw real widgets.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/file_dialog_request.h"
#include "platform/os/text.h"  // read_unsigned, for the windows' digit-only edits

namespace jx {

enum class MessageIcon { none, exclamation };

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Rect&) const = default;
};

struct Size {
    int w = 0, h = 0;
    bool operator==(const Size&) const = default;
};

// Dialog units of the dialog font: x pixels = du * base_x / 4, y pixels = du * base_y / 8, each
// rounded to the nearest pixel, halves away from zero.
struct DialogUnits {
    int base_x = 6;
    int base_y = 13;
};
int du_to_px_x(const DialogUnits& units, int du);
int du_to_px_y(const DialogUnits& units, int du);
Rect map_dialog_rect(const DialogUnits& units, const Rect& du);

// One row of a list view as the window draws it.
struct ListRow {
    std::vector<std::string> cells;
    bool selected = false;
    bool focused = false;
    bool drop_highlighted = false;
    bool operator==(const ListRow&) const = default;
};

// What the user did to a list view.
enum class ListNotify { click, double_click, key_down, item_changed, begin_drag };

// Keys a list view reports; any other key comes as its character code or as other_key.
constexpr int key_delete = 0x2E;
constexpr int key_a = 'A';
constexpr int other_key = 0;

class Window;

// What a dialog does with what happens to it, run on the window thread. Every call the window
// does not need is left empty.
class DialogProcedure {
  public:
    virtual ~DialogProcedure() = default;
    virtual void init_dialog(Window&) {}
    virtual void command(int /*id*/) {}
    // The selection and focus the user gave the list view's rows come first, then the
    // notification; key and control go with key_down.
    virtual void list_selection(int /*id*/, const std::vector<bool>& /*selected*/,
                                int /*focused*/) {}
    virtual void list_notify(int /*id*/, ListNotify, int /*key*/, bool /*control*/) {}
    virtual void timer(int /*id*/) {}
    virtual void files_dropped(const std::vector<std::string>& /*paths*/) {}
    // Client coordinates of the dialog, while the mouse is captured.
    virtual void mouse_move(int /*x*/, int /*y*/) {}
    virtual void left_button_up() {}
    virtual void size(int /*client_w*/, int /*client_h*/) {}
    virtual void close_request() {}
    // The user asked to look into row `row` of list view `id` (its context menu's "Inspect", or
    // Alt+double-click). Only a window that can open an inspector offers it.
    virtual void inspect_row(int /*id*/, int /*row*/) {}
};

class Window {
  public:
    virtual ~Window() = default;

    // Initialises the dialog through its procedure and runs it until the procedure ends it; the
    // result is the procedure's, -1 when the dialog could not be shown.
    virtual int run() { return -1; }

    virtual void set_text(int id, const std::string& text) = 0;
    virtual std::string text(int id) const = 0;
    virtual void enable(int id, bool enabled) = 0;
    virtual bool is_enabled(int id) const = 0;
    virtual void check(int id, bool checked) = 0;
    virtual bool is_checked(int id) const = 0;

    virtual void message_box(const std::string& text, const std::string& caption,
                             MessageIcon icon) = 0;
    // Both return nothing when the user cancels or the dialog fails.
    virtual std::optional<FileDialogResult> open_file_dialog(const FileDialogRequest& request) = 0;
    virtual std::optional<FileDialogResult> save_file_dialog(const FileDialogRequest& request) = 0;

    // List views: the rows as they are to be drawn, column widths in pixels, and the row under
    // a point of the dialog's client area (-1 for none).
    virtual void set_list_rows(int /*id*/, const std::vector<ListRow>& /*rows*/) {}
    virtual void set_column_width(int /*id*/, int /*column*/, int /*width*/) {}
    virtual int list_row_at(int /*id*/, int /*x*/, int /*y*/) const { return -1; }

    // List boxes and drop-down lists.
    virtual void add_string(int /*id*/, const std::string& /*text*/) {}
    virtual void select_index(int /*id*/, int /*index*/) {}  // -1 selects nothing
    virtual int selected_index(int /*id*/) const { return -1; }

    // Progress bars, 0..100.
    virtual void set_progress(int /*id*/, int /*position*/) {}

    virtual void start_timer(int /*id*/, int /*period_ms*/) {}
    virtual void stop_timer(int /*id*/) {}

    virtual DialogUnits dialog_units() const { return {}; }
    // Control placement in pixels of the dialog's client area.
    virtual void move_control(int /*id*/, int /*x*/, int /*y*/) {}
    virtual void size_control(int /*id*/, int /*w*/, int /*h*/) {}
    virtual Rect control_rect(int /*id*/) const { return {}; }

    // The dialog itself: its outer rectangle on the screen, its client size, the screen's size,
    // and the smallest outer size the user can drag it to.
    virtual Rect outer_rect() const { return {}; }
    virtual void set_outer_rect(const Rect&) {}
    virtual Size client_size() const { return {}; }
    virtual Size screen_size() const { return {}; }
    virtual void set_minimum_size(const Size&) {}

    virtual void capture_mouse() {}
    virtual void release_mouse() {}

    // Runs a modal dialog from a template, owned by this one, until the procedure ends it.
    virtual int run_dialog(int /*template_id*/, DialogProcedure& /*procedure*/) { return -1; }
    virtual void end_dialog(int /*result*/) {}

    // A context-menu entry: right-clicking control `id` (0: the window itself, and every control
    // without a menu of its own) offers `text`; choosing it runs `action` on the window thread.
    virtual void add_menu_entry(int /*id*/, const std::string& /*text*/,
                                std::function<void()> /*action*/) {}
    // Opens the inspector of the transfer list's entry at `index`, or raises the one open for it;
    // false where this window has no inspector.
    virtual bool open_inspector(int /*index*/) { return false; }

    // Runs work on the window thread, after what it is doing now; never waits for it.
    virtual void post(std::function<void()> work) { work(); }
};

}  // namespace jx
