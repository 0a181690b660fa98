// The inspector windows as a user opens them from the main window's list, under Qt's offscreen
// platform. Each test saves screenshots of what it tested.
#include "qt/inspector.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest>
#include <cmath>
#include <memory>
#include <numbers>

#include "app/main_window.h"
#include "app/startup.h"
#include "app_rig.h"
#include "maker_message.h"
#include "platform/window/dialog_ids.h"
#include "qt/qt_window.h"
#include "sample_file_maker.h"
#include "sds_dump_maker.h"
#include "temp_dir.h"
#include "xdg_folders.h"

namespace jx {

namespace {

void save_screenshot(QWidget* widget, const QString& name) {
    QDir().mkpath(JX_SCREENSHOT_DIR);
    widget->grab().save(QString(JX_SCREENSHOT_DIR) + "/" + name + ".png");
}

// A stereo 16-bit WAV of a decaying tone, left and right apart, with a loop.
test::Bytes tone_wav(int frames) {
    using namespace test;
    Bytes data;
    data.reserve(static_cast<size_t>(frames) * 4);
    for (int f = 0; f < frames; ++f) {
        const double decay = std::exp(-3.0 * f / frames);
        const double left = decay * std::sin(2 * std::numbers::pi * 220 * f / 44100);
        const double right = 0.5 * decay * std::sin(2 * std::numbers::pi * 3 * f / 44100) +
                             0.3 * std::sin(2 * std::numbers::pi * 880 * f / 44100);
        for (double v : {left, right}) {
            const auto word = static_cast<uint16_t>(static_cast<int16_t>(v * 32000));
            data.push_back(word & 0xFF);
            data.push_back(word >> 8);
        }
    }
    const auto loop_start = static_cast<uint32_t>(frames / 2);
    const auto loop_end = static_cast<uint32_t>(frames * 3 / 4);
    return riff({fmt_chunk(1, 2, 44100, 16), wav_chunk("data", data),
                 smpl_chunk(0, {{0, loop_start, loop_end}})});
}

struct Session {
    App app;
    test::AppRig rig;
    MainWindow procedure{app};
    std::unique_ptr<QtWindow> window;

    Session() {
        start_up(app, "");
        rig.wire(app.ports, app.settings, app.state);
        window = std::make_unique<QtWindow>(*load_dialog_template(ids::main_dialog), procedure);
        procedure.init_dialog(*window);
        // As the program offers it: the window reports "Inspect" to the main window's procedure,
        // which asks the window to open the inspector.
        window->offer_inspector(app.list, &app.list_mutex);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    ~Session() {
        if (window && window->isVisible()) procedure.close_request();
        if (app.send_worker.joinable()) {
            request_cancel(app.state);
            app.send_worker.join();
        }
    }
    QTreeWidget* list() const {
        return static_cast<QTreeWidget*>(window->control(ids::transfer_list));
    }
    Entry* add(const std::string& name, test::Bytes bytes) {
        auto entry = std::make_unique<Entry>();
        entry->data = std::move(bytes);
        Entry* added = entry.get();
        insert_entry(app.list, name, std::move(entry), -1);
        procedure.refresh_list();
        return added;
    }
    QPoint row_centre(int row) const {
        return list()->visualItemRect(list()->topLevelItem(row)).center();
    }
    InspectorWindow* inspector_of(const Entry* entry) const {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* inspector = qobject_cast<InspectorWindow*>(widget);
                inspector && inspector->isVisible() && inspector->entry() == entry)
                return inspector;
        return nullptr;
    }
};

}  // namespace

class InspectorTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::XdgFolders> folders;

  private slots:
    void init() { folders = std::make_unique<test::XdgFolders>(); }
    void cleanup() { folders.reset(); }

    void altDoubleClickOnASampleShowsItsWaveformAndDoesNotSend() {
        Session session;
        session.add("/dumps/kit.syx", test::record(0x06, 'R', {1, 1, 3}));
        Entry* sample = session.add("/samples/tone.wav", tone_wav(3 * 44100));
        QTest::mouseClick(session.list()->viewport(), Qt::LeftButton, Qt::AltModifier,
                          session.row_centre(1));
        QTest::mouseDClick(session.list()->viewport(), Qt::LeftButton, Qt::AltModifier,
                           session.row_centre(1));
        InspectorWindow* inspector = session.inspector_of(sample);
        QVERIFY(inspector != nullptr);
        QCOMPARE(session.app.state.sending.load(), 0);
        QVERIFY(inspector->showing_waveform());
        QVERIFY(QTest::qWaitForWindowExposed(inspector));
        WaveformView* view = inspector->waveform();
        QCOMPARE(view->sound().channels.size(), size_t{2});
        QCOMPARE(view->sound().frames(), int64_t{3 * 44100});
        // The whole sample fits the width at first.
        QCOMPARE(view->first_frame(), 0.0);
        QVERIFY(std::abs(view->visible_frames() - 3 * 44100) < 1);
        const int middle = view->width() / 2;
        QTest::mouseMove(view, QPoint(middle, view->height() / 2));
        const QString position = inspector->findChild<QLabel*>("position")->text();
        const auto frame = static_cast<qint64>(middle * view->frames_per_pixel());
        QVERIFY2(position.contains(QString("pointer: frame %1, %2 s")
                                       .arg(frame)
                                       .arg(double(frame) / 44100, 0, 'f', 6)),
                 qPrintable(position));
        // The File Info figures stand beside the waveform.
        QVERIFY(inspector->findChild<QLabel*>("file_info")->text().contains("44100"));
        save_screenshot(inspector, "inspector_waveform");

        // The wheel zooms around the pointer: the frame under it stays under it.
        const int x = view->width() / 3;
        const double anchor = view->first_frame() + x * view->frames_per_pixel();
        const double before = view->frames_per_pixel();
        for (int k = 0; k < 8; ++k) {
            QWheelEvent wheel(QPointF(x, 10), view->mapToGlobal(QPointF(x, 10)), QPoint(),
                              QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(view, &wheel);
        }
        QVERIFY(view->frames_per_pixel() < before / 5);
        QVERIFY(std::abs(view->first_frame() + x * view->frames_per_pixel() - anchor) < 1);
        auto* scroll = inspector->findChild<QScrollBar*>("waveform_scroll");
        QVERIFY2(scroll->maximum() > 0, qPrintable(QString("%1 %2 %3")
                                                       .arg(scroll->maximum())
                                                       .arg(view->visible_frames())
                                                       .arg(view->sound().frames())));
        QCOMPARE(scroll->value(), static_cast<int>(view->first_frame()));
        scroll->setValue(scroll->maximum());
        QCOMPARE(static_cast<int>(view->first_frame()), scroll->maximum());
        save_screenshot(inspector, "inspector_waveform_zoomed");

        // One inspector per entry: asking again raises the same window.
        QCOMPARE(inspect_entry(session.app.list, &session.app.list_mutex, 1, session.window.get()),
                 inspector);

        // A plain double-click still sends, as it always did: the kit reaches the device.
        // Qt Test's double-click needs the click before it, as a hand makes it.
        QTest::mouseClick(session.list()->viewport(), Qt::LeftButton, Qt::NoModifier,
                          session.row_centre(0));
        QTest::mouseDClick(session.list()->viewport(), Qt::LeftButton, Qt::NoModifier,
                           session.row_centre(0));
        QTRY_VERIFY(session.rig.loopback.idle() &&
                    !session.rig.device.device().record().sysex.empty());
        QCOMPARE(session.rig.device.device().record().sysex,
                 std::vector<test::Bytes>{test::record(0x06, 'R', {1, 1, 3})});
    }

    void inspectFromTheContextMenuListsTheMessages() {
        Session session;
        test::Bytes dump;
        const int count = 100000;
        dump.reserve(count * 16);
        for (int k = 0; k < count; ++k) {
            test::Bytes m = test::record(0x06, k % 2 ? 'S' : 'R', {1, 1, uint8_t(k % 128), 7, 9});
            if (k == 3) m[m.size() - 4] ^= 1;
            dump.insert(dump.end(), m.begin(), m.end());
        }
        Entry* entry = session.add("/dumps/many.syx", dump);
        // The menu is modal: choose its entry once it is up.
        QTimer::singleShot(50, [] {
            QWidget* menu = QApplication::activePopupWidget();
            QVERIFY(menu != nullptr);
            QCOMPARE(qobject_cast<QMenu*>(menu)->actions().at(0)->text(), QString("Inspect"));
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        const QPoint at = session.row_centre(0);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at,
                                session.list()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(session.list()->viewport(), &event);
        InspectorWindow* inspector = session.inspector_of(entry);
        QVERIFY(inspector != nullptr);
        QVERIFY(!inspector->showing_waveform());
        QTableView* table = inspector->messages();
        QCOMPARE(table->model()->rowCount(), count);
        QCOMPARE(table->model()->index(1, 4).data().toString(), QString("sound"));
        QCOMPARE(table->model()->index(3, 6).data().toString(), QString("bad checksum"));
        QCOMPARE(table->model()->index(count - 1, 0).data().toString(),
                 QString::number((count - 1) * 17));
        table->selectRow(3);
        const QString bytes = inspector->bytes_view()->toPlainText();
        QVERIFY2(bytes.contains("sound at offset 51, 17 bytes: damaged, bad checksum"),
                 qPrintable(bytes));
        QVERIFY2(bytes.contains("Header: F0 start | 00 6B 2E maker | 06 device | 00 00 | 53 id | "
                                "03 position | F7 end"),
                 qPrintable(bytes));
        QVERIFY2(bytes.contains("00000000  F0 00 6B 2E 06 00 53 01  01 03 07 09 00 11 00 07  "
                                "|..k...S.........|"),
                 qPrintable(bytes));
        QVERIFY(QTest::qWaitForWindowExposed(inspector));
        save_screenshot(inspector, "inspector_messages");
    }

    void aGrowingDumpDrawsAsItGrowsAndARemovedEntryIsMarked() {
        Session session;
        test::DumpFields shape;
        for (int k = 0; k < 4000; ++k) shape.samples.push_back(int(8000 * std::sin(k / 40.0)));
        const test::Stream whole = test::whole_dump(shape);
        Entry* entry =
            session.add("dump", test::Bytes(whole.begin(), whole.begin() + 21 + 127 * 10));
        InspectorWindow* inspector =
            inspect_entry(session.app.list, &session.app.list_mutex, 0, session.window.get());
        QVERIFY(inspector->showing_waveform());
        QCOMPARE(inspector->waveform()->sound().frames(), int64_t{400});
        {
            std::lock_guard lock(session.app.list_mutex);
            entry->data = whole;
        }
        QTRY_COMPARE(inspector->waveform()->sound().frames(), int64_t{4000});
        session.app.list.items.clear();
        session.procedure.refresh_list();
        QTRY_VERIFY(inspector->windowTitle().endsWith("(removed from the list)"));
        QCOMPARE(inspector->waveform()->sound().frames(), int64_t{4000});
    }
};

}  // namespace jx

QTEST_MAIN(jx::InspectorTest)
#include "inspector_test.moc"
