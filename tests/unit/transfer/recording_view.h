// A view that keeps everything a transfer showed, for the tests to look at afterwards.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "transfer_view.h"

namespace tollan::test {

struct RecordedLine {
    std::string name;
    std::string status;
    long bytes;
};

class RecordingView : public TransferView {
public:
    void ShowStatus(const char* text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        statuses_.emplace_back(text);
    }
    void AnnounceFile(const char* name, long) override {
        std::lock_guard<std::mutex> lock(mutex_);
        announced_.emplace_back(name);
    }
    void ShowProgress(long done, long) override {
        std::function<void(long)> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            hook = onProgress_;
        }
        if (hook) {
            hook(done);
        }
    }
    void AddFileLine(const FileLine& line) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(RecordedLine{line.name, line.status, line.bytes});
    }
    void EndOfRun(bool offerHelp) override {
        std::lock_guard<std::mutex> lock(mutex_);
        endOfRun_.push_back(offerHelp);
    }
    void TransferEnded() override {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            hook = onEnded_;
        }
        if (hook) {
            hook();
        }
    }
    void RunFinished() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++finished_;
    }

    // Called on every progress report (on the worker thread).
    void OnProgress(std::function<void(long)> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        onProgress_ = std::move(hook);
    }

    // Called when the transfer is over, before the driver waits for its stop event.
    void OnTransferEnded(std::function<void()> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        onEnded_ = std::move(hook);
    }

    std::vector<std::string> Statuses() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return statuses_;
    }
    std::vector<std::string> Announced() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return announced_;
    }
    std::vector<RecordedLine> Lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    std::vector<bool> EndOfRuns() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return endOfRun_;
    }
    int Finished() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return finished_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> statuses_;
    std::vector<std::string> announced_;
    std::vector<RecordedLine> lines_;
    std::vector<bool> endOfRun_;
    int finished_ = 0;
    std::function<void(long)> onProgress_;
    std::function<void()> onEnded_;
};

} // namespace tollan::test
