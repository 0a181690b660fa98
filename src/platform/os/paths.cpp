#include "platform/os/paths.h"

#include <cstring>

namespace jx {

namespace {
// Windows takes either slash between names, and a drive letter or a UNC name for the root.
#ifdef _WIN32
constexpr const char* separators = "/\\";
bool is_absolute(const std::string& name) {
    return (!name.empty() && (name.front() == '/' || name.front() == '\\')) ||
           (name.size() > 2 && name[1] == ':' && (name[2] == '/' || name[2] == '\\'));
}
#else
constexpr const char* separators = "/";
bool is_absolute(const std::string& name) {
    return !name.empty() && name.front() == '/';
}
#endif

size_t file_name_start(const std::string& path) {
    size_t slash = path.find_last_of(separators);
    return slash == std::string::npos ? 0 : slash + 1;
}
}  // namespace

std::string path_append(const std::string& folder, const std::string& name) {
    if (is_absolute(name)) return name;
    if (folder.empty()) return name;
    if (name.empty()) return folder;
    if (std::strchr(separators, folder.back()) != nullptr) return folder + name;
    return folder + "/" + name;
}

std::string path_remove_file_spec(const std::string& path) {
    size_t slash = path.find_last_of(separators);
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string path_find_extension(const std::string& path) {
    size_t start = file_name_start(path);
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < start) return "";
    return path.substr(dot);
}

std::string path_find_file_name(const std::string& path) {
    return path.substr(file_name_start(path));
}

std::string path_remove_extension(const std::string& path) {
    return path.substr(0, path.size() - path_find_extension(path).size());
}

std::string path_add_extension(const std::string& path, const std::string& ext) {
    if (!path_find_extension(path).empty()) return path;
    return path + ext;
}

}  // namespace jx
