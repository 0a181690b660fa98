// The main window and the preferences dialog as real Qt widgets, driven with Qt Test under the
// offscreen platform. Every test saves a screenshot of what it tested.
#include "qt/qt_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>
#include <memory>
#include <set>

#include "app/config.h"
#include "app/main_window.h"
#include "app/request_sample.h"
#include "app/startup.h"
#include "app_rig.h"
#include "maker_message.h"
#include "midi_file_maker.h"
#include "platform/os/single_instance.h"
#include "platform/window/dialog_ids.h"
#include "sample_file_maker.h"
#include "temp_dir.h"
#include "transfer/add_files.h"
#include "xdg_folders.h"

namespace QTest {
template <>
char* toString(const jx::Rect& rect) {
    return qstrdup(
        qPrintable(QString("(%1, %2) %3 x %4").arg(rect.x).arg(rect.y).arg(rect.w).arg(rect.h)));
}
}  // namespace QTest

namespace jx {

namespace {

void save_screenshot(QWidget* widget, const QString& name) {
    QDir().mkpath(JX_SCREENSHOT_DIR);
    widget->grab().save(QString(JX_SCREENSHOT_DIR) + "/" + name + ".png");
}

// One run of the program's window: the settings, the ports on the virtual device, the main
// window's procedure and its Qt window, shown.
struct Session {
    App app;
    test::AppRig rig;
    MainWindow procedure{app};
    std::unique_ptr<QtWindow> window;

    explicit Session(const std::function<void(App&)>& prepare = {}) {
        start_up(app, "");
        rig.wire(app.ports, app.settings, app.state);
        load_config(app.settings);  // what a real start reads, over the rig's defaults
        if (prepare) prepare(app);
        window = std::make_unique<QtWindow>(*load_dialog_template(ids::main_dialog), procedure);
        procedure.init_dialog(*window);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        // The ports open on the engine thread; a test may change the settings once they have.
        settle_ports(app);
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
    QString text(int id) const {
        QWidget* widget = window->control(id);
        if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
        return {};
    }
    void add(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            auto entry = std::make_unique<Entry>();
            entry->data = test::record(0x06, 'R', {1, 2, 3});
            insert_entry(app.list, name, std::move(entry), -1);
        }
        procedure.refresh_list();
    }
    QPoint row_centre(int row) const {
        return list()->visualItemRect(list()->topLevelItem(row)).center();
    }
    void mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, list()->viewport()->mapToGlobal(at), Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(list()->viewport(), &event);
    }
    void drop(const QStringList& paths) {
        auto data = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
        data->setUrls(urls);
        const QPointF at(window->width() / 2, window->height() / 4);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data.get(), Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        QDropEvent dropped(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &dropped);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> all;
        for (int k = 0; k < list()->topLevelItemCount(); ++k)
            all.push_back(list()->topLevelItem(k)->text(0).toStdString());
        return all;
    }
};

Rect du_rect(const QtWindow& window, int x, int y, int w, int h) {
    return map_dialog_rect(window.dialog_units(), {x, y, w, h});
}

}  // namespace

class QtWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::XdgFolders> folders;
    std::unique_ptr<test::TempDir> files;

  private slots:
    void init() {
        folders = std::make_unique<test::XdgFolders>();
        files = std::make_unique<test::TempDir>();
    }
    void cleanup() {
        files.reset();
        folders.reset();
    }

    void templatesReadAndBadLinesAreNamed() {
        const auto main_window = load_dialog_template(ids::main_dialog);
        QVERIFY(main_window);
        QCOMPARE(main_window->caption, std::string("- Sysex Tool by Tessarin v1.51"));
        QCOMPARE(main_window->controls.size(), size_t{22});
        const auto preferences = load_dialog_template(ids::preferences_dialog);
        QVERIFY(preferences);
        QVERIFY(preferences->controls.back().text == "Cancel");
        struct Case {
            const char* text;
            int bad_line;
        };
        const Case cases[] = {
            {"dialog 1 10 10 - \"x\"\n5 button 1 2 3 \"short\"\n", 2},
            {"dialog 1 10 10 - \"x\"\nfive button 1 2 3 4 - \"no id\"\n", 2},
            {"dialog 1 10 10 - \"x\"\n5 button 1 2 3 4 - no quotes\n", 2},
            {"# no dialog line\n5 button 1 2 3 4 - \"x\"\n", 2},
        };
        for (const Case& c : cases) {
            int line = 0;
            QVERIFY2(!parse_dialog_template(c.text, &line), c.text);
            QCOMPARE(line, c.bad_line);
        }
    }

    void layoutAtTheDesignedSizeAndTaller() {
        Session session;
        QtWindow& window = *session.window;
        const Rect client = du_rect(window, 0, 0, 392, 180);
        QCOMPARE(window.width(), client.w);
        QCOMPARE(window.height(), client.h);
        QCOMPARE(window.control_rect(ids::transfer_list), du_rect(window, 1, 20, 389, 80));
        QCOMPARE(window.control_rect(ids::progress).y, du_rect(window, 6, 168, 196, 8).y);
        session.add({"/samples/kick.wav", "/dumps/kit.syx"});
        save_screenshot(&window, "layout_designed");

        window.resize(client.w, du_rect(window, 0, 0, 392, 280).h);
        const Rect corner = du_rect(window, 1, 20, 0, 0);
        const Rect size = du_rect(window, 0, 0, 389, 180);
        QTRY_COMPARE(window.control_rect(ids::transfer_list),
                     (Rect{corner.x, corner.y, size.w, size.h}));
        QCOMPARE(window.control_rect(ids::progress).y, du_rect(window, 6, 268, 196, 8).y);
        QCOMPARE(window.control_rect(ids::send), du_rect(window, 3, 3, 48, 14));
        // The "Filename" column ends 120 units short of the right edge.
        QCOMPARE(session.list()->header()->sectionSize(0),
                 client.w - du_rect(window, 0, 0, 1000, 0).w * 120 / 1000);
        // Never smaller than designed.
        window.resize(client.w / 2, client.h / 2);
        QCOMPARE(window.width(), client.w);
        QCOMPARE(window.height(), client.h);
        save_screenshot(&window, "layout_taller_then_shrunk");
    }

    void enterSendsAndEscapeDoesNothing() {
        Session session;
        const test::Bytes kit = test::record(0x06, 'R', {1, 2, 3});
        add_files(session.app.list, files->write("kit.syx", kit), '0', '0');
        session.procedure.refresh_list();
        session.list()->setFocus();
        QTest::keyClick(session.list(), Qt::Key_Escape);
        QVERIFY(session.window->isVisible());
        QTest::keyClick(session.list(), Qt::Key_Return);
        QTRY_VERIFY(session.text(ids::status).startsWith("Sent: "));
        QTRY_VERIFY(session.rig.loopback.idle());
        QCOMPARE(session.rig.device.device().record().sysex, std::vector<test::Bytes>{kit});
        save_screenshot(session.window.get(), "enter_sends");
    }

    void deleteRemovesNothingWhileSendingAndControlASelectsAll() {
        Session session;
        session.add({"/a.syx", "/b.syx", "/c.syx"});
        session.list()->setFocus();
        QTest::keyClick(session.list(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(session.list()->selectedItems().size(), 3);
        QCOMPARE(selected_count(session.app.list), 3);
        session.app.state.sending = 1;
        QTest::keyClick(session.list(), Qt::Key_Delete);
        QCOMPARE(session.list()->topLevelItemCount(), 3);
        session.app.state.sending = 0;
        session.list()->clearSelection();
        session.list()->topLevelItem(1)->setSelected(true);
        QTest::keyClick(session.list(), Qt::Key_Delete);
        QCOMPARE(session.names(), (std::vector<std::string>{"/a.syx", "/c.syx"}));
        save_screenshot(session.window.get(), "delete_and_select_all");
    }

    void draggingTheFirstRowOverTheThird() {
        Session session;
        session.add({"/one.syx", "/two.syx", "/three.syx", "/four.syx"});
        const QPoint first = session.row_centre(0);
        QTest::mousePress(session.list()->viewport(), Qt::LeftButton, Qt::NoModifier, first);
        session.mouse(QEvent::MouseMove, first + QPoint(0, 1), Qt::LeftButton);
        session.mouse(QEvent::MouseMove, first + QPoint(QApplication::startDragDistance() + 1, 0),
                      Qt::LeftButton);
        QCOMPARE(session.procedure.drag_from(), 0);
        session.mouse(QEvent::MouseMove, session.row_centre(1), Qt::LeftButton);
        session.mouse(QEvent::MouseMove, session.row_centre(2), Qt::LeftButton);
        QCOMPARE(session.names(),
                 (std::vector<std::string>{"/two.syx", "/three.syx", "/one.syx", "/four.syx"}));
        save_screenshot(session.window.get(), "drag_row_one_over_three");
        session.mouse(QEvent::MouseButtonRelease, session.row_centre(2), Qt::NoButton);
        QCOMPARE(session.procedure.drag_from(), -1);
    }

    void remoteCancelNoticeForTwoSeconds() {
        Session session;
        session.app.state.status_bits = status_remote_cancel;
        QElapsedTimer shown;
        QTRY_COMPARE_WITH_TIMEOUT(session.text(ids::status), QString("Remotely cancelled."), 1000);
        shown.start();
        save_screenshot(session.window.get(), "remotely_cancelled");
        QTRY_COMPARE_WITH_TIMEOUT(session.text(ids::status), QString(""), 5000);
        QVERIFY2(shown.elapsed() >= 1800, qPrintable(QString::number(shown.elapsed())));
        QCOMPARE(session.app.state.status_bits.load(), 0);
    }

    void turboAnswerShownAndTurboAgainTurnsItOff() {
        Session session;
        auto* turbo = static_cast<QCheckBox*>(session.window->control(ids::turbo_check));
        QTRY_VERIFY(session.rig.loopback.idle());
        QTest::mouseClick(turbo, Qt::LeftButton);
        QVERIFY(!turbo->isChecked());  // only the device's answer checks it
        QTRY_COMPARE(session.text(ids::turbo_speed), QString("20"));
        QVERIFY(turbo->isChecked());
        save_screenshot(session.window.get(), "turbo_x20");
        QTest::mouseClick(turbo, Qt::LeftButton);
        QTRY_VERIFY(!turbo->isChecked());
        QCOMPARE(session.text(ids::turbo_speed), QString(""));
    }

    void placementRestoredWithinTheScreen() {
        Size designed;
        {
            Session first;
            designed = first.window->client_size();
        }
        Settings saved;
        load_config(saved);
        Size screen;
        {
            Session probe;
            screen = probe.window->screen_size();
        }
        saved.win_x = screen.w + 100;  // beyond the screen: half its width
        saved.win_y = 20;
        saved.win_w = designed.w - 50;  // smaller than designed: ignored
        saved.win_h = designed.h + 40;
        save_placement(saved);
        Session session;
        const Rect at = session.window->outer_rect();
        QCOMPARE(at.x, screen.w / 2);
        QCOMPARE(at.y, 20);
        QCOMPARE(at.w, designed.w);
        QCOMPARE(at.h, designed.h + 40);
        save_screenshot(session.window.get(), "placement_restored");
    }

    void preferencesOkAndCancel() {
        Session session;
        auto* configure = static_cast<QPushButton*>(session.window->control(ids::configure));
        bool checked_dialog = false;
        // The dialog is modal: act on it once it shows.
        auto act = [&](bool ok) {
            QTimer::singleShot(0, [&, ok] {
                QTRY_VERIFY(dynamic_cast<QtWindow*>(QApplication::activeModalWidget()));
                auto* dialog = dynamic_cast<QtWindow*>(QApplication::activeModalWidget());
                auto* outs = static_cast<QListWidget*>(dialog->control(ids::midi_out_list));
                QCOMPARE(outs->item(outs->count() - 1)->text(), QString("Virtual device"));
                QTest::mouseClick(dialog->control(ids::reload_files), Qt::LeftButton);
                auto* delay = static_cast<QLineEdit*>(dialog->control(ids::delay_edit));
                delay->clear();
                QTest::keyClicks(delay, "12x5");  // digits only
                QCOMPARE(delay->text(), QString("125"));
                QTest::keyClick(dialog, Qt::Key_Escape);  // stays open
                QVERIFY(dialog->isVisible());
                if (ok) save_screenshot(dialog, "preferences");
                QTest::mouseClick(dialog->control(ok ? ids::pref_ok : ids::pref_cancel),
                                  Qt::LeftButton);
                checked_dialog = true;
            });
            QTest::mouseClick(configure, Qt::LeftButton);
        };
        act(false);
        QVERIFY(checked_dialog);
        QCOMPARE(session.app.settings.syx_reload, 0);
        QCOMPARE(session.app.settings.midi_del, 0);
        checked_dialog = false;
        act(true);
        QVERIFY(checked_dialog);
        QCOMPARE(session.app.settings.syx_reload, 1);
        QCOMPARE(session.app.settings.midi_del, 125);
        Settings saved;
        load_config(saved);
        QCOMPARE(saved.midi_del, 125);
    }

    void droppedFilesAreAddedAndTheListComesBack() {
        const std::string dump = files->write("kit.syx", test::record(0x06, 'R', {1, 2, 3, 4}));
        const std::string wave =
            files->write("kick.wav", test::riff({test::fmt_chunk(1, 1, 44100, 16),
                                                 test::wav_chunk("data", test::Bytes(4000, 0))}));
        {
            Session session([](App& app) {
                app.settings.syx_reload = 1;
                save_prefs(app.settings);
            });
            session.drop({QString::fromStdString(dump), QString::fromStdString(wave)});
            QCOMPARE(session.names(), (std::vector<std::string>{dump, wave}));
            QCOMPARE(session.list()->topLevelItem(0)->text(2), QString("KE"));
            QCOMPARE(session.list()->topLevelItem(1)->text(2), QString("WAV"));
            // The first file added became the selection and is described.
            QVERIFY(session.text(ids::file_info).trimmed().size() > 0);
            save_screenshot(session.window.get(), "dropped_files");
            QTest::mouseClick(session.window->control(ids::exit_button), Qt::LeftButton);
            QVERIFY(!session.window->isVisible());
        }
        Session again;
        QCOMPARE(again.names(), (std::vector<std::string>{dump, wave}));
        save_screenshot(again.window.get(), "list_restored");
    }

    void loadShowsTheOpenDialogWithItsFilters() {
        Session session;
        const std::string path = files->write("kit.syx", test::record(0x06, 'R', {1, 2}));
        QStringList filters;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            filters = dialog->nameFilters();
            save_screenshot(dialog, "open_dialog");
            dialog->selectFile(QString::fromStdString(path));
            static_cast<QDialog*>(dialog)->accept();
        });
        QTest::mouseClick(session.window->control(ids::load), Qt::LeftButton);
        QCOMPARE(session.names(), std::vector<std::string>{path});
        QVERIFY2(!filters.isEmpty() && filters[0].contains("*.syx"), qPrintable(filters.join("|")));
    }

    void portFailureIsAMessageBoxWithCaptionAndIcon() {
        Session session;
        session.app.settings.midi_out = 7;  // no such output
        session.add({"/dumps/kit.syx"});
        set_selected(session.app.list, 0, true);
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            save_screenshot(box, "port_failure");
            box->accept();
        });
        QTest::mouseClick(session.window->control(ids::send), Qt::LeftButton);
        QTRY_COMPARE(text, QString("Could not allocate Midi Out port"));
        QCOMPARE(caption, QString("Cancel"));
        QCOMPARE(icon, QMessageBox::Warning);
        QVERIFY(!session.app.send_worker.joinable());  // nothing was sent
    }

    void secondCopyEndsAtOnce() {
        test::ScopedEnv runtime("XDG_RUNTIME_DIR", files->path.string());
        InstanceLock running = acquire_instance_lock(instance_name);
        QVERIFY(running.held());
        QProcess second;
        second.start(JX_PROGRAM_PATH, {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
    }

    // --help and --version answer on a machine without a screen, even beside a running copy.
    void helpAndVersionWithoutADisplay() {
        test::ScopedEnv runtime("XDG_RUNTIME_DIR", files->path.string());
        InstanceLock running = acquire_instance_lock(instance_name);
        QVERIFY(running.held());
        QProcessEnvironment headless = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            headless.remove(name);
        const auto run = [&](const QString& option) {
            QProcess jx;
            jx.setProcessEnvironment(headless);
            jx.start(JX_PROGRAM_PATH, {option});
            if (!jx.waitForFinished(10000) || jx.exitCode() != 0) return QString("failed");
            return QString::fromUtf8(jx.readAllStandardOutput());
        };
        QCOMPARE(run("--version"), QString("jx %1\n").arg(JX_PROJECT_VERSION));
        QVERIFY2(run("--help").startsWith("usage: jx [DOCUMENT]\n"), qPrintable(run("--help")));
        // An option jx does not take is a usage error, and output that cannot be written a
        // failure with the reason, both without a display.
        const auto status = [&](const QStringList& arguments, const QString& out) {
            QProcess jx;
            jx.setProcessEnvironment(headless);
            if (!out.isEmpty()) jx.setStandardOutputFile(out);
            jx.start(JX_PROGRAM_PATH, arguments);
            const bool ended = jx.waitForFinished(10000);
            const QString said = QString::fromUtf8(jx.readAllStandardError());
            return ended && jx.exitStatus() == QProcess::NormalExit
                       ? QString::number(jx.exitCode()) + " " + said
                       : QString("crashed ") + said;
        };
        for (const QStringList& arguments :
             {QStringList{"--bogus"}, {"-v"}, {"--version=1"}, {"--help", "--version"}})
            QVERIFY2(status(arguments, "").startsWith("2 jx: "), qPrintable(status(arguments, "")));
        if (QFile::exists("/dev/full"))
            QCOMPARE(status({"--help"}, "/dev/full"),
                     QString("1 jx: cannot write the output: No space left on device\n"));
    }

    // A Standard MIDI File dropped on the window is one entry of its SysEx, under its name.
    void droppedMidiFileIsOneSysexEntry() {
        const test::Bytes kit = test::record(0x06, 'R', {1, 2, 3, 4});
        const test::Bytes note{0x00, 0x90, 0x3C, 0x40, 0x60, 0x3C, 0x00};
        const std::string mid =
            files->write("kits.mid", test::midi_file(0, {test::concat({test::sysex_event(kit), note,
                                                                       test::sysex_event(kit)})}));
        Session session;
        session.drop({QString::fromStdString(mid)});
        QCOMPARE(session.names(), std::vector<std::string>{mid});
        QCOMPARE(session.list()->topLevelItem(0)->text(2), QString("KE"));
        QVERIFY(session.text(ids::file_info).contains("Kits: 2"));
        save_screenshot(session.window.get(), "dropped_midi_file");
    }

    // "Request sample..." from the Receive button's menu: the device's held sample comes back
    // as an entry; a number it does not hold is named in the status field after a few seconds
    // while Receive goes on.
    void requestSampleFromTheReceiveButtonsMenu() {
        Session session([](App& app) { app.settings.sds_dev = 0; });
        add_request_sample_menu(*session.window, session.procedure);
        VirtualDevice& device = session.rig.device.device();
        ReceivedSample sample;
        sample.bits = 16;
        sample.rate = 22050;
        sample.period = 1000000000 / 22050;
        for (int k = 0; k < 500; ++k) sample.words.push_back((k % 50) * 500 - 12000);
        sample.length = 500;
        sample.complete = true;
        device.hold_sample(sample, 3);

        auto* receive = static_cast<QPushButton*>(session.window->control(ids::receive));
        const auto request = [&](int number, bool screenshot) {
            QString shown_device;
            bool asked = false;
            QTimer::singleShot(0, [&] {
                QTRY_VERIFY(QApplication::activeModalWidget() != session.window.get());
                auto* dialog = dynamic_cast<QtWindow*>(QApplication::activeModalWidget());
                QVERIFY(dialog != nullptr);
                QCOMPARE(dialog->windowTitle(), QString("Request sample"));
                shown_device =
                    static_cast<QLabel*>(dialog->control(ids::request_sds_device))->text();
                auto* edit = static_cast<QLineEdit*>(dialog->control(ids::request_number));
                edit->clear();
                QTest::keyClicks(edit, QString::number(number));
                if (screenshot) save_screenshot(dialog, "request_sample_dialog");
                QTest::mouseClick(dialog->control(ids::request_ok), Qt::LeftButton);
                asked = true;
            });
            QCOMPARE(receive->contextMenuPolicy(), Qt::ActionsContextMenu);
            QCOMPARE(receive->actions().size(), qsizetype{1});
            QCOMPARE(receive->actions()[0]->text(), QString("Request sample\u2026"));
            receive->actions()[0]->trigger();
            QVERIFY(asked);
            QCOMPARE(shown_device, QString("0"));
        };
        request(3, true);
        QCOMPARE(receive->text(), QString("Stop Rec"));
        QTRY_COMPARE_WITH_TIMEOUT(session.list()->topLevelItemCount(), 1, 10000);
        QCOMPARE(session.list()->topLevelItem(0)->text(2), QString("SDS"));
        // The recorder is done with the input buffer that ended the dump.
        QTRY_COMPARE(session.app.state.received_count.load(), 0);
        QCOMPARE(device.record().requests.size(), size_t{1});
        QCOMPARE(device.record().requests[0].number, 3);
        QVERIFY(device.record().requests[0].held);
        save_screenshot(session.window.get(), "request_sample_received");

        request(7, false);
        QTRY_COMPARE_WITH_TIMEOUT(session.text(ids::status), QString("No answer to the request."),
                                  6000);
        QCOMPARE(device.record().requests.size(), size_t{2});
        QVERIFY(!device.record().requests[1].held);
        for (int tick = 0; tick < 3; ++tick) session.procedure.timer(status_timer);
        // The timer keeps the notice, and Receive goes on.
        QCOMPARE(session.text(ids::status), QString("No answer to the request."));
        QCOMPARE(receive->text(), QString("Stop Rec"));
        save_screenshot(session.window.get(), "request_sample_no_answer");
        QTest::mouseClick(receive, Qt::LeftButton);
        QTRY_COMPARE(receive->text(), QString("Receive"));
        QCOMPARE(session.list()->topLevelItemCount(), 1);
    }

    // A whole session against the virtual device: drop a dump and a sample, send both under the
    // SDS handshake at MIDI speed, record them back, close while a send runs, start again.
    void wholeSession() {
        const test::Bytes kit = test::record(0x06, 'R', {1, 2, 3, 4});
        const std::string dump = files->write("kit.syx", kit);
        test::Bytes frames;
        for (int k = 0; k < 3000; ++k) {
            const int16_t value = static_cast<int16_t>((k % 100) * 300 - 15000);
            frames.push_back(static_cast<uint8_t>(value & 0xFF));
            frames.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
        }
        const std::string wave = files->write(
            "kick.wav",
            test::riff({test::fmt_chunk(1, 1, 44100, 16), test::wav_chunk("data", frames)}));
        // The same sample as an SDS dump, to be sent back by the device.
        const std::string back = files->file("back.syx");
        QCOMPARE(QProcess::execute(JX_CLI_PATH, {"sds", QString::fromStdString(wave), "--out",
                                                 QString::fromStdString(back)}),
                 0);
        const test::Bytes sds_back = test::read_file(back);

        {
            Session session([](App& app) {
                app.settings.syx_reload = 1;
                app.settings.ignore_hs = 0;
                save_prefs(app.settings);
            });
            session.rig.service.pacing.enabled = true;
            session.drop({QString::fromStdString(dump), QString::fromStdString(wave)});
            QCOMPARE(session.names(), (std::vector<std::string>{dump, wave}));

            auto* bar = static_cast<QProgressBar*>(session.window->control(ids::progress));
            std::set<int> positions;
            QObject::connect(bar, &QProgressBar::valueChanged,
                             [&](int value) { positions.insert(value); });
            session.list()->setFocus();
            QTest::keyClick(session.list(), Qt::Key_A, Qt::ControlModifier);
            auto* send = static_cast<QPushButton*>(session.window->control(ids::send));
            QTest::mouseClick(send, Qt::LeftButton);
            QTRY_COMPARE(send->text(), QString("Stop Send"));
            QTRY_VERIFY_WITH_TIMEOUT(session.text(ids::status).startsWith("Sent: "), 5000);
            save_screenshot(session.window.get(), "session_sending");
            QTRY_COMPARE_WITH_TIMEOUT(send->text(), QString("Send"), 20000);
            QVERIFY2(positions.size() >= 3, "the progress bar moved");
            QTRY_VERIFY(session.rig.loopback.idle());
            const DeviceRecord taken = session.rig.device.device().record();
            QCOMPARE(taken.sysex, std::vector<test::Bytes>{kit});
            QCOMPARE(taken.samples.size(), size_t{1});
            QVERIFY(taken.samples[0].complete);
            QCOMPARE(taken.samples[0].length, 3000);

            // Record both back: the device sends the dump it took, then the sample it took as a
            // dump of its own under the handshake, which the window's recorder answers.
            auto* receive = static_cast<QPushButton*>(session.window->control(ids::receive));
            QTest::mouseClick(receive, Qt::LeftButton);
            QTRY_COMPARE(receive->text(), QString("Stop Rec"));
            VirtualDevice& device = session.rig.device.device();
            device.send_sysex(kit, "kit.syx");
            device.send_sample(taken.samples[0], 0, "kick.wav");
            QTRY_VERIFY_WITH_TIMEOUT(session.text(ids::status).startsWith("Receiving: "), 5000);
            save_screenshot(session.window.get(), "session_receiving");
            QVERIFY(device.wait_sends_done(std::chrono::steady_clock::now() +
                                           std::chrono::seconds(20)));
            QCOMPARE(device.record().sends.size(), size_t{2});
            QCOMPARE(device.record().sends[1].result, SendResult::sent);
            // The dump header stores the SysEx received before it as an entry of its own, and
            // the dump is stored the moment it is complete: Stop Rec has nothing left to store.
            QTRY_COMPARE(session.list()->topLevelItemCount(), 4);
            QTest::mouseClick(receive, Qt::LeftButton);
            QTRY_COMPARE(receive->text(), QString("Receive"));
            QCOMPARE(session.list()->topLevelItemCount(), 4);
            QCOMPARE(session.list()->topLevelItem(2)->text(2), QString("KE"));
            QCOMPARE(session.list()->topLevelItem(3)->text(2), QString("SDS"));
            {
                std::lock_guard lock(session.app.list_mutex);
                const auto data = [&](int row) {
                    const Entry& e = *session.app.list.items[row].entry;
                    return test::Bytes(e.bytes(), e.bytes() + e.length());
                };
                QCOMPARE(data(2), kit);
                QCOMPARE(data(3), sds_back);
            }
            save_screenshot(session.window.get(), "session_received");

            // Close while the sample goes out again.
            session.list()->clearSelection();
            session.list()->topLevelItem(1)->setSelected(true);
            QTest::mouseClick(send, Qt::LeftButton);
            QTRY_COMPARE(send->text(), QString("Stop Send"));
            session.window->close();
            // The window asks the send to stop and ends once it has, without waiting for it.
            QTRY_VERIFY(!session.window->isVisible());
            QCOMPARE(session.app.state.sending.load(), 0);
        }
        Session again;
        QCOMPARE(again.names().size(), size_t{2});  // received dumps were never saved to disk
        QCOMPARE(again.names()[0], dump);
        save_screenshot(again.window.get(), "session_restarted");
    }
};

}  // namespace jx

QTEST_MAIN(jx::QtWindowTest)
#include "qt_window_test.moc"
