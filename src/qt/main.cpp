// jx: the desktop program. One copy runs at a time; `jx [document]` opens with that file.
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <QTreeWidget>
#include <memory>

#include "app/main_window.h"
#include "app/startup.h"
#include "devsim/in_process_device.h"
#include "platform/dialog_ids.h"
#include "platform/midi/midi_loopback.h"
#include "platform/midi/midi_system.h"
#include "platform/os/single_instance.h"
#include "qt/inspector.h"
#include "qt/qt_window.h"

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
    service->pacing.turbo_speed = &app.state.turbo_speed;
    app.ports.service = service.get();

    const auto dialog = jx::load_dialog_template(jx::ids::main_dialog);
    if (!dialog) return 1;
    jx::MainWindow procedure(app);
    jx::QtWindow window(*dialog, procedure);
    jx::attach_inspector(static_cast<QTreeWidget*>(window.control(jx::ids::transfer_list)),
                         app.list, &app.list_mutex);
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
    return 0;
}
