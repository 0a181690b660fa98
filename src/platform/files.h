#pragma once
// Whole-file reads and safe writes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jx {

// The bytes of a regular file, or nothing when it does not exist, is not a regular file, or
// cannot be read whole (memory included).
std::optional<std::vector<uint8_t>> read_whole_file(const std::string& path);

// Writes the bytes to a temporary file in the same folder and renames it over path, so that a
// failed write leaves what was there before. A link at path stays: the file it points at is
// replaced. True on success.
bool write_file_atomically(const std::string& path, const uint8_t* data, size_t length);

}  // namespace jx
