#pragma once
// Start-up before the main window, and shutdown when it closes.
#include <string>

#include "app/app.h"
#include "platform/window/window.h"

namespace jx {

// The name of the lock that keeps one copy of the program running.
constexpr const char* instance_name = "tessarin_jx";

// The settings read, the ports reset to none, the transform tables made, the recorder and the
// send engine wired to the list, the command line's document taken as a full path. `document`
// is the program's first argument, or empty.
void start_up(App& app, const std::string& document);

// Opens the configured input and asks the device for its Turbo speed as a job of the MIDI engine
// thread, so that a MIDI server slow to answer does not hold the window; what fails there is left
// in the ports' errors for the window's timer. At once when the engine still runs another job (a
// stopped send ending).
void open_ports(App& app);
// Waits until open_ports' job has ended: the window thread calls it before it uses the ports.
void settle_ports(App& app);

// Stops the timer, stops a running send and waits for it, closes the output and then the input
// with their pauses, and saves the window's placement.
void shutdown(App& app, Window& window);

}  // namespace jx
