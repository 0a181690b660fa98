#include "platform/store/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>

#include "platform/os/files.h"
#include "platform/os/folders.h"
#include "platform/os/paths.h"

namespace jx {

namespace {

const char* const root_key = "HKEY_CURRENT_USER\\";

std::string full_key(const std::string& subkey) {
    return root_key + subkey;
}

}  // namespace

std::string registry_file_path() {
    std::string home = config_home();
    return home.empty() ? "" : path_append(home, "Tessarin/registry.reg");
}

bool read_registry_store(const std::string& path, RegistryFile& store, std::string* reason) {
    store = RegistryFile{};
    if (path.empty() || !path_exists(path)) return true;
    auto bytes = read_whole_file(path, reason);
    if (!bytes) return false;
    store = parse_registry(bytes->data(), bytes->size());
    return true;
}

int begin_registry_edit(const std::string& file, RegistryEdit& edit, std::string* reason) {
    end_registry_edit(edit);
    edit.file = file;
    if (file.empty()) {
        if (reason) *reason = "no configuration folder (set HOME or XDG_CONFIG_HOME)";
        return reg_cannot_write;
    }
    std::string folder = path_remove_file_spec(file);
    if (!make_folders(folder)) {
        if (reason) *reason = "cannot write '" + file + "': cannot make its folder";
        return reg_cannot_write;
    }
    // The lock is held on the store's folder, since the store itself is replaced by every write
    // and a lock file of its own would be one more file to leave behind.
    edit.lock_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int locked = edit.lock_fd < 0 ? -1 : ::flock(edit.lock_fd, LOCK_EX);
    while (locked != 0 && edit.lock_fd >= 0 && errno == EINTR)
        locked = ::flock(edit.lock_fd, LOCK_EX);
    if (locked != 0) {
        if (reason) *reason = "cannot lock the folder of '" + file + "': " + errno_reason(errno);
        end_registry_edit(edit);
        return reg_cannot_write;
    }
    // A store that is there but cannot be read is never replaced: it may hold what the user had.
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
    std::string text = format_registry(edit.store);
    std::string why;
    bool written = write_file_atomically(edit.file, reinterpret_cast<const uint8_t*>(text.data()),
                                         text.size(), &why);
    if (!written && reason) *reason = "cannot write '" + edit.file + "': " + why;
    end_registry_edit(edit);
    return written ? reg_success : reg_cannot_write;
}

void end_registry_edit(RegistryEdit& edit) {
    if (edit.lock_fd >= 0) ::close(edit.lock_fd);  // closing releases the lock
    edit.lock_fd = -1;
}

RegistryEdit::~RegistryEdit() {
    end_registry_edit(*this);
}

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
    if (file.empty() || !path_exists(file) || !read_registry_store(file, store) ||
        !has_registry_key(store, path))
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
    if (!path_exists(key.file) || !read_registry_store(key.file, store)) return reg_not_found;
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
