#include "cli/options.h"

#include <cstring>

namespace jx::cli {

int option_index(const char* text, std::initializer_list<const char*> names) {
    int index = 0;
    for (const char* name : names) {
        if (std::strcmp(text, name) == 0) return index;
        ++index;
    }
    return -1;
}

}  // namespace jx::cli
