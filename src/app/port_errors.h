#pragma once
// The errors the MIDI ports leave as values, shown in the window.
#include "midi/midi_ports.h"
#include "platform/window/window.h"

namespace jx {

// Shows the port errors recorded since the last call, on the window thread: a port not plugged
// in in the status field, the others in a message box each; a short message that failed puts
// the Send button back, as the send it ended would.
void show_port_errors(MidiPorts& ports, Window& window);

}  // namespace jx
