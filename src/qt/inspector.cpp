#include "qt/inspector.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "transfer/entry_info.h"

namespace jx {

namespace {

// Zoomed in, a frame is at most this many pixels wide.
constexpr double min_frames_per_pixel = 1.0 / 32;
// The largest message shown byte by byte; the rest is counted.
constexpr size_t max_hex_bytes = 64 * 1024;

QString hex_dump(const uint8_t* bytes, size_t length) {
    QString text;
    const size_t shown = std::min(length, max_hex_bytes);
    for (size_t line = 0; line < shown; line += 16) {
        QString hex, ascii;
        for (size_t k = line; k < line + 16; ++k) {
            if (k == line + 8) hex += ' ';
            if (k < shown) {
                hex += QString("%1 ").arg(bytes[k], 2, 16, QChar('0')).toUpper();
                ascii += bytes[k] >= 0x20 && bytes[k] < 0x7F ? QChar(bytes[k]) : QChar('.');
            } else {
                hex += "   ";
            }
        }
        text += QString("%1  %2 |%3|\n").arg(line, 8, 16, QChar('0')).arg(hex, ascii);
    }
    if (shown < length) text += QString("... %1 more bytes\n").arg(length - shown);
    return text;
}

}  // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumSize(320, 160);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void WaveformView::set_sound(const SampleFrames& sound) {
    sound_ = sound;
    levels_.clear();
    for (const std::vector<float>& channel : sound_.channels)
        levels_.push_back(build_levels(channel));
    if (whole_)
        show_all();
    else
        clamp_view();
    update();
}

void WaveformView::show_all() {
    whole_ = true;
    first_ = 0;
    per_pixel_ = std::max<double>(1, sound_.frames()) / std::max(1, width());
    update();
    emit view_changed();
}

void WaveformView::clamp_view() {
    const double frames = std::max<double>(1, sound_.frames());
    const double most = frames / std::max(1, width());
    per_pixel_ = std::clamp(per_pixel_, std::min(min_frames_per_pixel, most), most);
    whole_ = per_pixel_ >= most;
    first_ = std::clamp(first_, 0.0, std::max(0.0, frames - visible_frames()));
}

void WaveformView::set_first_frame(double first) {
    first_ = first;
    clamp_view();
    update();
    emit view_changed();
}

void WaveformView::zoom(double factor, int x) {
    const double anchor = first_ + x * per_pixel_;
    per_pixel_ *= factor;
    first_ = anchor - x * per_pixel_;
    clamp_view();
    update();
    emit view_changed();
}

void WaveformView::resizeEvent(QResizeEvent*) {
    if (whole_)
        show_all();
    else
        set_first_frame(first_);
}

void WaveformView::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0) zoom(std::pow(0.8, steps), static_cast<int>(event->position().x()));
    event->accept();
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    emit pointer_at(first_ + event->position().x() * per_pixel_);
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(255, 255, 255));
    const int w = width(), h = height();
    if (sound_.looped && sound_.frames() > 0) {
        const double from = (sound_.loop_start - first_) / per_pixel_;
        const double to = (sound_.loop_end + 1 - first_) / per_pixel_;
        if (to >= 0 && from < w)
            painter.fillRect(
                QRectF(std::max(from, 0.0), 0, std::min<double>(to, w) - std::max(from, 0.0), h),
                QColor(214, 230, 250));
    }
    const int bands = static_cast<int>(levels_.size());
    std::vector<Peak> peaks(static_cast<size_t>(w));
    for (int band = 0; band < bands; ++band) {
        const int top = band * h / bands, bottom = (band + 1) * h / bands - 1;
        const double half = (bottom - top - 2) / 2.0, middle = (top + bottom) / 2.0;
        painter.setPen(QColor(190, 190, 190));
        painter.drawLine(0, static_cast<int>(middle), w, static_cast<int>(middle));
        if (band > 0) {
            painter.setPen(QColor(120, 120, 120));
            painter.drawLine(0, top, w, top);
        }
        column_peaks(levels_[band], first_, per_pixel_, w, peaks.data());
        painter.setPen(QColor(20, 70, 160));
        for (int x = 0; x < w; ++x) {
            if (peaks[x].empty()) continue;
            const auto y = [&](float v) {
                return static_cast<int>(std::lround(middle - std::clamp(v, -1.0f, 1.0f) * half));
            };
            painter.drawLine(x, y(peaks[x].high), x, y(peaks[x].low));
        }
    }
    if (bands == 0) painter.drawText(rect(), Qt::AlignCenter, "No frames");
}

void MessageModel::set_rows(std::vector<MessageRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

const MessageRow* MessageModel::row_at(int row) const {
    return row >= 0 && static_cast<size_t>(row) < rows_.size() ? &rows_[row] : nullptr;
}

int MessageModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MessageModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 7;
}

QVariant MessageModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const titles[] = {"Offset", "Length", "Maker", "Device",
                                         "Kind",   "Number", "Damage"};
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= 7)
        return {};
    return titles[section];
}

QVariant MessageModel::data(const QModelIndex& index, int role) const {
    const MessageRow* row = row_at(index.row());
    if (row == nullptr) return {};
    if (role == Qt::ForegroundRole && row->damage != MessageDamage::none) return QColor(190, 0, 0);
    if (role == Qt::TextAlignmentRole)
        return index.column() <= 1 || index.column() == 5
                   ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                   : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
        case 0:
            return QString::number(row->offset);
        case 1:
            return QString::number(row->length);
        case 2:
            return QString::fromStdString(maker_text(*row));
        case 3:
            return row->device >= 0 ? QString("%1").arg(row->device, 2, 16, QChar('0')).toUpper()
                                    : QString("-");
        case 4:
            return kind_text(row->kind);
        case 5:
            return row->number >= 0 ? QString::number(row->number) : QString("-");
        case 6:
            return damage_text(row->damage);
    }
    return {};
}

InspectorWindow::InspectorWindow(TransferList& list, std::mutex* list_mutex, const Entry* entry,
                                 QWidget* parent)
    : QWidget(parent, Qt::Window), list_(list), list_mutex_(list_mutex), entry_(entry) {
    setAttribute(Qt::WA_DeleteOnClose);
    resize(1100, 520);
    auto* layout = new QVBoxLayout(this);
    pages_ = new QStackedWidget(this);
    layout->addWidget(pages_);

    // The waveform page: the view with its scroll bar, the File Info figures beside it.
    auto* wave_page = new QWidget(pages_);
    auto* wave_layout = new QHBoxLayout(wave_page);
    auto* wave_column = new QVBoxLayout;
    waveform_ = new WaveformView(wave_page);
    scroll_ = new QScrollBar(Qt::Horizontal, wave_page);
    scroll_->setObjectName("waveform_scroll");
    position_ = new QLabel(wave_page);
    position_->setObjectName("position");
    wave_column->addWidget(waveform_, 1);
    wave_column->addWidget(scroll_);
    wave_column->addWidget(position_);
    info_ = new QLabel(wave_page);
    info_->setObjectName("file_info");
    info_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    info_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    info_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    wave_layout->addLayout(wave_column, 1);
    wave_layout->addWidget(info_);
    pages_->addWidget(wave_page);
    connect(waveform_, &WaveformView::view_changed, this, [this] { update_scroll_bar(); });
    connect(waveform_, &WaveformView::pointer_at, this, [this](double f) { show_position(f); });
    connect(scroll_, &QScrollBar::valueChanged, this, [this](int value) {
        if (static_cast<int>(waveform_->first_frame()) != value) waveform_->set_first_frame(value);
    });

    // The message page: the table, and below it the bytes of the message selected.
    auto* splitter = new QSplitter(Qt::Vertical, pages_);
    table_ = new QTableView(splitter);
    model_ = new MessageModel(table_);
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    table_->horizontalHeader()->setStretchLastSection(true);
    bytes_ = new QPlainTextEdit(splitter);
    bytes_->setReadOnly(true);
    bytes_->setLineWrapMode(QPlainTextEdit::NoWrap);
    bytes_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    splitter->addWidget(table_);
    splitter->addWidget(bytes_);
    splitter->setSizes({300, 200});
    pages_->addWidget(splitter);
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { show_message(current.row()); });

    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, [this] { refresh(); });
    timer_->start(250);
    load();
}

std::unique_lock<std::mutex> InspectorWindow::lock_list() const {
    return list_mutex_ ? std::unique_lock(*list_mutex_) : std::unique_lock<std::mutex>();
}

const ListItem* InspectorWindow::item() const {
    for (const ListItem& item : list_.items)
        if (item.entry.get() == entry_) return &item;
    return nullptr;
}

bool InspectorWindow::showing_waveform() const {
    return pages_->currentIndex() == 0;
}

void InspectorWindow::refresh() {
    if (gone_) return;
    // The window thread may hold the list's mutex around a dialog whose event loop runs this
    // timer: then it waits for the next tick.
    std::unique_lock<std::mutex> lock;
    if (list_mutex_) {
        lock = std::unique_lock(*list_mutex_, std::try_to_lock);
        if (!lock.owns_lock()) return;
    }
    const ListItem* current = item();
    if (current == nullptr) {
        // The entry left the list: what was read stays on show, marked.
        gone_ = true;
        timer_->stop();
        setWindowTitle(windowTitle() + " (removed from the list)");
        return;
    }
    const bool changed = current->entry->length() != loaded_length_;
    lock.unlock();
    if (changed) load();
}

void InspectorWindow::load() {
    std::unique_lock lock = lock_list();
    const ListItem* current = item();
    if (current == nullptr) return;
    const Entry& entry = *current->entry;
    loaded_length_ = entry.length();
    setWindowTitle(QString::fromStdString("Inspect " + current->name));
    SampleFrames sound;
    if (read_sample_frames(entry.bytes(), entry.length(), sound)) {
        const std::string info = describe_entry(entry).text;
        lock.unlock();
        pages_->setCurrentIndex(0);
        waveform_->set_sound(sound);
        info_->setText(QString::fromStdString(info));
        update_scroll_bar();
        show_position(-1);
        return;
    }
    pages_->setCurrentIndex(1);
    const int selected = table_->currentIndex().row();
    std::vector<MessageRow> rows = list_messages(entry.bytes(), entry.length());
    lock.unlock();
    model_->set_rows(std::move(rows));
    table_->resizeColumnsToContents();
    if (model_->rowCount() > 0)
        table_->setCurrentIndex(model_->index(std::clamp(selected, 0, model_->rowCount() - 1), 0));
    else
        bytes_->setPlainText("No SysEx messages.");
}

void InspectorWindow::show_message(int row) {
    const MessageRow* message = model_->row_at(row);
    std::unique_lock lock = lock_list();
    const ListItem* current = item();
    if (message == nullptr || current == nullptr ||
        message->offset + message->length > current->entry->length())
        return;
    const uint8_t* bytes = current->entry->bytes() + message->offset;
    QString text = QString("%1 at offset %2, %3 bytes: %4\n")
                       .arg(kind_text(message->kind))
                       .arg(message->offset)
                       .arg(message->length)
                       .arg(message->damage == MessageDamage::none
                                ? QString("intact")
                                : QString("damaged, ") + damage_text(message->damage));
    QStringList fields;
    for (const HeaderField& field : header_fields(*message, current->entry->bytes())) {
        QString hex;
        for (size_t k = 0; k < field.length; ++k)
            hex +=
                QString(k ? " %1" : "%1").arg(bytes[field.offset + k], 2, 16, QChar('0')).toUpper();
        fields << hex + " " + QString::fromStdString(field.label);
    }
    text += "Header: " + fields.join(" | ") + "\n\n" + hex_dump(bytes, message->length);
    lock.unlock();
    bytes_->setPlainText(text);
}

void InspectorWindow::show_position(double frame) {
    const SampleFrames& sound = waveform_->sound();
    QString text = QString("%1 frames").arg(sound.frames());
    if (sound.declared > sound.frames()) text += QString(" of %1").arg(sound.declared);
    if (frame >= 0 && frame < sound.frames()) {
        const auto index = static_cast<qint64>(frame);
        text += QString("   pointer: frame %1").arg(index);
        if (sound.rate > 0) text += QString(", %1 s").arg(double(index) / sound.rate, 0, 'f', 6);
    }
    position_->setText(text);
}

void InspectorWindow::update_scroll_bar() {
    const double frames = waveform_->sound().frames();
    const double visible = waveform_->visible_frames();
    const QSignalBlocker block(scroll_);
    scroll_->setRange(0, static_cast<int>(std::max(0.0, frames - visible)));
    scroll_->setPageStep(static_cast<int>(std::max(1.0, visible)));
    scroll_->setSingleStep(static_cast<int>(std::max(1.0, visible / 16)));
    scroll_->setValue(static_cast<int>(waveform_->first_frame()));
}

InspectorWindow* inspect_entry(TransferList& list, std::mutex* list_mutex, int index,
                               QWidget* parent) {
    static std::map<const Entry*, QPointer<InspectorWindow>> open;
    std::erase_if(open, [](const auto& window) { return window.second.isNull(); });
    const Entry* entry = nullptr;
    {
        std::unique_lock lock =
            list_mutex ? std::unique_lock(*list_mutex) : std::unique_lock<std::mutex>();
        if (!valid_index(list, index)) return nullptr;
        entry = list.items[index].entry.get();
    }
    QPointer<InspectorWindow>& window = open[entry];
    if (window.isNull()) window = new InspectorWindow(list, list_mutex, entry, parent);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

}  // namespace jx
