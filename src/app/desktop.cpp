#include "app/desktop.h"

#include <cstring>

#include "app/request_sample.h"
#include "app/startup.h"
#include "devsim/in_process_device.h"
#include "platform/midi/midi_loopback.h"
#include "platform/midi/midi_system.h"
#include "platform/os/single_instance.h"
#include "platform/window/dialog_ids.h"

namespace jx {

std::string desktop_usage(std::string_view about, std::string_view notes) {
    std::string usage = "usage: jx [DOCUMENT]\n\n";
    usage += about;
    usage +=
        "\n\nOptions:\n"
        "  --help      this text\n"
        "  --version   the program's version\n\n";
    usage += notes;
    return usage;
}

std::optional<std::string> desktop_answer(int argc, char** argv, const std::string& usage,
                                          std::string_view version) {
    if (argc != 2) return std::nullopt;
    if (!std::strcmp(argv[1], "--version")) return "jx " + std::string(version) + "\n";
    if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) return usage;
    return std::nullopt;
}

std::optional<std::string> desktop_refusal(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool own = argument == "--help" || argument == "-h" || argument == "--version";
        if (own && argc > 2)
            return "jx: " + std::string(argument) + " goes alone (try 'jx --help')\n";
        if (!own && (argument.starts_with("--") || argument == "-v"))
            return "jx: unknown option '" + std::string(argument) + "' (try 'jx --help')\n";
    }
    return std::nullopt;
}

int run_desktop(int& argc, char** argv, const DesktopWindows& windows) {
    // Before anything else, so that a second copy ends at once and quietly, display or not.
    InstanceLock lock = acquire_instance_lock(instance_name);
    if (lock.another_runs()) return 0;
    if (windows.start) windows.start(argc, argv);

    App app;
    start_up(app, argc > 1 ? argv[1] : "");
    const std::optional<DialogTemplate> dialog = windows.load_template(ids::main_dialog);
    if (!dialog) return 1;

    // The system's ports, then the virtual device as the last port of both lists. The service
    // ends first: its handles hold connections of the backends.
    auto service = std::make_unique<MidiService>();
    std::unique_ptr<ServerMidiBackend> server =
        make_server_backend("jx", midi_api_from_environment());
    MidiLoopback loopback(service->pacing);
    InProcessDevice device(loopback);
    service->backends = {server.get(), &loopback};
    connect_transfer_state(*service, app.state);
    app.ports.service = service.get();

    MainWindow procedure(app);
    std::unique_ptr<Window> window = windows.make_main_window(*dialog, procedure, app);
    add_request_sample_menu(*window, procedure);
    const int result = window->run();
    service.reset();
    app.state.engine = nullptr;
    return result < 0 ? 1 : 0;
}

}  // namespace jx
