// Feeds arbitrary bytes from the cable to the input's cutting into buffers and to the virtual
// device, which takes SysEx, Turbo messages and SDS dumps from them.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "devsim/virtual_device.h"
#include "platform/midi/midi.h"

namespace {

struct NoLink : jx::DeviceLink {
    void send(const uint8_t*, size_t, std::chrono::milliseconds) override {}
    void set_speed(int32_t) override {}
    void unplug() override {}
};

// Small buffers, so that the full-buffer rule is reached often; each goes back at once.
void requeue(jx::MidiIn* in, jx::MidiInMessage, void*, jx::MidiHeader* header) {
    if (header) jx::midi_in_add_buffer(in, *header);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static jx::EngineThread engine;  // never started: the bytes are handed over here
    static jx::MidiIn in(requeue, nullptr, engine);
    static std::array<std::array<uint8_t, 16>, 2> buffers{};
    static std::array<jx::MidiHeader, 2> headers{};
    static bool ready = false;
    if (!ready) {
        for (size_t i = 0; i < headers.size(); ++i) {
            headers[i].data = buffers[i].data();
            headers[i].length = static_cast<uint32_t>(buffers[i].size());
            jx::midi_in_prepare_header(&in, headers[i]);
            jx::midi_in_add_buffer(&in, headers[i]);
        }
        ready = true;
    }
    in.take(data, size);

    NoLink link;
    jx::VirtualDevice device(link);
    device.receive(data, size);
    (void)device.record();
    return 0;
}
