// jx: the desktop program. One copy runs at a time; `jx [document]` opens with that file.
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <cstdio>
#include <memory>
#include <optional>

#include "app/desktop.h"
#include "platform/os/console.h"
#include "qt/qt_window.h"

namespace {

constexpr const char* about =
    "Moves MIDI SysEx dumps and samples between a computer and instruments. Opens the window\n"
    "with the files of the list kept from the last run (when Reload files is on), then\n"
    "DOCUMENT: a SysEx dump (.syx), a Standard MIDI File (.mid) whose SysEx it takes, a\n"
    "WAV, AIFF or AIFC sample, or a Jx Filelist (.jx). One jx runs at a time; a second one\n"
    "ends at once.";
constexpr const char* notes =
    "The last MIDI port, \"Virtual device\", is a simulated instrument inside the program.\n"
    "Environment: JX_MIDI_API=alsa|jack picks the MIDI server; QT_QPA_PLATFORM the display.\n"
    "Settings: $XDG_CONFIG_HOME/Tessarin/registry.reg; the kept list:\n"
    "$XDG_DATA_HOME/Tessarin/jx_files.dat.\n";

// SIGTERM and SIGHUP (a session ending, a service manager's stop) close the window as its close
// box does, so that a running transfer stops and the ports are closed and the list kept. The
// handler only writes a byte to a pipe; the window thread reads it.
int signal_pipe[2] = {-1, -1};

void on_end_signal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signal_pipe[1], &byte, 1);
}

void close_on_end_signals(jx::QtWindow& window) {
    if (::pipe(signal_pipe) != 0) return;
    auto* end_signals = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, &window);
    QObject::connect(end_signals, &QSocketNotifier::activated, &window, [&window] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signal_pipe[0], &byte, 1);
        window.close();
    });
    struct sigaction action {};
    action.sa_handler = on_end_signal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto answer =
            jx::desktop_answer(argc, argv, jx::desktop_usage(about, notes), JX_VERSION)) {
        std::fputs(answer->c_str(), stdout);
        return jx::finish_output("jx", 0);
    }
    if (const auto refusal = jx::desktop_refusal(argc, argv)) {
        std::fputs(refusal->c_str(), stderr);
        return 2;
    }
    std::optional<QApplication> application;
    jx::DesktopWindows qt;
    qt.start = [&application](int& count, char** arguments) {
        application.emplace(count, arguments);
        QApplication::setApplicationName("jx");
        QIcon icon;
        for (int size : {16, 32, 48, 64, 128, 256})
            icon.addFile(QString(":/resources/icons/jx-%1.png").arg(size), QSize(size, size));
        QApplication::setWindowIcon(icon);
    };
    qt.load_template = jx::load_dialog_template;
    qt.make_main_window = [](const jx::DialogTemplate& dialog, jx::MainWindow& procedure,
                             jx::App& app) {
        auto window = std::make_unique<jx::QtWindow>(dialog, procedure);
        window->offer_inspector(app.list, &app.list_mutex);
        close_on_end_signals(*window);
        return std::unique_ptr<jx::Window>(std::move(window));
    };
    return jx::run_desktop(argc, argv, qt);
}
