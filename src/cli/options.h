#pragma once
// Reading option values shared by the commands.
#include <initializer_list>

namespace jx::cli {

// The position of text among the names (0 for the first), or -1 when it is none of them.
int option_index(const char* text, std::initializer_list<const char*> names);

// --channel both|left|right as the channel mode 0, 1 or 2; -1 for another text.
inline int channel_option_mode(const char* text) {
    return option_index(text, {"both", "left", "right"});
}

}  // namespace jx::cli
