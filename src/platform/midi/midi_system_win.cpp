// The system's MIDI ports on Windows: the devices of the multimedia service. The virtual
// device's ports come after them, added by the port layer.
#include "platform/midi/midi_system.h"
#include "platform/midi/midi_winmm.h"

namespace jx {

std::string midi_api_from_environment() {
    return {};
}

std::unique_ptr<ServerMidiBackend> make_server_backend(const std::string&, const std::string&) {
    return std::make_unique<WinmmBackend>();
}

}  // namespace jx
