#include "qt/qt_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "platform/window/dialog_ids.h"
#include "qt/inspector.h"

namespace jx {

namespace {

// A check box whose mark only the program sets: a click is a command, nothing more.
class ProgramCheckBox : public QCheckBox {
  public:
    using QCheckBox::QCheckBox;

  protected:
    void nextCheckState() override {}
};

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// Dialog units of a font: the average width of the 52 letters and the font's height.
DialogUnits units_of(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

QString name_filters(const std::vector<FileFilter>& filters) {
    QStringList list;
    for (const FileFilter& filter : filters) {
        QString pattern = qs(filter.pattern);
        pattern.replace(';', ' ');
        list << qs(filter.description) + " (" + pattern + ")";
    }
    return list.join(";;");
}

std::optional<FileDialogResult> run_file_dialog(QWidget* owner, const FileDialogRequest& request,
                                                bool save) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save                     ? QFileDialog::AnyFile
                       : request.allow_multiple ? QFileDialog::ExistingFiles
                                                : QFileDialog::ExistingFile);
    dialog.setNameFilter(name_filters(request.filters));
    const QStringList filters = dialog.nameFilters();
    if (request.filter_index >= 1 && request.filter_index <= filters.size())
        dialog.selectNameFilter(filters[request.filter_index - 1]);
    if (!request.default_extension.empty()) dialog.setDefaultSuffix(qs(request.default_extension));
    if (!request.initial_name.empty()) dialog.selectFile(qs(request.initial_name));
    if (!request.overwrite_prompt) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    FileDialogResult result;
    result.filter_index = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
    if (result.filter_index < 1) result.filter_index = 1;
    if (chosen.size() == 1) {
        result.names.push_back(chosen[0].toStdString());
    } else {
        // A folder followed by the names chosen in it, as the dialogs have always answered.
        result.names.push_back(QFileInfo(chosen[0]).absolutePath().toStdString());
        for (const QString& file : chosen)
            result.names.push_back(QFileInfo(file).fileName().toStdString());
    }
    return result;
}

}  // namespace

std::optional<DialogTemplate> load_dialog_template(int template_id) {
    static const std::map<int, const char*> files = {
        {ids::main_dialog, "main_window"},
        {ids::preferences_dialog, "preferences"},
        {ids::request_sample_dialog, "request_sample"},
    };
    const auto found = files.find(template_id);
    if (found == files.end()) return std::nullopt;
    QFile file(QStringLiteral(":/resources/%1.dlg").arg(found->second));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return parse_dialog_template(file.readAll().toStdString());
}

QtWindow::QtWindow(const DialogTemplate& dialog, DialogProcedure& procedure, QWidget* parent)
    : QDialog(parent), procedure_(procedure) {
    build(dialog);
}

QtWindow::~QtWindow() = default;

void QtWindow::build(const DialogTemplate& dialog) {
    QFont font = QApplication::font();
    if (!dialog.font_family.empty()) font.setFamily(qs(dialog.font_family));
    font.setPointSize(dialog.font_points);
    setFont(font);
    units_ = units_of(font);
    setWindowTitle(qs(dialog.caption));
    Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;
    setWindowFlags(flags);
    setSizeGripEnabled(false);
    const Rect client = map_dialog_rect(units_, {0, 0, dialog.w, dialog.h});
    if (dialog.has("sizing"))
        resize(client.w, client.h);
    else
        setFixedSize(client.w, client.h);
    setAcceptDrops(dialog.has("acceptfiles"));

    std::vector<QWidget*> groups;
    for (const ControlTemplate& c : dialog.controls) {
        QWidget* widget = nullptr;
        const QString text = qs(c.text);
        const int id = c.id;
        if (c.kind == "button") {
            auto* button = new QPushButton(text, this);
            button->setDefault(c.has("default"));
            connect(button, &QPushButton::clicked, this, [this, id] { procedure_.command(id); });
            widget = button;
        } else if (c.kind == "checkbox") {
            QCheckBox* box =
                c.has("auto") ? new QCheckBox(text, this) : new ProgramCheckBox(text, this);
            if (c.has("notabstop")) box->setFocusPolicy(Qt::ClickFocus);
            connect(box, &QCheckBox::clicked, this, [this, id, box] {
                {
                    std::lock_guard lock(cache_mutex_);
                    checks_[id] = box->isChecked();
                }
                procedure_.command(id);
            });
            widget = box;
        } else if (c.kind == "edit") {
            auto* edit = new QLineEdit(this);
            if (c.has("number"))
                edit->setValidator(
                    new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
            edit->setReadOnly(c.has("readonly"));
            if (c.has("centre")) edit->setAlignment(Qt::AlignCenter);
            edit->setFrame(true);
            connect(edit, &QLineEdit::textEdited, this, [this, id](const QString& now) {
                std::lock_guard lock(cache_mutex_);
                texts_[id] = now.toStdString();
            });
            widget = edit;
        } else if (c.kind == "static") {
            auto* label = new QLabel(text, this);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(c.h > 12);
            widget = label;
        } else if (c.kind == "group") {
            auto* group = new QGroupBox(text, this);
            // The title sits on the frame's top line, so that the frame encloses the controls
            // placed inside it at their template positions.
            group->setStyleSheet(
                QStringLiteral(
                    "QGroupBox { border: 1px solid palette(mid); border-radius: 2px;"
                    " margin-top: %1px; }"
                    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                    " left: %2px; padding: 0 2px; }")
                    .arg(units_.base_y / 2)
                    .arg(units_.base_x));
            widget = group;
            groups.push_back(widget);
        } else if (c.kind == "listview") {
            auto* tree = new QTreeWidget(this);
            build_list_view(tree, id);
            widget = tree;
        } else if (c.kind == "listbox") {
            auto* list = new QListWidget(this);
            list->setSelectionMode(QAbstractItemView::SingleSelection);
            list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            widget = list;
        } else if (c.kind == "combo") {
            widget = new QComboBox(this);
        } else if (c.kind == "progress") {
            auto* bar = new QProgressBar(this);
            bar->setTextVisible(false);
            bar->setRange(0, 100);
            widget = bar;
        } else {
            continue;
        }
        Rect at = map_dialog_rect(units_, {c.x, c.y, c.w, c.h});
        // A drop-down list's template height includes its open list; closed, it is one line.
        if (c.kind == "combo") at.h = std::max(at.h / 2, widget->sizeHint().height());
        widget->setGeometry(at.x, at.y, at.w, at.h);
        widget->setEnabled(!c.has("disabled"));
        if (id >= 0) {
            controls_[id] = widget;
            std::lock_guard lock(cache_mutex_);
            texts_[id] = c.text;
        }
    }
    // Frames lie under the controls they hold.
    for (QWidget* group : groups) group->lower();
}

void QtWindow::build_list_view(QTreeWidget* tree, int id) {
    tree->setColumnCount(3);
    tree->setHeaderLabels({"Filename", "Size", "Type"});
    tree->setRootIsDecorated(false);
    tree->setUniformRowHeights(true);
    tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree->setTextElideMode(Qt::ElideMiddle);
    tree->setAllColumnsShowFocus(true);
    QHeaderView* header = tree->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->resizeSection(0, 410);
    header->resizeSection(1, 50);
    header->resizeSection(2, 40);
    tree->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    tree->installEventFilter(this);
    tree->viewport()->installEventFilter(this);
    tree->setProperty("jx_id", id);
    connect(tree, &QTreeWidget::itemSelectionChanged, this, [this, id] {
        if (showing_rows_) return;
        report_list_selection(id);
        procedure_.list_notify(id, ListNotify::item_changed, 0, false);
    });
    connect(tree, &QTreeWidget::itemDoubleClicked, this, [this, id] {
        report_list_selection(id);
        procedure_.list_notify(id, ListNotify::double_click, 0, false);
    });
    // Shown once offer_inspector gives the list view a menu of its own.
    connect(tree, &QWidget::customContextMenuRequested, this,
            [this, id](const QPoint& at) { list_context_menu(id, at); });
}

void QtWindow::offer_inspector(TransferList& list, std::mutex* list_mutex) {
    inspected_list_ = &list;
    inspected_list_mutex_ = list_mutex;
    for (const auto& [id, widget] : controls_)
        if (auto* tree = qobject_cast<QTreeWidget*>(widget))
            tree->setContextMenuPolicy(Qt::CustomContextMenu);
}

bool QtWindow::open_inspector(int index) {
    if (inspected_list_ == nullptr) return false;
    return inspect_entry(*inspected_list_, inspected_list_mutex_, index, this) != nullptr;
}

void QtWindow::list_context_menu(int id, const QPoint& at) {
    auto* tree = qobject_cast<QTreeWidget*>(control(id));
    const QModelIndex row = tree->indexAt(at);
    if (!row.isValid()) return;
    QMenu menu(tree);
    QAction* inspect = menu.addAction("Inspect");
    if (menu.exec(tree->viewport()->mapToGlobal(at)) == inspect)
        procedure_.inspect_row(id, row.row());
}

void QtWindow::add_menu_entry(int id, const std::string& text, std::function<void()> action) {
    QWidget* widget = id == 0 ? this : control(id);
    if (widget == nullptr) return;
    auto* entry = new QAction(qs(text), this);
    connect(entry, &QAction::triggered, this, std::move(action));
    widget->setContextMenuPolicy(Qt::ActionsContextMenu);
    widget->addAction(entry);
}

int QtWindow::run() {
    procedure_.init_dialog(*this);
    if (ending_) return result();
    return exec();
}

QWidget* QtWindow::control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

bool QtWindow::on_window_thread() const {
    return QThread::currentThread() == thread();
}

void QtWindow::on_window(std::function<void()> work) {
    if (on_window_thread())
        work();
    else
        QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void QtWindow::post(std::function<void()> work) {
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void QtWindow::set_text(int id, const std::string& text) {
    {
        std::lock_guard lock(cache_mutex_);
        texts_[id] = text;
    }
    on_window([this, id, text] {
        QWidget* widget = control(id);
        const QString value = qs(text);
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->setText(value);
        else if (auto* edit = qobject_cast<QLineEdit*>(widget))
            edit->setText(value);
        else if (auto* label = qobject_cast<QLabel*>(widget))
            label->setText(value);
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            group->setTitle(value);
    });
}

std::string QtWindow::text(int id) const {
    std::lock_guard lock(cache_mutex_);
    auto it = texts_.find(id);
    return it == texts_.end() ? std::string() : it->second;
}

void QtWindow::enable(int id, bool enabled) {
    on_window([this, id, enabled] {
        if (QWidget* widget = control(id)) widget->setEnabled(enabled);
    });
}

bool QtWindow::is_enabled(int id) const {
    const QWidget* widget = control(id);
    return widget == nullptr || widget->isEnabled();
}

void QtWindow::check(int id, bool checked) {
    {
        std::lock_guard lock(cache_mutex_);
        checks_[id] = checked;
    }
    on_window([this, id, checked] {
        if (auto* box = qobject_cast<QCheckBox*>(control(id))) box->setChecked(checked);
    });
}

bool QtWindow::is_checked(int id) const {
    std::lock_guard lock(cache_mutex_);
    auto it = checks_.find(id);
    return it != checks_.end() && it->second;
}

void QtWindow::message_box(const std::string& text, const std::string& caption, MessageIcon icon) {
    on_window([this, text, caption, icon] {
        QMessageBox box(
            icon == MessageIcon::exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
            qs(caption), qs(text), QMessageBox::Ok, this);
        box.exec();
    });
}

std::optional<FileDialogResult> QtWindow::open_file_dialog(const FileDialogRequest& request) {
    return run_file_dialog(this, request, false);
}

std::optional<FileDialogResult> QtWindow::save_file_dialog(const FileDialogRequest& request) {
    return run_file_dialog(this, request, true);
}

void QtWindow::set_list_rows(int id, const std::vector<ListRow>& rows) {
    on_window([this, id, rows] {
        auto* tree = qobject_cast<QTreeWidget*>(control(id));
        if (tree == nullptr) return;
        showing_rows_ = true;
        const int count = static_cast<int>(rows.size());
        while (tree->topLevelItemCount() > count) delete tree->takeTopLevelItem(count);
        while (tree->topLevelItemCount() < count) {
            auto* item = new QTreeWidgetItem(tree);
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        }
        const QBrush highlight = palette().brush(QPalette::Highlight).color().lighter(170);
        QTreeWidgetItem* current = nullptr;
        for (int k = 0; k < count; ++k) {
            QTreeWidgetItem* item = tree->topLevelItem(k);
            const ListRow& row = rows[k];
            for (int column = 0; column < 3 && column < static_cast<int>(row.cells.size());
                 ++column)
                if (item->text(column) != qs(row.cells[column]))
                    item->setText(column, qs(row.cells[column]));
            if (!row.cells.empty() && item->toolTip(0) != qs(row.cells[0]))
                item->setToolTip(0, qs(row.cells[0]));
            for (int column = 0; column < 3; ++column)
                item->setBackground(column, row.drop_highlighted ? highlight : QBrush());
            item->setSelected(row.selected);
            if (row.focused) current = item;
        }
        if (current) tree->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
        showing_rows_ = false;
    });
}

void QtWindow::set_column_width(int id, int column, int width) {
    on_window([this, id, column, width] {
        if (auto* tree = qobject_cast<QTreeWidget*>(control(id)))
            tree->header()->resizeSection(column, std::max(width, 0));
    });
}

int QtWindow::list_row_at(int id, int x, int y) const {
    auto* tree = qobject_cast<QTreeWidget*>(control(id));
    if (tree == nullptr) return -1;
    const QPoint at = tree->viewport()->mapFrom(this, QPoint(x, y));
    if (!tree->viewport()->rect().contains(at)) return -1;
    const QModelIndex index = tree->indexAt(at);
    return index.isValid() ? index.row() : -1;
}

void QtWindow::add_string(int id, const std::string& text) {
    QWidget* widget = control(id);
    if (auto* list = qobject_cast<QListWidget*>(widget))
        list->addItem(qs(text));
    else if (auto* combo = qobject_cast<QComboBox*>(widget))
        combo->addItem(qs(text));
}

void QtWindow::select_index(int id, int index) {
    QWidget* widget = control(id);
    if (auto* list = qobject_cast<QListWidget*>(widget)) {
        if (index >= 0 && index < list->count()) {
            list->setCurrentRow(index);
        } else {
            list->clearSelection();
            list->setCurrentRow(-1);
        }
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
    }
}

int QtWindow::selected_index(int id) const {
    QWidget* widget = control(id);
    if (auto* list = qobject_cast<QListWidget*>(widget)) {
        const auto chosen = list->selectedItems();
        return chosen.isEmpty() ? -1 : list->row(chosen.first());
    }
    if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentIndex();
    return -1;
}

void QtWindow::set_progress(int id, int position) {
    on_window([this, id, position] {
        if (auto* bar = qobject_cast<QProgressBar*>(control(id))) bar->setValue(position);
    });
}

void QtWindow::start_timer(int id, int period_ms) {
    QTimer*& timer = timers_[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, id] { procedure_.timer(id); });
    }
    timer->start(period_ms);
}

void QtWindow::stop_timer(int id) {
    auto it = timers_.find(id);
    if (it != timers_.end()) it->second->stop();
}

void QtWindow::move_control(int id, int x, int y) {
    if (QWidget* widget = control(id)) widget->move(x, y);
}

void QtWindow::size_control(int id, int w, int h) {
    if (QWidget* widget = control(id)) widget->resize(std::max(w, 0), std::max(h, 0));
}

Rect QtWindow::control_rect(int id) const {
    const QWidget* widget = control(id);
    if (widget == nullptr) return {};
    const QRect at = widget->geometry();
    return {at.x(), at.y(), at.width(), at.height()};
}

// The window's place is its frame's corner; its size is that of its client area. The frame's
// thickness is known only once a window manager has framed the window, so a size saved with it
// and restored without it would grow the window by a frame at every start.
Rect QtWindow::outer_rect() const {
    const QPoint corner = frameGeometry().topLeft();
    return {corner.x(), corner.y(), width(), height()};
}

void QtWindow::set_outer_rect(const Rect& rect) {
    move(rect.x, rect.y);
    resize(std::max(rect.w, minimumWidth()), std::max(rect.h, minimumHeight()));
}

Size QtWindow::client_size() const {
    return {width(), height()};
}

Size QtWindow::screen_size() const {
    const QScreen* shown_on = screen();
    if (shown_on == nullptr) shown_on = QGuiApplication::primaryScreen();
    if (shown_on == nullptr) return {};
    return {shown_on->geometry().width(), shown_on->geometry().height()};
}

void QtWindow::set_minimum_size(const Size& size) {
    setMinimumSize(size.w, size.h);
}

void QtWindow::capture_mouse() {}
void QtWindow::release_mouse() {
    dragging_ = false;
}

int QtWindow::run_dialog(int template_id, DialogProcedure& procedure) {
    const auto dialog = load_dialog_template(template_id);
    if (!dialog) return -1;
    QtWindow window(*dialog, procedure, this);
    return window.run();
}

void QtWindow::end_dialog(int result) {
    ending_ = true;
    setResult(result);
    if (isVisible()) done(result);
}

void QtWindow::reject() {
    // The Escape key: a command with the cancel id, which neither dialog acts on.
    if (!ending_) procedure_.command(2);
}

void QtWindow::closeEvent(QCloseEvent* event) {
    if (ending_) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    procedure_.close_request();
}

void QtWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    procedure_.size(width(), height());
}

void QtWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void QtWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
    event->acceptProposedAction();
    procedure_.files_dropped(paths);
}

void QtWindow::report_list_selection(int id) {
    auto* tree = qobject_cast<QTreeWidget*>(control(id));
    if (tree == nullptr) return;
    std::vector<bool> selected(static_cast<size_t>(tree->topLevelItemCount()));
    for (int k = 0; k < tree->topLevelItemCount(); ++k)
        selected[static_cast<size_t>(k)] = tree->topLevelItem(k)->isSelected();
    QTreeWidgetItem* current = tree->currentItem();
    procedure_.list_selection(id, selected, current ? tree->indexOfTopLevelItem(current) : -1);
}

bool QtWindow::list_key(int id, QKeyEvent* key) {
    const bool control_key = (key->modifiers() & Qt::ControlModifier) != 0;
    int code = other_key;
    if (key->key() == Qt::Key_Delete)
        code = key_delete;
    else if (key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z)
        code = 'A' + (key->key() - Qt::Key_A);
    report_list_selection(id);
    procedure_.list_notify(id, ListNotify::key_down, code, control_key);
    // Delete and Ctrl+A are the window's; every other key moves through the list as usual.
    return code == key_delete || (code == key_a && control_key);
}

bool QtWindow::list_mouse(int id, QEvent* event) {
    auto* tree = qobject_cast<QTreeWidget*>(control(id));
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint in_dialog = tree->viewport()->mapTo(this, mouse->position().toPoint());
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (mouse->button() == Qt::LeftButton) {
                press_at_ = mouse->position().toPoint();
                pressed_on_row_ = tree->indexAt(press_at_).isValid();
            }
            return false;
        case QEvent::MouseMove:
            if (dragging_) {
                procedure_.mouse_move(in_dialog.x(), in_dialog.y());
                return true;
            }
            if ((mouse->buttons() & Qt::LeftButton) && pressed_on_row_ &&
                (mouse->position().toPoint() - press_at_).manhattanLength() >=
                    QApplication::startDragDistance()) {
                dragging_ = true;
                report_list_selection(id);
                procedure_.list_notify(id, ListNotify::begin_drag, 0, false);
                procedure_.mouse_move(in_dialog.x(), in_dialog.y());
                return true;
            }
            return false;
        case QEvent::MouseButtonRelease:
            pressed_on_row_ = false;
            if (mouse->button() != Qt::LeftButton) return false;
            if (dragging_) {
                dragging_ = false;
                procedure_.left_button_up();
                return true;
            }
            // A click: the selection it made is already reported.
            procedure_.list_notify(id, ListNotify::click, 0, false);
            return false;
        default:
            return false;
    }
}

bool QtWindow::eventFilter(QObject* watched, QEvent* event) {
    for (const auto& [id, widget] : controls_) {
        auto* tree = qobject_cast<QTreeWidget*>(widget);
        if (tree == nullptr) continue;
        if (watched == tree && event->type() == QEvent::KeyPress)
            return list_key(id, static_cast<QKeyEvent*>(event));
        // Alt+double-click on a row inspects it and is kept from the list view, whose
        // double-click sends.
        if (watched == tree->viewport() && event->type() == QEvent::MouseButtonDblClick &&
            inspected_list_ != nullptr &&
            (static_cast<QMouseEvent*>(event)->modifiers() & Qt::AltModifier)) {
            const QModelIndex at =
                tree->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
            if (at.isValid()) procedure_.inspect_row(id, at.row());
            return true;
        }
        if (watched == tree->viewport() &&
            (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseMove ||
             event->type() == QEvent::MouseButtonRelease))
            return list_mouse(id, event);
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace jx
