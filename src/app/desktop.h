#pragma once
// What the desktop programs (the Qt window, jx.exe's Win32 window) share around their window
// system: the --help text, the arguments, and the program itself: one copy at a time, the settings
// and the list, the MIDI ports with the virtual device as the last one, the main window with its
// Request sample menu, and the order things end in.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/app.h"
#include "app/main_window.h"
#include "platform/window/dialog_template.h"
#include "platform/window/window.h"

namespace jx {

// jx --help: the usage line, `about` (what the program does), the options, then `notes` (what this
// platform reads from its environment and where it keeps its settings). Each platform wraps its
// paragraphs for its own console.
std::string desktop_usage(std::string_view about, std::string_view notes);

// What jx prints when its only argument is --help (or -h) or --version ("jx VERSION"); nothing
// when the window is to run. Read before the display and the single-instance lock are touched, so
// that both work without a screen and beside a running jx.
std::optional<std::string> desktop_answer(int argc, char** argv, const std::string& usage,
                                          std::string_view version);

// Why the arguments are refused, as one line for stderr (exit 2), also read before the display is
// touched: an argument beginning with "--" that is not --help or --version alone, or -v. Qt's own
// options begin with one dash and pass. Nothing when the window may run.
std::optional<std::string> desktop_refusal(int argc, char** argv);

// What a window system gives the desktop program.
struct DesktopWindows {
    // Runs once this copy holds the single-instance lock, before anything else is made; Qt makes
    // its application object here, which takes its own options (-platform, -style) out of the
    // arguments. May be empty.
    std::function<void(int& argc, char** argv)> start;
    // The dialog templates kept in the program's resources; nothing for an unknown id.
    std::function<std::optional<DialogTemplate>(int template_id)> load_template;
    // The main window built from its template, reporting to `procedure`.
    std::function<std::unique_ptr<Window>(const DialogTemplate& dialog, MainWindow& procedure,
                                          App& app)>
        make_main_window;
};

// Runs jx: a second copy ends at once with 0; otherwise the program starts with the document named
// by the first argument, if any, runs its main window until it closes, and ends the MIDI service
// before the state it reports to. The exit code: 0, or 1 when the window could not be made.
int run_desktop(int& argc, char** argv, const DesktopWindows& windows);

}  // namespace jx
