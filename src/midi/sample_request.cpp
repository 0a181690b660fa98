#include "midi/sample_request.h"

#include "audio/sds.h"
#include "midi/midi_ports.h"
#include "midi/recorder.h"
#include "midi/transfer_state.h"

namespace jx {

bool request_sample(Recorder& recorder, int32_t sample_number) {
    if (recorder.ports == nullptr || sample_number < 0 || sample_number > sds::max_sample_number)
        return false;
    MidiPorts& ports = *recorder.ports;
    // The state, not the buffer: the engine thread swaps the buffer under the recorder's lock.
    const auto recording = [&] {
        return recorder.state->receive_state.load() == receive_recording;
    };
    if (!recording()) start_recording(recorder);
    if (!recording() || ports.settings->midi_out < 0) return false;
    const auto request =
        sds_dump_request(static_cast<uint8_t>(ports.settings->sds_dev), sample_number);
    send_sysex(ports, request.data(), request.size());
    return true;
}

}  // namespace jx
