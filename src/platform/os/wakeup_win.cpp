#include <windows.h>

#include <system_error>

#include "platform/os/wakeup.h"

namespace jx {

void use_precise_timed_waits() {}

Wakeup::Wakeup() : handle_(CreateSemaphoreW(nullptr, 0, 1, nullptr)) {
    if (handle_ == nullptr)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "CreateSemaphoreW");
}

Wakeup::~Wakeup() {
    CloseHandle(handle_);
}

void Wakeup::signal() noexcept {
    ReleaseSemaphore(handle_, 1, nullptr);
}

void Wakeup::take_pending_post() {
    WaitForSingleObject(handle_, 0);
}

bool Wakeup::sleep_until(std::chrono::steady_clock::time_point deadline) {
    DWORD ms = INFINITE;
    if (deadline != std::chrono::steady_clock::time_point::max()) {
        const auto left = deadline - std::chrono::steady_clock::now();
        // Rounded up: waking before the deadline would only make the caller sleep again.
        const auto rounded = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        ms = rounded <= 0 ? 0 : static_cast<DWORD>(rounded);
    }
    return WaitForSingleObject(handle_, ms) == WAIT_OBJECT_0;
}

}  // namespace jx
