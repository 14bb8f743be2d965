// The stop event of a transfer run: a manual-reset event that either thread may signal and that
// the worker thread waits on without limit or polls without waiting. Once signalled it stays
// signalled for the rest of the run.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace tollan {

class StopEvent {
public:
    StopEvent() = default;
    StopEvent(const StopEvent&) = delete;
    StopEvent& operator=(const StopEvent&) = delete;

    void Signal();
    // A zero-time look: true once Signal has been called.
    bool IsSignalled() const;
    // Blocks until the event is signalled.
    void Wait() const;
    // Blocks for at most `milliseconds`; true when the event is signalled.
    bool WaitFor(int milliseconds) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::atomic<bool> signalled_ = false;
};

} // namespace tollan
