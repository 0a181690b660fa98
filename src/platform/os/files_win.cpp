// Whole-file reads and safe writes through the wide Windows file calls, always in binary.
#include <io.h>

#include <cerrno>
#include <exception>

#include "platform/os/files.h"
#include "platform/os/wide_win.h"

namespace jx {

namespace {

bool set_reason(std::string* reason, std::string text) {
    if (reason != nullptr) *reason = std::move(text);
    return false;
}

HANDLE handle_of(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

}  // namespace

std::optional<std::vector<uint8_t>> read_whole_file(const std::string& path, std::string* reason) {
    const std::wstring wide = wide_path(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        set_reason(reason, "is a directory");
        return std::nullopt;
    }
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        set_reason(reason, windows_error_reason(GetLastError()));
        return std::nullopt;
    }
    struct Closer {
        HANDLE file;
        ~Closer() { CloseHandle(file); }
    } closer{file};
    // A console, pipe or device is never read: it could block or never end.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        set_reason(reason, "not a regular file");
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        set_reason(reason, windows_error_reason(GetLastError()));
        return std::nullopt;
    }
    std::vector<uint8_t> data;
    try {
        data.resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::exception&) {
        set_reason(reason, "too large to hold in memory");
        return std::nullopt;
    }
    size_t done = 0;
    while (done < data.size()) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file, data.data() + done, want, &got, nullptr)) {
            set_reason(reason, windows_error_reason(GetLastError()));
            return std::nullopt;
        }
        if (got == 0) {
            set_reason(reason, "the file shrank while it was read");
            return std::nullopt;
        }
        done += got;
    }
    return data;
}

namespace {

bool fail(AtomicWrite& w, std::string reason) {
    if (!w.failed) w.reason = std::move(reason);
    w.failed = true;
    return false;
}

// A hidden name beside the target, so that the replace stays on one volume.
std::string temporary_name(const std::string& path, unsigned attempt) {
    const size_t slash = path.find_last_of("/\\");
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const unsigned long long stamp = GetTickCount64() ^ (GetCurrentProcessId() * 2654435761ULL);
    const char* letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = folder + ".jx-";
    for (unsigned long long n = stamp + attempt * 7919ULL, i = 0; i < 6; ++i, n /= 36)
        name += letters[n % 36];
    return name;
}

}  // namespace

bool begin_atomic_write(const std::string& name, AtomicWrite& w) {
    w = AtomicWrite{};
    w.path = name;
    const std::wstring target = wide_path(name);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return fail(w, "is a directory");
        if (attributes & FILE_ATTRIBUTE_READONLY) return fail(w, "read-only");
        if (attributes & FILE_ATTRIBUTE_DEVICE) return fail(w, "not a regular file");
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = temporary_name(name, attempt);
        HANDLE file = CreateFileW(wide_path(temporary).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return fail(w, windows_error_reason(error));
        }
        w.fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), 0);
        if (w.fd < 0) {
            CloseHandle(file);
            DeleteFileW(wide_path(temporary).c_str());
            return fail(w, errno_reason(EMFILE));
        }
        w.temporary = temporary;
        return true;
    }
    return fail(w, errno_reason(EEXIST));
}

bool write_atomic_bytes(AtomicWrite& w, const uint8_t* data, size_t length) {
    if (w.failed || w.fd < 0) return false;
    size_t done = 0;
    while (done < length) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(length - done, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(handle_of(w.fd), data + done, want, &put, nullptr))
            return fail(w, windows_error_reason(GetLastError()));
        if (put == 0) return fail(w, "nothing was written");
        done += put;
    }
    return true;
}

bool commit_atomic_write(AtomicWrite& w) {
    if (w.fd < 0) return fail(w, w.reason.empty() ? "not open" : w.reason);
    if (!w.failed && !FlushFileBuffers(handle_of(w.fd)))
        fail(w, windows_error_reason(GetLastError()));
    _close(w.fd);
    w.fd = -1;
    const std::wstring temporary = wide_path(w.temporary);
    const std::wstring target = wide_path(w.path);
    // ReplaceFileW keeps the replaced file's attributes and security; where there is nothing
    // to replace, or the volume cannot, the move replaces in one step.
    if (!w.failed &&
        !ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                      nullptr, nullptr) &&
        !MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail(w, windows_error_reason(GetLastError()));
    if (w.failed) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

void abort_atomic_write(AtomicWrite& w) {
    if (w.fd >= 0) _close(w.fd);
    w.fd = -1;
    if (!w.temporary.empty()) DeleteFileW(wide_path(w.temporary).c_str());
    w.temporary.clear();
    fail(w, "abandoned");
}

}  // namespace jx
