#include "platform/os/wide_win.h"

#include <cerrno>

#include "platform/os/files.h"

namespace jx {

std::wstring to_wide(const std::string& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string from_wide(const wchar_t* text, size_t length) {
    if (length == 0) return {};
    const int size = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, size, narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}

std::string from_wide(const std::wstring& text) {
    return from_wide(text.data(), text.size());
}

std::wstring wide_path(const std::string& path) {
    std::wstring wide = to_wide(path);
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    if (wide.size() < MAX_PATH - 12 || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
    if (wide.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + wide.substr(2);
    if (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\') return L"\\\\?\\" + wide;
    return wide;
}

std::string windows_error_reason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
            return errno_reason(ENOENT);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return errno_reason(EACCES);
        case ERROR_WRITE_PROTECT:
            return errno_reason(EROFS);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return errno_reason(ENOSPC);
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return errno_reason(EEXIST);
        case ERROR_FILENAME_EXCED_RANGE:
            return errno_reason(ENAMETOOLONG);
        case ERROR_INVALID_NAME:
        case ERROR_DIRECTORY:
            return errno_reason(EINVAL);
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return errno_reason(ENOMEM);
        default:
            return "Windows error " + std::to_string(error);
    }
}

}  // namespace jx
