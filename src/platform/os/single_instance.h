#pragma once
// One running copy of the program at a time: a lock file held with flock for the process's life
// (on Windows a named mutex).
#include <cstdint>
#include <string>

namespace jx {

class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    bool held() const { return fd_ >= 0; }
    // Another process holds the lock: this copy should end at once.
    bool another_runs() const { return another_runs_; }

  private:
    friend InstanceLock acquire_instance_lock(const std::string& name);
    intptr_t fd_ = -1;  // the lock file, or the mutex's handle
    bool another_runs_ = false;
};

// $XDG_RUNTIME_DIR/<name>.lock, or the temporary folder when that is not set (on Windows the
// mutex's name in the session: Local\<name>).
std::string instance_lock_path(const std::string& name);
// Takes the lock. When the lock file cannot be made at all, nothing is held and this copy runs
// as if alone: refusing to start would be worse than a second window.
InstanceLock acquire_instance_lock(const std::string& name);

}  // namespace jx
