#pragma once
// The REGEDIT4 text format of the per-user key store: a file that a person can read and regedit
// can import, read into lines and written back. Pure functions over bytes; the key calls over the
// file on disk are in registry.h.
#include <cstdint>
#include <string>
#include <vector>

namespace jx {

// Results, with the numbers the registry calls return.
enum RegistryResult : int {
    reg_success = 0,
    reg_not_found = 2,      // no such key or value
    reg_cannot_write = 5,   // the store file or its folder cannot be written
    reg_invalid_name = 87,  // a key or value name the file cannot carry
    reg_more_data = 234,    // the value is longer than the caller's buffer
};

// Value types, with the registry's numbers.
constexpr uint32_t reg_sz = 1;
constexpr uint32_t reg_binary = 3;
constexpr uint32_t reg_dword = 4;

struct RegistryValue {
    std::string name;  // empty for the key's default value, written "@"
    uint32_t type = reg_binary;
    std::vector<uint8_t> data;  // exactly the stored bytes, whatever the type
};

// One line of the file, continuation lines included. Lines are written back exactly as read
// unless the program changes the value they hold, so that comments, other keys and lines this
// reader does not understand survive every write.
struct RegistryLine {
    enum Kind { other_line, key_line, value_line };
    Kind kind = other_line;
    std::string text;     // as read, without the final '\n'
    std::string key;      // a key line: the text between the brackets
    RegistryValue value;  // a value line
};

struct RegistryFile {
    std::vector<RegistryLine> lines;
    bool crlf = false;  // the file's own line ends, used for the lines the program adds
};

// The file as lines; never fails: what cannot be understood is kept as an `other_line`.
RegistryFile parse_registry(const uint8_t* data, size_t length);
// The text to store; adds the REGEDIT4 header when the file has none.
std::string format_registry(const RegistryFile& file);
// Key paths are full ("HKEY_CURRENT_USER\\Software\\..."); names compare without case, as the
// registry does. The last line that sets a value wins, as when regedit imports the file.
const RegistryValue* find_registry_value(const RegistryFile& file, const std::string& key,
                                         const std::string& name);
// True when the key, or a key below it, has a section in the file.
bool has_registry_key(const RegistryFile& file, const std::string& key);
// Adds an empty section for the key when it has none.
int add_registry_key(RegistryFile& file, const std::string& key);
// Replaces the value's line, or adds one at the end of the key's last section.
int set_registry_value(RegistryFile& file, const std::string& key, const RegistryValue& value);

}  // namespace jx
