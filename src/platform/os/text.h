#pragma once
// File names are UTF-8 here; the device side of the program speaks Windows-1252. Numbers typed
// into the window's edits are read here too, so that what is handed such a text needs no window.
#include <cstdint>
#include <optional>
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

// A text read as an unsigned number, as a dialog reads its digit-only edits: blanks first, then
// decimal digits up to the first other character. Nothing when there is no digit or the number
// does not fit in 32 bits.
std::optional<uint32_t> read_unsigned(const std::string& text);

}  // namespace jx
