#pragma once
// The MIDI side of jx-cli: the system's ports (ALSA sequencer or JACK), then the "Virtual device"
// with the virtual device inside this process, as the program's port lists show them; and finding a
// port from what the user typed.
#include <memory>
#include <string>
#include <vector>

#include "devsim/in_process_device.h"
#include "midi/midi_ports.h"
#include "midi/transfer_state.h"
#include "platform/midi/midi.h"
#include "platform/midi/midi_loopback.h"
#include "platform/midi/midi_system.h"

namespace jx::cli {

struct CliMidi {
    CliMidi();
    ~CliMidi();

    TransferState state;
    // Ended first, in the destructor: its handles hold connections of the backends below.
    std::unique_ptr<MidiService> service = std::make_unique<MidiService>();
    // The system's MIDI server: the ALSA sequencer or JACK.
    std::unique_ptr<ServerMidiBackend> server;
    MidiLoopback loopback{service->pacing};
    InProcessDevice device{loopback};
};

// The port a --to or --from value names: an index of `jx-cli ports`, or a case-insensitive part
// of one port's name (a name equal to the text wins over others that contain it). -1 with the
// reason and the ports to choose from when it names none or several.
int find_port(MidiService& service, bool output, const std::string& text, std::string& problem);

// The port an option names, or with no option the configured one: the port with the stored name
// when a name is stored, else the stored index while it exists (-1 otherwise). -1 with the
// reason when the option names none or several, or when no port has the stored name now.
int choose_port(MidiService& service, bool output, const std::string& option, int32_t configured,
                const std::string& configured_name, std::string& problem);

// The ports of one command run on the settings given and the command's state. What fails at
// them is left in ports.errors for the command to report.
void wire_ports(MidiPorts& ports, CliMidi& midi, const Settings& settings);
// The port errors recorded so far that the window shows in a message box, taken: a port not
// plugged in, which the window names in its status field, is left out.
std::vector<PortError> port_errors(MidiPorts& ports);

// Why a port could not be opened: `text` ("Could not allocate Midi Out port" or In), with the
// backend's reason (another program holds the device) or else the server's, when there is one.
std::string port_failure(const CliMidi& midi, const char* text);

// Ctrl-C, SIGTERM and SIGHUP call the handler with the signal's number, once each; a second one
// of the same ends the program at once.
void on_ctrl_c(void (*handler)(int));

}  // namespace jx::cli
