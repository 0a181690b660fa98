#pragma once
// Counting what a dump of the maker's SysEx messages holds: its File Info text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "analysis/maker_messages.h"

namespace jx {

// The File Info text of a dump already known to hold the device's messages: the upgrade verdict
// when it holds an upgrade data packet, else the counts (with the TonePAK waveform lines for
// device 03, and an empty text for device 05); nothing for an unknown device code.
std::optional<std::string> describe_dump(uint8_t device_code, const uint8_t* data, size_t length);

}  // namespace jx
