// jx.exe: the desktop program on Windows. One copy runs at a time; `jx [document]` opens with
// that file.
#include <windows.h>

#include <cstdio>
#include <memory>

#include "app/desktop.h"
#include "platform/os/console.h"
#include "win/win_window.h"

namespace {

constexpr const char* about =
    "Moves MIDI SysEx dumps and samples between a computer and instruments. Opens the\n"
    "window with the files of the list kept from the last run (when Reload files is on),\n"
    "then DOCUMENT: a SysEx dump (.syx), a Standard MIDI File (.mid) whose SysEx it\n"
    "takes, a WAV, AIFF or AIFC sample, or a Jx Filelist (.jx). One jx runs at a time; a\n"
    "second one ends at once.";
constexpr const char* notes =
    "The last MIDI port, \"Virtual device\", is a simulated instrument inside the\n"
    "program. Settings: the registry, HKEY_CURRENT_USER\\Software\\Tessarin\\Jx\\Config;\n"
    "the kept list: %APPDATA%\\Tessarin\\jx_files.dat.\n";

}  // namespace

int main(int argc, char** argv) {
    jx::use_utf8_binary_console(argc, argv);
    if (const auto answer =
            jx::desktop_answer(argc, argv, jx::desktop_usage(about, notes), JX_VERSION)) {
        // The program has no console of its own: the text goes to the one it was started from,
        // if any.
        if (GetStdHandle(STD_OUTPUT_HANDLE) == nullptr && AttachConsole(ATTACH_PARENT_PROCESS))
            std::freopen("CONOUT$", "w", stdout);
        std::fputs(answer->c_str(), stdout);
        std::fflush(stdout);
        return 0;
    }
    jx::DesktopWindows win;
    win.load_template = jx::load_dialog_template;
    win.make_main_window = [](const jx::DialogTemplate& dialog, jx::MainWindow& procedure,
                              jx::App&) -> std::unique_ptr<jx::Window> {
        return std::make_unique<jx::WinWindow>(dialog, procedure);
    };
    return jx::run_desktop(argc, argv, win);
}
