#pragma once
// File names are UTF-8 here; the device side of the program speaks Windows-1252.
#include <string>

namespace jx {

// The value of a hexadecimal digit of either case, or -1.
constexpr int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Converts UTF-8 to Windows-1252. Characters the code page lacks, and malformed bytes, become
// `fallback`.
std::string utf8_to_cp1252(const std::string& utf8, char fallback = '?');
// Converts Windows-1252 to UTF-8. The five unassigned bytes map to U+FFFD.
std::string cp1252_to_utf8(const std::string& cp1252);

}  // namespace jx
