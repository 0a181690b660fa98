#pragma once
#include <string>

namespace jx::cli {

// The text as a JSON string literal: quotes, backslashes and control characters escaped, and
// bytes that are not UTF-8 replaced by U+FFFD so that the output is always valid UTF-8.
std::string json_string(const std::string& text);

}  // namespace jx::cli
