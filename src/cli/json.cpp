#include "cli/json.h"

#include <cstdio>

namespace jx::cli {

namespace {
// Length of the valid UTF-8 sequence starting at s[k], or 0.
size_t utf8_sequence(const std::string& s, size_t k) {
    auto b = static_cast<unsigned char>(s[k]);
    size_t len = b < 0x80             ? 1
                 : (b & 0xE0) == 0xC0 ? 2
                 : (b & 0xF0) == 0xE0 ? 3
                 : (b & 0xF8) == 0xF0 ? 4
                                      : 0;
    if (len == 0 || k + len > s.size()) return 0;
    uint32_t cp = len == 1 ? b : b & (0x7F >> len);
    for (size_t c = 1; c < len; ++c) {
        auto t = static_cast<unsigned char>(s[k + c]);
        if ((t & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (t & 0x3F);
    }
    static const uint32_t min_for_len[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < min_for_len[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}
}  // namespace

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (size_t k = 0; k < text.size();) {
        auto c = static_cast<unsigned char>(text[k]);
        size_t len = utf8_sequence(text, k);
        if (len == 0) {
            out += "\\ufffd";
            ++k;
            continue;
        }
        if (len > 1) {
            out.append(text, k, len);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
        k += len;
    }
    return out + "\"";
}

}  // namespace jx::cli
