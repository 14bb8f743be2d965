// A view that keeps what a transfer showed. The tests read it once the worker thread has ended
// (or, for the status record, on their own thread); the hooks run on the worker thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "transfer/transfer_view.h"

namespace tollan::test {

struct RecordedLine {
    std::string name;
    std::string status;
    long bytes;
};

struct RecordingView : TransferView {
    void ShowStatus(const char* text) override {
        statuses.emplace_back(text);
        if (onStatus) {
            onStatus(statuses.back());
        }
    }
    void ShowProgress(long done, long) override {
        if (onProgress) {
            onProgress(done);
        }
    }
    void AddFileLine(const FileLine& line) override {
        lines.push_back(RecordedLine{line.name, line.status, line.bytes});
    }
    void EndOfRun(bool offerHelp) override { endOfRuns.push_back(offerHelp); }
    void TransferEnded() override {
        if (onEnded) {
            onEnded();
        }
    }

    std::vector<std::string> statuses;
    std::vector<RecordedLine> lines;
    std::vector<bool> endOfRuns;
    std::function<void(const std::string&)> onStatus;
    std::function<void(long)> onProgress;
    std::function<void()> onEnded;
};

} // namespace tollan::test
