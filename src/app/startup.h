#pragma once
// Start-up before the main window, and shutdown when it closes.
#include <string>

#include "app/app.h"
#include "platform/window.h"

namespace jx {

// The name of the lock that keeps one copy of the program running.
constexpr const char* instance_name = "tessarin_jx";

// The settings read, the ports reset to none, the transform tables made, the recorder and the
// send engine wired to the list, the command line's document taken as a full path. `document`
// is the program's first argument, or empty.
void start_up(App& app, const std::string& document);

// Stops the timer, stops a running send and waits for it, closes the output and then the input
// with their pauses, and saves the window's placement.
void shutdown(App& app, Window& window);

}  // namespace jx
