// The key store on Windows: the real registry under HKEY_CURRENT_USER. An edit reads the maker's
// keys into the same lines the REGEDIT4 file gives elsewhere, and its commit writes back the
// values that changed, all of them or none.
#include <vector>

#include "platform/os/wide_win.h"
#include "platform/store/registry.h"

namespace jx {

namespace {

// Every key the program keeps lies below the maker's key.
const wchar_t* const maker_key = L"Software\\Tessarin";
const char* const root_prefix = "HKEY_CURRENT_USER\\";
// Writers in other processes (the window, another jx-cli) wait for this one.
const wchar_t* const store_mutex = L"Local\\jx-registry";

std::string reg_error_reason(LONG error) {
    return windows_error_reason(static_cast<DWORD>(error));
}

// Text is UTF-16 in the registry and UTF-8 in the lines, zeros included.
std::vector<uint8_t> stored_bytes(DWORD type, const std::vector<uint8_t>& data) {
    if (type != REG_SZ) return data;
    const std::string text =
        from_wide(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    return {text.begin(), text.end()};
}

std::vector<uint8_t> registry_bytes(const RegistryValue& value) {
    if (value.type != reg_sz) return value.data;
    const std::wstring wide = to_wide(std::string(value.data.begin(), value.data.end()));
    const auto* bytes = reinterpret_cast<const uint8_t*>(wide.data());
    return {bytes, bytes + wide.size() * sizeof(wchar_t)};
}

LONG read_key(HKEY parent, const std::wstring& subkey, const std::string& path,
              RegistryFile& store) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(parent, subkey.c_str(), 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS) return result;
    add_registry_key(store, path);
    std::vector<wchar_t> name(16384);
    for (DWORD index = 0;; ++index) {
        DWORD name_length = static_cast<DWORD>(name.size());
        DWORD type = 0;
        DWORD size = 0;
        result =
            RegEnumValueW(key, index, name.data(), &name_length, nullptr, &type, nullptr, &size);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) break;
        std::vector<uint8_t> data(size);
        const std::wstring value_name(name.data(), name_length);
        result = RegQueryValueExW(key, value_name.c_str(), nullptr, &type, data.data(), &size);
        if (result != ERROR_SUCCESS) break;
        data.resize(size);
        set_registry_value(store, path, {from_wide(value_name), type, stored_bytes(type, data)});
    }
    if (result == ERROR_NO_MORE_ITEMS) result = ERROR_SUCCESS;
    for (DWORD index = 0; result == ERROR_SUCCESS; ++index) {
        DWORD name_length = static_cast<DWORD>(name.size());
        LONG got = RegEnumKeyExW(key, index, name.data(), &name_length, nullptr, nullptr, nullptr,
                                 nullptr);
        if (got == ERROR_NO_MORE_ITEMS) break;
        if (got != ERROR_SUCCESS) {
            result = got;
            break;
        }
        const std::wstring child(name.data(), name_length);
        result = read_key(key, child, path + "\\" + from_wide(child), store);
    }
    RegCloseKey(key);
    return result;
}

HANDLE mutex_of(const RegistryEdit& edit) {
    // Handles carry 32 significant bits, so that 32- and 64-bit programs can share them.
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(edit.lock_fd));
}

// The subkey of HKEY_CURRENT_USER a full key path names.
std::wstring subkey_of(const std::string& path) {
    return to_wide(path.substr(std::string(root_prefix).size()));
}

LONG write_value(const std::string& key_path, const std::string& name, const RegistryValue* value) {
    HKEY key = nullptr;
    LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, subkey_of(key_path).c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) return result;
    if (value == nullptr) {
        result = RegDeleteValueW(key, to_wide(name).c_str());
    } else {
        const std::vector<uint8_t> bytes = registry_bytes(*value);
        result = RegSetValueExW(key, to_wide(name).c_str(), 0, value->type, bytes.data(),
                                static_cast<DWORD>(bytes.size()));
    }
    RegCloseKey(key);
    return result;
}

bool same_value(const RegistryValue* a, const RegistryValue& b) {
    return a != nullptr && a->type == b.type && a->data == b.data;
}

}  // namespace

std::string registry_file_path() {
    return "HKEY_CURRENT_USER\\Software\\Tessarin";
}

bool read_registry_store(const std::string& file, RegistryFile& store, std::string* reason) {
    store = RegistryFile{};
    if (file.empty()) return true;
    const LONG result =
        read_key(HKEY_CURRENT_USER, maker_key, root_prefix + from_wide(maker_key), store);
    if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) return true;
    if (reason) *reason = reg_error_reason(result);
    return false;
}

int begin_registry_edit(const std::string& file, RegistryEdit& edit, std::string* reason) {
    end_registry_edit(edit);
    edit.file = file;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, store_mutex);
    const DWORD waited = mutex == nullptr ? WAIT_FAILED : WaitForSingleObject(mutex, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        if (reason) *reason = "cannot lock '" + file + "': " + windows_error_reason(GetLastError());
        if (mutex != nullptr) CloseHandle(mutex);
        return reg_cannot_write;
    }
    edit.lock_fd = static_cast<int>(reinterpret_cast<intptr_t>(mutex));
    std::string why;
    if (!read_registry_store(file, edit.store, &why)) {
        if (reason) *reason = "cannot read '" + file + "': " + why;
        end_registry_edit(edit);
        return reg_cannot_write;
    }
    return reg_success;
}

int commit_registry_edit(RegistryEdit& edit, std::string* reason) {
    if (edit.lock_fd < 0) return reg_cannot_write;
    RegistryFile before;
    std::string why;
    if (!read_registry_store(edit.file, before, &why)) {
        if (reason) *reason = "cannot read '" + edit.file + "': " + why;
        end_registry_edit(edit);
        return reg_cannot_write;
    }
    // The values that changed, in the order of the lines; what was written is undone when a
    // later one fails, so that the registry holds all of the edit or none of it.
    struct Written {
        std::string key;
        std::string name;
        const RegistryValue* old;
    };
    std::vector<Written> written;
    std::string key;
    LONG result = ERROR_SUCCESS;
    for (const RegistryLine& line : edit.store.lines) {
        if (line.kind == RegistryLine::key_line) {
            key = line.key;
            if (!has_registry_key(before, key)) {
                HKEY made = nullptr;
                result = RegCreateKeyExW(HKEY_CURRENT_USER, subkey_of(key).c_str(), 0, nullptr, 0,
                                         KEY_SET_VALUE, nullptr, &made, nullptr);
                if (result != ERROR_SUCCESS) break;
                RegCloseKey(made);
            }
        } else if (line.kind == RegistryLine::value_line) {
            const RegistryValue* old = find_registry_value(before, key, line.value.name);
            if (same_value(old, line.value)) continue;
            result = write_value(key, line.value.name, &line.value);
            if (result != ERROR_SUCCESS) break;
            written.push_back({key, line.value.name, old});
        }
    }
    if (result != ERROR_SUCCESS) {
        for (auto undo = written.rbegin(); undo != written.rend(); ++undo)
            write_value(undo->key, undo->name, undo->old);
        if (reason) *reason = "cannot write '" + edit.file + "': " + reg_error_reason(result);
    }
    end_registry_edit(edit);
    return result == ERROR_SUCCESS ? reg_success : reg_cannot_write;
}

void end_registry_edit(RegistryEdit& edit) {
    if (edit.lock_fd < 0) return;
    HANDLE mutex = mutex_of(edit);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    edit.lock_fd = -1;
}

RegistryEdit::~RegistryEdit() {
    end_registry_edit(*this);
}

}  // namespace jx
