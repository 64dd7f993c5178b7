// A handler a host installs (message boxes, diagnostics): its function and context, replaced
// and read under a lock, so that any thread may install one while others use it. The handler
// itself runs without the lock held: it may block, and it may install another.
#pragma once

#include <mutex>

namespace tovarine {

template <typename Function>
class HostHandler {
public:
    struct Installed {
        Function function = nullptr;
        void *context = nullptr;
    };

    // A null function installs none; its context is dropped with it. A lock that cannot be
    // taken leaves the handler as it was.
    void Install(Function function, void *context) noexcept {
        try {
            std::lock_guard<std::mutex> lock(mutex_);
            installed_ = Installed{function, function != nullptr ? context : nullptr};
        } catch (...) {
        }
    }
    // The handler installed now; none when the lock cannot be taken.
    Installed Current() noexcept {
        try {
            std::lock_guard<std::mutex> lock(mutex_);
            return installed_;
        } catch (...) {
            return {};
        }
    }

private:
    std::mutex mutex_;
    Installed installed_;
};

}  // namespace tovarine
