// jx.exe: the desktop program on Windows. One copy runs at a time; `jx [document]` opens with
// that file.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "app/main_window.h"
#include "app/startup.h"
#include "devsim/in_process_device.h"
#include "platform/midi/midi_loopback.h"
#include "platform/midi/midi_system.h"
#include "platform/os/console.h"
#include "platform/os/single_instance.h"
#include "platform/window/dialog_ids.h"
#include "win/request_sample.h"
#include "win/win_window.h"

namespace {

// --help and --version, before the single-instance lock is touched, so that both work beside a
// running jx. The program has no console of its own: the text goes to the one it was started
// from, if any. False for anything else.
bool answered_option(const char* arg) {
    const bool version = !std::strcmp(arg, "--version");
    if (!version && std::strcmp(arg, "--help") != 0 && std::strcmp(arg, "-h") != 0) return false;
    if (GetStdHandle(STD_OUTPUT_HANDLE) == nullptr && AttachConsole(ATTACH_PARENT_PROCESS))
        std::freopen("CONOUT$", "w", stdout);
    if (version) {
        std::printf("jx %s\n", JX_VERSION);
    } else {
        std::printf(
            "usage: jx [DOCUMENT]\n\n"
            "Moves MIDI SysEx dumps and samples between a computer and instruments. Opens the\n"
            "window with the files of the list kept from the last run (when Reload files is on),\n"
            "then DOCUMENT: a SysEx dump (.syx), a Standard MIDI File (.mid) whose SysEx it\n"
            "takes, a WAV, AIFF or AIFC sample, or a Jx Filelist (.jx). One jx runs at a time; a\n"
            "second one ends at once.\n\n"
            "Options:\n"
            "  --help      this text\n"
            "  --version   the program's version\n\n"
            "The last MIDI port, \"Virtual device\", is a simulated instrument inside the\n"
            "program. Settings: the registry, HKEY_CURRENT_USER\\Software\\Tessarin\\Jx\\Config;\n"
            "the kept list: %%APPDATA%%\\Tessarin\\jx_files.dat.\n");
    }
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    jx::use_utf8_binary_console(argc, argv);
    if (argc == 2 && answered_option(argv[1])) return 0;
    // Before anything else, so that a second copy ends at once and quietly.
    jx::InstanceLock lock = jx::acquire_instance_lock(jx::instance_name);
    if (lock.another_runs()) return 0;

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
    jx::connect_transfer_state(*service, app.state);
    app.ports.service = service.get();

    const auto dialog = jx::load_dialog_template(jx::ids::main_dialog);
    if (!dialog) return 1;
    jx::MainWindow procedure(app);
    jx::WinWindow window(*dialog, procedure);
    jx::add_request_sample_menu(window, procedure);
    const int result = window.run();
    service.reset();
    app.state.engine = nullptr;
    return result < 0 ? 1 : 0;
}
