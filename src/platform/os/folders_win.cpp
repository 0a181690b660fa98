// The program's folders on Windows: %APPDATA% for the configuration and the data.
#include <string>
#include <vector>

#include "platform/os/folders.h"
#include "platform/os/paths.h"
#include "platform/os/wide_win.h"

namespace jx {

namespace {

std::string environment(const wchar_t* name) {
    const DWORD length = GetEnvironmentVariableW(name, nullptr, 0);
    if (length == 0) return "";
    std::wstring value(length, L'\0');
    const DWORD got = GetEnvironmentVariableW(name, value.data(), length);
    if (got == 0 || got >= length) return "";
    value.resize(got);
    return from_wide(value);
}

// The program's own paths use forward slashes on every system (the wide calls turn them back),
// so that the code comparing and joining paths needs no second separator.
std::string forward_slashes(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

}  // namespace

std::string config_home() {
    return environment(L"APPDATA");
}

std::string data_home() {
    return environment(L"APPDATA");
}

std::string current_folder() {
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    if (length == 0) return "";
    std::wstring folder(length, L'\0');
    const DWORD got = GetCurrentDirectoryW(length, folder.data());
    if (got == 0 || got >= length) return "";
    folder.resize(got);
    return forward_slashes(from_wide(folder));
}

std::string absolute_path(const std::string& path) {
    const std::wstring wide = wide_path(path);
    const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0) return path;
    std::wstring full(length, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    if (got == 0 || got >= length) return path;
    full.resize(got);
    // A \\?\ prefix is the wide calls' business, not the name's.
    if (full.rfind(L"\\\\?\\", 0) == 0) full.erase(0, 4);
    return forward_slashes(from_wide(full));
}

bool is_folder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool make_folder(const std::string& folder) {
    return CreateDirectoryW(wide_path(folder).c_str(), nullptr) != 0;
}

bool make_folders(const std::string& folder) {
    if (folder.empty()) return false;
    if (is_folder(folder)) return true;
    const size_t slash = folder.find_last_of("/\\");
    if (slash != std::string::npos && slash > 0) {
        const std::string parent = folder.substr(0, slash);
        // "C:" and "\\server\share" are there or not; they are never made.
        if (parent.size() > 2 && parent.find_first_not_of('\\') != std::string::npos &&
            !make_folders(parent))
            return false;
    }
    return make_folder(folder) || (GetLastError() == ERROR_ALREADY_EXISTS && is_folder(folder));
}

bool path_exists(const std::string& path) {
    return GetFileAttributesW(wide_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string folder_write_problem(const std::string& folder) {
    for (unsigned n = GetTickCount();; ++n) {
        const std::string probe = path_append(folder, ".jx-write-test-" + std::to_string(n));
        HANDLE file = CreateFileW(wide_path(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return {};
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS) return windows_error_reason(error);
    }
}

std::string make_temporary_folder(const std::string& prefix) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return {};
    const std::string base = forward_slashes(from_wide(temp, length));
    for (unsigned n = GetTickCount(), tries = 0; tries < 100; ++n, ++tries) {
        const std::string folder = path_append(base, prefix + "-" + std::to_string(n));
        if (make_folder(folder)) return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
}

}  // namespace jx
