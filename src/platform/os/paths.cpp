#include "platform/os/paths.h"

namespace jx {

namespace {
size_t file_name_start(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? 0 : slash + 1;
}
}  // namespace

std::string path_append(const std::string& folder, const std::string& name) {
    if (!name.empty() && name.front() == '/') return name;
    if (folder.empty()) return name;
    if (name.empty()) return folder;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string path_remove_file_spec(const std::string& path) {
    size_t slash = path.find_last_of('/');
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
