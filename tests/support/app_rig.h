#pragma once
// The application's ports wired to the in-process virtual device through the loopback, as the
// program wires them at start-up.
#include "devsim/in_process_device.h"
#include "midi/midi_ports.h"
#include "platform/midi/midi_loopback.h"

namespace jx::test {

struct AppRig {
    MidiService service;
    MidiLoopback loopback{service.pacing};
    InProcessDevice device{loopback};

    // Points the ports at the rig's service and the device's ports (index 0 in both lists).
    // With paced, messages take their wire time as on a MIDI cable.
    void wire(MidiPorts& ports, Settings& settings, TransferState& state, bool paced = false) {
        service.backends = {&loopback};
        service.pacing.enabled = paced;
        connect_transfer_state(service, state);
        ports.service = &service;
        ports.settings = &settings;
        ports.state = &state;
        settings.midi_in = 0;
        settings.midi_out = 0;
    }
};

}  // namespace jx::test
