// One running copy per session on Windows: a named mutex held for the process's life.
#include <utility>

#include "platform/os/single_instance.h"
#include "platform/os/wide_win.h"

namespace jx {

namespace {

void close_mutex(intptr_t handle) {
    if (handle >= 0) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace

InstanceLock::~InstanceLock() {
    close_mutex(fd_);
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), another_runs_(other.another_runs_) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        close_mutex(fd_);
        fd_ = std::exchange(other.fd_, -1);
        another_runs_ = other.another_runs_;
    }
    return *this;
}

std::string instance_lock_path(const std::string& name) {
    return "Local\\" + name;
}

InstanceLock acquire_instance_lock(const std::string& name) {
    InstanceLock lock;
    // The mutex is there while any copy holds its handle; the first copy made it.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, to_wide(instance_lock_path(name)).c_str());
    if (mutex == nullptr) return lock;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        lock.another_runs_ = true;
        CloseHandle(mutex);
        return lock;
    }
    lock.fd_ = reinterpret_cast<intptr_t>(mutex);
    return lock;
}

}  // namespace jx
