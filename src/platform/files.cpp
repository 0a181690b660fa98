#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace jx {

std::optional<std::vector<uint8_t>> read_whole_file(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::vector<uint8_t>> result;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        std::vector<uint8_t> data;
        try {
            data.resize(static_cast<size_t>(st.st_size));
        } catch (const std::exception&) {  // out of memory, or larger than a vector holds
            ::close(fd);
            return std::nullopt;
        }
        size_t done = 0;
        bool failed = false;
        while (done < data.size()) {
            ssize_t got = ::read(fd, data.data() + done, data.size() - done);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                failed = true;  // an error, or the file shrank under us
                break;
            }
            done += static_cast<size_t>(got);
        }
        if (!failed) result = std::move(data);
    }
    ::close(fd);
    return result;
}

namespace {

// Writing through a link replaces the file it points at and keeps the link.
std::string link_target(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;
    std::string target = resolved;
    std::free(resolved);
    return target;
}

// The permissions the new file gets: those of the file it replaces, or what the process's umask
// leaves of rw-rw-rw- for a new one. The umask is read once, before any thread could race us.
mode_t permissions_for(const std::string& path) {
    static const mode_t umask_at_start = [] {
        mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
    }();
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
    return 0666 & ~umask_at_start;
}

// A temporary name in the same folder (so that rename replaces atomically), short enough to fit
// wherever the file's own name fits.
std::string temporary_name(const std::string& path) {
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return folder + ".jx-XXXXXX";
}

}  // namespace

bool write_file_atomically(const std::string& name, const uint8_t* data, size_t length) {
    std::string path = link_target(name);
    std::string temp = temporary_name(path);
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < length) {
        ssize_t put = ::write(fd, data + done, length - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0)
            ok = false;
        else
            done += static_cast<size_t>(put);
    }
    // mkstemp makes the file private; give it the permissions it is expected to have.
    ok = ok && ::fchmod(fd, permissions_for(path)) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

}  // namespace jx
