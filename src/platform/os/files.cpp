#include "platform/os/files.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace jx {

namespace {

void set_reason(std::string* reason, std::string text) {
    if (reason != nullptr) *reason = std::move(text);
}

}  // namespace

std::optional<std::vector<uint8_t>> read_whole_file(const std::string& path, std::string* reason) {
    // O_NONBLOCK: opening a FIFO without a writer would wait forever; such a file is refused
    // below anyway, before anything is read.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        set_reason(reason, errno_reason(errno));
        return std::nullopt;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        set_reason(reason, errno_reason(errno));
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) {
        set_reason(reason, "is a directory");
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        set_reason(reason, "not a regular file");
        return std::nullopt;
    }
    std::vector<uint8_t> data;
    try {
        data.resize(static_cast<size_t>(st.st_size));
    } catch (const std::exception&) {  // out of memory, or larger than a vector holds
        set_reason(reason, "too large to hold in memory");
        return std::nullopt;
    }
    size_t done = 0;
    while (done < data.size()) {
        ssize_t got = ::read(fd, data.data() + done, data.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            set_reason(reason, errno_reason(errno));
            return std::nullopt;
        }
        if (got == 0) {
            set_reason(reason, "the file shrank while it was read");
            return std::nullopt;
        }
        done += static_cast<size_t>(got);
    }
    return data;
}

namespace {

// Writing through a link replaces the file it points at and keeps the link; a link that leads
// to no file gives nothing (errno says why), so that the link itself is never replaced.
std::optional<std::string> link_target(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return std::nullopt;
    std::string target = resolved;
    std::free(resolved);
    return target;
}

mode_t umask_at_start() {
    // Read once, before any thread could race us: umask can only be read by setting it.
    static const mode_t mask = [] {
        mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return mask;
}

std::string folder_of(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A temporary name in the same folder (so that rename replaces atomically), short enough to fit
// wherever the file's own name fits.
std::string temporary_name(const std::string& path) {
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return folder + ".jx-XXXXXX";
}

// Links the nameless file under a fresh hidden name beside its target; false with errno set.
bool link_hidden_name(AtomicWrite& w) {
    std::string self = "/proc/self/fd/" + std::to_string(w.fd);
    const char* letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint8_t random[6];
        if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            return false;
        std::string name = temporary_name(w.path);
        name.resize(name.size() - sizeof random);
        for (uint8_t r : random) name += letters[r % 36];
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            w.temporary = name;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool fail(AtomicWrite& w, std::string reason) {
    if (!w.failed) w.reason = std::move(reason);
    w.failed = true;
    return false;
}

}  // namespace

bool begin_atomic_write(const std::string& name, AtomicWrite& w) {
    w = AtomicWrite{};
    std::optional<std::string> target = link_target(name);
    if (!target) return fail(w, "a link to no file: " + errno_reason(errno));
    w.path = *target;
    struct stat st {};
    bool replacing = ::stat(w.path.c_str(), &st) == 0;
    // Only a regular file is ever replaced: renaming over a device, a FIFO or a socket (such as
    // /dev/stdout) would put a file in its place.
    if (replacing && S_ISDIR(st.st_mode)) return fail(w, "is a directory");
    if (replacing && !S_ISREG(st.st_mode)) return fail(w, "not a regular file");
    // Renaming over a file needs only the folder's permission; a file that nobody may write is
    // kept, as the user asked for by making it read-only.
    if (replacing && (st.st_mode & 0222) == 0) return fail(w, "read-only");
    mode_t mode = replacing ? (st.st_mode & 07777) : (0666 & ~umask_at_start());

    // A file without a name vanishes by itself if the process dies before the commit.
    w.fd = ::open(folder_of(w.path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (w.fd < 0) {
        // Some file systems cannot make one: fall back to a hidden name, removed on failure.
        w.temporary = temporary_name(w.path);
        w.fd = ::mkstemp(w.temporary.data());
        if (w.fd < 0) {
            w.temporary.clear();
            return fail(w, errno_reason(errno));
        }
    }
    // Both ways make the file with the process's umask or privately; give it the permissions
    // it is expected to have.
    if (::fchmod(w.fd, mode) != 0) fail(w, errno_reason(errno));
    return !w.failed;
}

bool write_atomic_bytes(AtomicWrite& w, const uint8_t* data, size_t length) {
    if (w.failed || w.fd < 0) return false;
    size_t done = 0;
    while (done < length) {
        ssize_t put = ::write(w.fd, data + done, length - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return fail(w, put < 0 ? errno_reason(errno) : "nothing was written");
        done += static_cast<size_t>(put);
    }
    return true;
}

bool commit_atomic_write(AtomicWrite& w) {
    if (w.fd < 0) return fail(w, w.reason.empty() ? "not open" : w.reason);
    if (!w.failed && ::fsync(w.fd) != 0) fail(w, errno_reason(errno));
    // Give a nameless file a hidden name only now, for the moment the rename takes.
    if (!w.failed && w.temporary.empty() && !link_hidden_name(w)) fail(w, errno_reason(errno));
    if (::close(w.fd) != 0) fail(w, errno_reason(errno));
    w.fd = -1;
    if (!w.failed && ::rename(w.temporary.c_str(), w.path.c_str()) != 0)
        fail(w, errno_reason(errno));
    if (w.failed) {
        if (!w.temporary.empty()) ::unlink(w.temporary.c_str());
        return false;
    }
    return true;
}

void abort_atomic_write(AtomicWrite& w) {
    if (w.fd >= 0) ::close(w.fd);
    w.fd = -1;
    if (!w.temporary.empty()) ::unlink(w.temporary.c_str());
    w.temporary.clear();
    fail(w, "abandoned");
}

}  // namespace jx
