// What the POSIX and the Windows files share: the reason texts and the whole write at once.
#include <cstring>

#include "platform/os/files.h"

namespace jx {

std::string errno_reason(int error) {
    std::string text = std::strerror(error);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && (text.size() < 2 || text[1] > 'Z'))
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

bool write_file_atomically(const std::string& path, const uint8_t* data, size_t length,
                           std::string* reason) {
    AtomicWrite w;
    bool ok = begin_atomic_write(path, w) && write_atomic_bytes(w, data, length);
    if (ok)
        ok = commit_atomic_write(w);
    else
        abort_atomic_write(w);  // keeps the first reason
    if (!ok && reason != nullptr) *reason = w.reason;
    return ok;
}

}  // namespace jx
