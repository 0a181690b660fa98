// The registry calls over the store's lines, the same on every system: where the lines come from
// and how an edit is written back is the platform's (registry.cpp, registry_win.cpp).
#include <algorithm>

#include "platform/store/registry.h"

namespace jx {

namespace {

const char* const root_key = "HKEY_CURRENT_USER\\";

std::string full_key(const std::string& subkey) {
    return root_key + subkey;
}

}  // namespace

int query_registry_value(const RegistryFile& store, const std::string& key_path,
                         const std::string& name, uint32_t* type, uint8_t* data, uint32_t* size) {
    const RegistryValue* value = find_registry_value(store, key_path, name);
    if (value == nullptr) return reg_not_found;
    if (value->data.size() > UINT32_MAX) return reg_more_data;
    auto length = static_cast<uint32_t>(value->data.size());
    if (type != nullptr) *type = value->type;
    if (data != nullptr) {
        if (size == nullptr || *size < length) {
            if (size != nullptr) *size = length;
            return reg_more_data;
        }
        std::copy(value->data.begin(), value->data.end(), data);
    }
    if (size != nullptr) *size = length;
    return reg_success;
}

int reg_open_key(const std::string& file, const std::string& subkey, RegistryKey& key) {
    key = RegistryKey{};
    RegistryFile store;
    std::string path = full_key(subkey);
    if (file.empty() || !read_registry_store(file, store) || !has_registry_key(store, path))
        return reg_not_found;
    key = RegistryKey{file, path, true};
    return reg_success;
}

int reg_create_key(const std::string& file, const std::string& subkey, RegistryKey& key) {
    key = RegistryKey{};
    std::string path = full_key(subkey);
    RegistryEdit edit;
    if (int result = begin_registry_edit(file, edit); result != reg_success) return result;
    if (!has_registry_key(edit.store, path)) {
        if (int result = add_registry_key(edit.store, path); result != reg_success) return result;
        if (int result = commit_registry_edit(edit); result != reg_success) return result;
    }
    key = RegistryKey{file, path, true};
    return reg_success;
}

int reg_query_value(const RegistryKey& key, const std::string& name, uint32_t* type, uint8_t* data,
                    uint32_t* size) {
    if (!key.open) return reg_not_found;
    RegistryFile store;
    if (!read_registry_store(key.file, store)) return reg_not_found;
    return query_registry_value(store, key.path, name, type, data, size);
}

int reg_set_value(const RegistryKey& key, const std::string& name, uint32_t type,
                  const uint8_t* data, uint32_t size) {
    if (!key.open) return reg_not_found;
    RegistryEdit edit;
    if (int result = begin_registry_edit(key.file, edit); result != reg_success) return result;
    RegistryValue value{name, type, std::vector<uint8_t>(data, data + size)};
    if (int result = set_registry_value(edit.store, key.path, value); result != reg_success)
        return result;
    return commit_registry_edit(edit);
}

void reg_close_key(RegistryKey& key) {
    key = RegistryKey{};
}

std::string registry_key_path(const std::string& subkey) {
    return full_key(subkey);
}

}  // namespace jx
