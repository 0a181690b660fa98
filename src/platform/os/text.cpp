#include "platform/os/text.h"

#include <cstdint>

namespace jx {

namespace {
// Code points of bytes 0x80..0x9F; 0 marks the five bytes the code page leaves unassigned.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

int cp1252_byte_for(uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (int k = 0; k < 32; ++k)
        if (kHighControls[k] != 0 && kHighControls[k] == cp) return 0x80 + k;
    return -1;
}

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}
}  // namespace

std::string utf8_to_cp1252(const std::string& utf8, char fallback) {
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    size_t n = utf8.size();
    for (size_t k = 0; k < n;) {
        unsigned char b = s[k];
        uint32_t cp = 0;
        size_t len = 0;
        if (b < 0x80) {
            cp = b, len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F, len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F, len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07, len = 4;
        }
        bool ok = len != 0 && k + len <= n;
        for (size_t c = 1; ok && c < len; ++c) {
            if ((s[k + c] & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (s[k + c] & 0x3F);
        }
        if (!ok) {
            out += fallback;
            ++k;
            continue;
        }
        int byte = cp1252_byte_for(cp);
        out += byte < 0 ? fallback : static_cast<char>(byte);
        k += len;
    }
    return out;
}

std::string cp1252_to_utf8(const std::string& cp1252) {
    std::string out;
    for (unsigned char b : cp1252) {
        uint32_t cp = b;
        if (b >= 0x80 && b < 0xA0) cp = kHighControls[b - 0x80] ? kHighControls[b - 0x80] : 0xFFFD;
        append_utf8(out, cp);
    }
    return out;
}

std::optional<uint32_t> read_unsigned(const std::string& text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    uint64_t number = 0;
    size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
        number = number * 10 + static_cast<uint64_t>(text[at] - '0');
        if (number > UINT32_MAX) return std::nullopt;
    }
    if (digits == 0) return std::nullopt;
    return static_cast<uint32_t>(number);
}

}  // namespace jx
