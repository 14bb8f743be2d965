#include "transfer/stop_event.h"

#include <chrono>

namespace tollan {

void StopEvent::Signal() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    changed_.notify_all();
}

bool StopEvent::IsSignalled() const {
    return signalled_.load();
}

void StopEvent::Wait() const {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return signalled_.load(); });
}

bool StopEvent::WaitFor(int milliseconds) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return signalled_.load(); });
}

} // namespace tollan
