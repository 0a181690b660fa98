// Feeds arbitrary bytes to the registry file reader, then sets one value and checks that the
// written file reads back with that value and every other value unchanged, and that writing is
// stable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/store/registry.h"

namespace {

using ValueMap =
    std::map<std::pair<std::string, std::string>, std::pair<uint32_t, std::vector<uint8_t>>>;

std::string lowered(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// What regedit would import: the last value of each name in each key.
ValueMap values_of(const jx::RegistryFile& file) {
    ValueMap values;
    const std::string* key = nullptr;
    for (const jx::RegistryLine& line : file.lines) {
        if (line.kind == jx::RegistryLine::key_line) key = &line.key;
        if (line.kind == jx::RegistryLine::value_line && key != nullptr)
            values[{lowered(*key), lowered(line.value.name)}] = {line.value.type, line.value.data};
    }
    return values;
}

jx::RegistryFile reparsed(const std::string& text) {
    return jx::parse_registry(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    // Four bytes choose the value to set; its name and data come next; the rest is the file.
    uint32_t type = data[0] % 8;
    size_t name_length = data[1] % 12;
    size_t data_length = data[2] % 100;
    std::string key = (data[3] & 1) ? "HKEY_CURRENT_USER\\Software\\Tessarin\\Jx\\Config"
                                    : "HKEY_CURRENT_USER\\Other";
    size_t at = 4;
    if (size - at < name_length + data_length) return 0;
    jx::RegistryValue value;
    value.name.assign(reinterpret_cast<const char*>(data + at), name_length);
    value.type = type;
    value.data.assign(data + at + name_length, data + at + name_length + data_length);
    at += name_length + data_length;

    jx::RegistryFile file = jx::parse_registry(data + at, size - at);
    ValueMap expected = values_of(file);
    (void)jx::find_registry_value(file, key, value.name);
    (void)jx::has_registry_key(file, key);

    // Reading what was written gives the same values, and writing it again the same text.
    std::string text = jx::format_registry(file);
    if (values_of(reparsed(text)) != expected) std::abort();
    if (jx::format_registry(reparsed(text)) != text) std::abort();

    if (jx::set_registry_value(file, key, value) != jx::reg_success) return 0;
    expected[{lowered(key), lowered(value.name)}] = {value.type, value.data};
    text = jx::format_registry(file);
    jx::RegistryFile back = reparsed(text);
    if (values_of(back) != expected) std::abort();
    const jx::RegistryValue* found = jx::find_registry_value(back, key, value.name);
    if (found == nullptr || found->type != value.type || found->data != value.data) std::abort();
    if (jx::format_registry(back) != text) std::abort();
    return 0;
}
