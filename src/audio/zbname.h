#pragma once
// The four-character name that the maker's devices show for a sample or a waveform, and the
// KVR-9ZB name message that carries it beside a sample dump.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "audio/sds.h"

namespace jx {

constexpr size_t zbname_size = 13;

// The four characters for a file name (UTF-8, without folder and extension): the first three and
// the last when it is longer than four, padded with spaces when shorter; upper case, with Å, Ä
// and Ö (either case) as '[', '\' and ']', and bit 7 cleared.
std::array<uint8_t, 4> four_char_name(std::string_view name);
// The four characters packed into one number, the first in bits 24-31.
uint32_t four_char_value(std::string_view name);
// The name back as UTF-8 text, with '[', '\' and ']' read as Å, Ä and Ö.
std::string four_char_text(const uint8_t* chars);

// Appends F0 00 6B 2E 02 00 73, the sample number, the four characters of `value` (each masked
// with 7F) and F7 to the dump's header buffer; returns its size. The message has one byte for
// the sample number, so a dump to a slot above 127 gets no name message (0).
size_t sds_build_zbname(SdsDump& dump, uint32_t value);

struct ZbName {
    int32_t sample_number = 0;
    std::array<uint8_t, 4> chars{};
};
// 1 for a name message (recognised by its first seven bytes), 0 for other data, -1 when it ends
// before its four characters.
int parse_zbname(const uint8_t* data, size_t length, ZbName& name);

}  // namespace jx
