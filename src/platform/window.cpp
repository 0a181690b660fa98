#include "platform/window.h"

namespace jx {

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
