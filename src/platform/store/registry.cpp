#include "platform/store/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/os/files.h"
#include "platform/os/folders.h"
#include "platform/os/paths.h"

namespace jx {

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

}  // namespace jx
