#pragma once
// The inspector: a window of its own for one entry of the transfer list, opened from the list's
// context menu ("Inspect") or by Alt+double-click on a row (a plain double-click still sends),
// which the Qt window reports to the main window's procedure (QtWindow::offer_inspector).
// A sample, an SDS dump or a TonePAK waveform shows its waveform; other SysEx its messages.
#include <QAbstractTableModel>
#include <QPointer>
#include <QWidget>
#include <map>
#include <mutex>
#include <vector>

#include "analysis/message_table.h"
#include "audio/sample_frames.h"
#include "audio/waveform_levels.h"
#include "transfer/transfer_list.h"

class QLabel;
class QPlainTextEdit;
class QScrollBar;
class QStackedWidget;
class QTableView;
class QTimer;

namespace jx {

// The waveform of a sound: per channel a band with the lowest and highest value of each pixel
// column, the loop shaded. The wheel zooms around the pointer.
class WaveformView : public QWidget {
    Q_OBJECT
  public:
    explicit WaveformView(QWidget* parent = nullptr);
    // Shows the sound; keeps the view's place when only more frames came.
    void set_sound(const SampleFrames& sound);
    const SampleFrames& sound() const { return sound_; }
    double first_frame() const { return first_; }
    double frames_per_pixel() const { return per_pixel_; }
    // The frames that fit the width at the current zoom.
    double visible_frames() const { return per_pixel_ * std::max(1, width()); }
    void set_first_frame(double first);
    // Multiplies the frames per pixel by factor, keeping the frame at x in place.
    void zoom(double factor, int x);
    void show_all();

  signals:
    void view_changed();
    void pointer_at(double frame);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void clamp_view();
    SampleFrames sound_;
    std::vector<WaveLevels> levels_;
    double first_ = 0;
    double per_pixel_ = 1;
    bool whole_ = true;  // showing the whole sound: stays so when it grows or the window resizes
};

// The rows of list_messages as a table; the entry's bytes stay where they are.
class MessageModel : public QAbstractTableModel {
  public:
    explicit MessageModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
    void set_rows(std::vector<MessageRow> rows);
    const MessageRow* row_at(int row) const;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    std::vector<MessageRow> rows_;
};

class InspectorWindow : public QWidget {
    Q_OBJECT
  public:
    // list_mutex, when given, is held while the window reads the list and the entry: the send
    // thread takes it for its own calls on the list.
    InspectorWindow(TransferList& list, std::mutex* list_mutex, const Entry* entry,
                    QWidget* parent = nullptr);
    const Entry* entry() const { return entry_; }
    WaveformView* waveform() const { return waveform_; }
    QTableView* messages() const { return table_; }
    QPlainTextEdit* bytes_view() const { return bytes_; }
    bool showing_waveform() const;
    // Reads the entry again when it changed or went; called by the window's timer.
    void refresh();

  private:
    // Holds the list's mutex, when there is one, for the reads of one step.
    std::unique_lock<std::mutex> lock_list() const;
    const ListItem* item() const;
    void load();
    void show_message(int row);
    void show_position(double frame);
    void update_scroll_bar();

    TransferList& list_;
    std::mutex* list_mutex_;
    const Entry* entry_;
    size_t loaded_length_ = SIZE_MAX;
    bool gone_ = false;
    QStackedWidget* pages_;
    WaveformView* waveform_;
    QLabel* info_;
    QLabel* position_;
    QScrollBar* scroll_;
    QTableView* table_;
    MessageModel* model_;
    QPlainTextEdit* bytes_;
    QTimer* timer_;
};

// Opens the inspector of the list's entry at index, or raises the one already open for it.
InspectorWindow* inspect_entry(TransferList& list, std::mutex* list_mutex, int index,
                               QWidget* parent);

}  // namespace jx
