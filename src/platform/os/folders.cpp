#include "platform/os/folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/os/files.h"
#include "platform/os/paths.h"

namespace jx {

namespace {

// The XDG rules: a variable that is unset, empty or relative is ignored.
std::string xdg_folder(const char* variable, const char* below_home) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') return value;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return path_append(home, below_home);
    return "";
}

}  // namespace

bool is_folder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool make_folder(const std::string& folder) {
    return ::mkdir(folder.c_str(), 0777) == 0;
}

std::string config_home() {
    return xdg_folder("XDG_CONFIG_HOME", ".config");
}

std::string data_home() {
    return xdg_folder("XDG_DATA_HOME", ".local/share");
}

std::string current_folder() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) return "";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string absolute_path(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    return path_append(current_folder(), path);
}

bool make_folders(const std::string& folder) {
    if (folder.empty()) return false;
    if (is_folder(folder)) return true;
    std::string parent = path_remove_file_spec(folder);
    if (!parent.empty() && parent != folder && !make_folders(parent)) return false;
    return ::mkdir(folder.c_str(), 0777) == 0 || (errno == EEXIST && is_folder(folder));
}

bool path_exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string folder_write_problem(const std::string& folder) {
    std::string probe = path_append(folder, ".jx-write-test-XXXXXX");
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) return errno_reason(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

std::string make_temporary_folder(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = path_append(tmp && *tmp ? tmp : "/tmp", prefix + "-XXXXXX");
    return ::mkdtemp(folder.data()) ? folder : std::string();
}

}  // namespace jx
