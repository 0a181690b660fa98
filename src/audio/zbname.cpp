#include "audio/zbname.h"

#include <cstring>

#include "platform/midi/sysex.h"
#include "platform/os/text.h"

namespace jx {

namespace {

constexpr uint8_t zbname_start[7] = {sysex_start, maker_id[0], maker_id[1], maker_id[2],
                                     0x02,        0x00,        0x73};

// One Windows-1252 character as the devices' character set has it.
uint8_t device_char(uint8_t c) {
    switch (c & ~0x20) {
        case 0xC5:
            c = '[';
            break;
        case 0xC4:
            c = '\\';
            break;
        case 0xD6:
            c = ']';
            break;
        default:
            // Plain ASCII upper case: the result must not depend on the process's locale.
            if (c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 'a' + 'A');
    }
    return c & 0x7F;
}

}  // namespace

std::array<uint8_t, 4> four_char_name(std::string_view name) {
    std::string chars = utf8_to_cp1252(std::string(name));
    std::array<uint8_t, 4> out = {' ', ' ', ' ', ' '};
    size_t n = chars.size();
    for (size_t k = 0; k < 4 && k < n; ++k) {
        size_t from = (k == 3 && n > 4) ? n - 1 : k;
        out[k] = device_char(static_cast<uint8_t>(chars[from]));
    }
    return out;
}

uint32_t four_char_value(std::string_view name) {
    std::array<uint8_t, 4> c = four_char_name(name);
    return uint32_t{c[0]} << 24 | uint32_t{c[1]} << 16 | uint32_t{c[2]} << 8 | c[3];
}

std::string four_char_text(const uint8_t* chars) {
    std::string text;
    for (int k = 0; k < 4; ++k) {
        uint8_t c = chars[k];
        text += static_cast<char>(c == '[' ? 0xC5 : c == '\\' ? 0xC4 : c == ']' ? 0xD6 : c);
    }
    return cp1252_to_utf8(text);
}

size_t sds_build_zbname(SdsDump& dump, uint32_t value) {
    if (dump.sample_number > 127 || dump.header_length + zbname_size > dump.header.size()) return 0;
    uint8_t* p = dump.header.data() + dump.header_length;
    std::memcpy(p, zbname_start, sizeof zbname_start);
    p[7] = static_cast<uint8_t>(dump.sample_number);
    for (int k = 0; k < 4; ++k) p[8 + k] = (value >> (24 - 8 * k)) & 0x7F;
    p[12] = sysex_end;
    dump.header_length += zbname_size;
    return zbname_size;
}

int parse_zbname(const uint8_t* data, size_t length, ZbName& name) {
    if (length < sizeof zbname_start || std::memcmp(data, zbname_start, sizeof zbname_start) != 0)
        return 0;
    if (length < 12) return -1;
    name.sample_number = data[7];
    std::memcpy(name.chars.data(), data + 8, 4);
    return 1;
}

}  // namespace jx
