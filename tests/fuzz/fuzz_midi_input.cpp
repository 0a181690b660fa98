// Feeds arbitrary bytes from the cable to an input's framing, in pieces of every size the first
// byte chooses, and what it hands over to the virtual device, which takes SysEx, Turbo messages
// and SDS dumps from them. The pieces must stay inside the bytes handed in, data must be data
// bytes, and the pieces of the same bytes must not depend on where they were cut.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "devsim/virtual_device.h"
#include "platform/midi/midi.h"

namespace {

struct NoLink : jx::DeviceLink {
    void send(const uint8_t*, size_t, std::chrono::milliseconds) override {}
    void set_speed(int32_t) override {}
    void unplug() override {}
};

// What the input hands over, checked and kept as a stream of message bytes and cut marks.
struct Checker final : jx::MidiConsumer {
    jx::VirtualDevice* device = nullptr;
    const uint8_t* begin = nullptr;
    const uint8_t* end = nullptr;
    std::vector<int> seen;  // bytes of messages; -1 for a cut
    void take(std::span<const jx::SysexPiece> pieces) override {
        for (const jx::SysexPiece& piece : pieces) {
            if (piece.kind == jx::SysexPiece::cut) {
                seen.push_back(-1);
                continue;
            }
            if (piece.bytes < begin || piece.bytes + piece.size > end) std::abort();
            for (size_t i = 0; i < piece.size; ++i) {
                const uint8_t byte = piece.bytes[i];
                if (piece.kind == jx::SysexPiece::data && byte >= 0x80) std::abort();
                seen.push_back(byte);
            }
        }
        device->take(pieces);
    }
};

std::vector<int> hand_over(const uint8_t* data, size_t size, size_t piece) {
    jx::EngineThread engine;  // never started: the bytes are handed over here
    NoLink link;
    jx::VirtualDevice device(link);
    Checker checker;
    checker.device = &device;
    jx::MidiInput in(&checker, engine);
    for (size_t at = 0; at < size; at += piece) {
        const size_t n = size - at < piece ? size - at : piece;
        checker.begin = data + at;
        checker.end = data + at + n;
        in.take(data + at, n, 0);
    }
    (void)device.record();
    return checker.seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = 1 + data[0] % 17;
    ++data, --size;
    if (hand_over(data, size, piece) != hand_over(data, size, size > 0 ? size : 1)) std::abort();
    return 0;
}
