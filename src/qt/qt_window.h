#pragma once
// The Window interface drawn with Qt Widgets: a dialog built from its template, every control at
// its template position in dialog units of the dialog font. What the user does goes to the
// dialog's procedure; calls from other threads are forwarded to the window thread without
// waiting.
#include <QDialog>
#include <QPoint>
#include <map>
#include <mutex>

#include "platform/window/dialog_template.h"
#include "platform/window/window.h"
#include "transfer/transfer_list.h"

class QTreeWidget;
class QTimer;

namespace jx {

// The template kept in the program's resources for a dialog id; nothing for an unknown id.
std::optional<DialogTemplate> load_dialog_template(int template_id);

class QtWindow : public QDialog, public Window {
  public:
    QtWindow(const DialogTemplate& dialog, DialogProcedure& procedure, QWidget* parent = nullptr);
    ~QtWindow() override;

    // Initialises the dialog through its procedure and runs it modally until the procedure ends
    // it; the result is the procedure's.
    int run() override;

    QWidget* control(int id) const;

    // Offers the inspector on the rows of the list views: their context menu's "Inspect" and
    // Alt+double-click go to the procedure's inspect_row, and open_inspector shows the entry of
    // `list`. list_mutex, when given, is held while the inspector reads the list.
    void offer_inspector(TransferList& list, std::mutex* list_mutex);

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
    DialogUnits dialog_units() const override { return units_; }
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
    void add_menu_entry(int id, const std::string& text, std::function<void()> action) override;
    bool open_inspector(int index) override;
    void post(std::function<void()> work) override;

  protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void build(const DialogTemplate& dialog);
    void build_list_view(QTreeWidget* tree, int id);
    bool on_window_thread() const;
    // Runs on the window thread: now when called there, later otherwise.
    void on_window(std::function<void()> work);
    void report_list_selection(int id);
    bool list_key(int id, QKeyEvent* key);
    bool list_mouse(int id, QEvent* event);
    void list_context_menu(int id, const QPoint& at);

    DialogProcedure& procedure_;
    DialogUnits units_;
    std::map<int, QWidget*> controls_;
    std::map<int, QTimer*> timers_;
    bool ending_ = false;
    bool showing_rows_ = false;  // rows being set by the program, not chosen by the user
    // The list view's row drag: where the left button went down, and whether a drag runs.
    QPoint press_at_;
    bool pressed_on_row_ = false;
    bool dragging_ = false;
    // The list the inspector shows; none until offer_inspector.
    TransferList* inspected_list_ = nullptr;
    std::mutex* inspected_list_mutex_ = nullptr;

    // What other threads read: the texts and check marks as last set or edited.
    mutable std::mutex cache_mutex_;
    std::map<int, std::string> texts_;
    std::map<int, bool> checks_;
};

}  // namespace jx
