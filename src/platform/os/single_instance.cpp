#include "platform/os/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <utility>

namespace jx {

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(static_cast<int>(fd_));
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), another_runs_(other.another_runs_) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(static_cast<int>(fd_));
        fd_ = std::exchange(other.fd_, -1);
        another_runs_ = other.another_runs_;
    }
    return *this;
}

std::string instance_lock_path(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder;
    if (runtime != nullptr && runtime[0] != '\0') {
        folder = runtime;
    } else {
        std::error_code error;
        folder = std::filesystem::temp_directory_path(error).string();
        if (error) folder = "/tmp";
    }
    return folder + "/" + name + ".lock";
}

InstanceLock acquire_instance_lock(const std::string& name) {
    InstanceLock lock;
    const int fd = ::open(instance_lock_path(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return lock;
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        lock.another_runs_ = errno == EWOULDBLOCK;
        ::close(fd);
        return lock;
    }
    lock.fd_ = fd;
    return lock;
}

}  // namespace jx
