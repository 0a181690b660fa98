// jx: the desktop program. One copy runs at a time; `jx [document]` opens with that file.
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <QTreeWidget>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/main_window.h"
#include "app/startup.h"
#include "devsim/in_process_device.h"
#include "platform/midi/midi_loopback.h"
#include "platform/midi/midi_system.h"
#include "platform/os/single_instance.h"
#include "platform/window/dialog_ids.h"
#include "qt/inspector.h"
#include "qt/qt_window.h"
#include "qt/request_sample.h"

namespace {

// Answers --help and --version, before the display and the single-instance lock are touched, so
// that both work on a machine without a screen and beside a running jx. False for anything else.
bool answered_option(const char* arg) {
    if (!std::strcmp(arg, "--version")) {
        std::printf("jx %s\n", JX_VERSION);
        return true;
    }
    if (std::strcmp(arg, "--help") != 0 && std::strcmp(arg, "-h") != 0) return false;
    std::printf(
        "usage: jx [DOCUMENT]\n\n"
        "Moves MIDI SysEx dumps and samples between a computer and instruments. Opens the window\n"
        "with the files of the list kept from the last run (when Reload files is on), then\n"
        "DOCUMENT: a SysEx dump (.syx), a Standard MIDI File (.mid) whose SysEx it takes, a\n"
        "WAV, AIFF or AIFC sample, or a Jx Filelist (.jx). One jx runs at a time; a second one\n"
        "ends at once.\n\n"
        "Options:\n"
        "  --help      this text\n"
        "  --version   the program's version\n\n"
        "The last MIDI port, \"Virtual device\", is a simulated instrument inside the program.\n"
        "Environment: JX_MIDI_API=alsa|jack picks the MIDI server; QT_QPA_PLATFORM the display.\n"
        "Settings: $XDG_CONFIG_HOME/Tessarin/registry.reg; the kept list:\n"
        "$XDG_DATA_HOME/Tessarin/jx_files.dat.\n");
    return true;
}

}  // namespace

namespace {

// SIGTERM and SIGHUP (a session ending, a service manager's stop) close the window as its close
// box does, so that a running transfer stops and the ports are closed and the list kept. The
// handler only writes a byte to a pipe; the window thread reads it.
int signal_pipe[2] = {-1, -1};

void on_end_signal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signal_pipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && answered_option(argv[1])) return 0;
    // Before anything else, so that a second copy ends at once and quietly, display or not.
    jx::InstanceLock lock = jx::acquire_instance_lock(jx::instance_name);
    if (lock.another_runs()) return 0;

    QApplication application(argc, argv);
    QApplication::setApplicationName("jx");
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/resources/icons/jx-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);

    jx::App app;
    jx::start_up(app, argc > 1 ? argv[1] : "");

    // The system's ports, then the virtual device as the last port of both lists. The service
    // ends first: its handles hold connections of the backends.
    auto service = std::make_unique<jx::MidiService>();
    std::unique_ptr<jx::ServerMidiBackend> server =
        jx::make_server_backend("jx", jx::midi_api_from_environment());
    jx::MidiLoopback loopback(service->pacing);
    jx::InProcessDevice device(loopback);
    service->backends = {server.get(), &loopback};
    connect_transfer_state(*service, app.state);
    app.ports.service = service.get();

    const auto dialog = jx::load_dialog_template(jx::ids::main_dialog);
    if (!dialog) return 1;
    jx::MainWindow procedure(app);
    jx::QtWindow window(*dialog, procedure);
    jx::attach_inspector(static_cast<QTreeWidget*>(window.control(jx::ids::transfer_list)),
                         app.list, &app.list_mutex);
    jx::add_request_sample_menu(window, procedure);
    std::unique_ptr<QSocketNotifier> end_signals;
    if (::pipe(signal_pipe) == 0) {
        end_signals = std::make_unique<QSocketNotifier>(signal_pipe[0], QSocketNotifier::Read);
        QObject::connect(end_signals.get(), &QSocketNotifier::activated, [&window] {
            char byte;
            [[maybe_unused]] const ssize_t n = ::read(signal_pipe[0], &byte, 1);
            window.close();
        });
        struct sigaction action {};
        action.sa_handler = on_end_signal;
        sigemptyset(&action.sa_mask);
        for (int signal : {SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    }
    window.run();
    service.reset();
    app.state.engine = nullptr;
    return 0;
}
