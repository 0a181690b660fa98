// Upgrade dumps for every device, through the dump description that judges them. Byte F5 (a
// status byte no dump uses) stands for a whole maker header of the device that the first byte
// chooses, so that the fuzzer reaches the upgrade messages without having to guess the header.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/sysex_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const uint8_t devices[] = {0x02, 0x03, 0x05, 0x06, 0x07};
    uint8_t device = devices[data[0] % 5];
    std::vector<uint8_t> dump;
    dump.reserve(size * 2);
    for (size_t k = 1; k < size; ++k) {
        if (data[k] == 0xF5)
            dump.insert(dump.end(), {0xF0, 0x00, 0x6B, 0x2E, device, 0x00});
        else
            dump.push_back(data[k]);
    }
    // The exact length matters: every read must stay inside it.
    std::vector<uint8_t> exact(dump.begin(), dump.end());
    for (uint8_t d : {0x01, 0x02, 0x03, 0x05, 0x06, 0x07})
        (void)jx::describe_dump(d, exact.data(), exact.size());
    return 0;
}
