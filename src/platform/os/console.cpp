#include "platform/os/console.h"

namespace jx {

void use_utf8_binary_console(int&, char**&) {}

}  // namespace jx
