#pragma once
// Operating-system upgrades sent as SysEx: whether a dump is one, and whether it arrived whole.
// Devices 06 and 07 send numbered, checksummed packets between a start and an end message;
// devices 02, 03 and 05 send nibble-encoded packets and one message with the total size.
#include <cstddef>
#include <cstdint>
#include <string>

#include "analysis/maker_messages.h"

namespace jx {

constexpr uint8_t upgrade_packet_id = 0x7E;
constexpr uint8_t upgrade_control_id = 0x7F;  // start and end, or the total size

// Sums over groups of bytes that start every `stride` bytes below a common limit. Packets found
// inside other packets' bodies (damaged or hostile data) ask for sums below the same limit from
// starts that only move forward, so each sum slides instead of being taken again, and a dump is
// judged in time linear in its size.
struct StridedSums {
    size_t limit = SIZE_MAX;
    size_t from[8] = {};
    int64_t sum[8] = {};
    bool known[8] = {};
};

// What the upgrade messages of one dump have shown so far.
struct UpgradeCheck {
    uint8_t device_code = 0;
    int data_packets = 0;      // 7E messages met
    int control_messages = 0;  // 7F messages met
    bool broken = false;
    // Packet encoding: what the start message announced, and the packets that checked.
    int32_t seed = 0;
    int32_t first_packet = -1;  // -1 until a start message gave it
    int32_t packet_count = 0;
    int32_t good_packets = 0;
    // Nibble encoding: the size the packets add up to, as the size message states it.
    int64_t total_size = 0;
    StridedSums sums;
};

// Judges the upgrade message (id 7E or 7F) whose id stands at position i of the test's data.
void check_upgrade_message(UpgradeCheck& check, IntegrityTest& test, size_t i);

// True when the dump held an upgrade data packet, which makes it an upgrade.
inline bool is_upgrade(const UpgradeCheck& check) {
    return check.data_packets > 0;
}
// "Sysex Upgrade", or "Sysex Upgrade (Broken!)" when anything was missing or damaged.
std::string upgrade_verdict(const UpgradeCheck& check);

}  // namespace jx
