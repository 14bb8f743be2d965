// A view that keeps what a transfer showed, and one side of a whole run around it. The tests read
// the view once the worker thread has ended (or, for the status record, on their own thread); the
// hooks run on the worker thread.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "transfer/transfer_driver.h"
#include "transfer/transfer_view.h"

namespace tollan::test {

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
        lines.push_back(std::string(line.name) + " | " + line.status + " | " +
                        std::to_string(line.bytes));
    }
    void EndOfRun(bool offerHelp) override { endOfRuns.push_back(offerHelp); }
    void TransferEnded() override {
        if (onEnded) {
            onEnded();
        }
    }

    std::vector<std::string> statuses;
    std::vector<std::string> lines; // a file's line: "name | status | bytes"
    std::vector<bool> endOfRuns;
    std::function<void(const std::string&)> onStatus;
    std::function<void(long)> onProgress;
    std::function<void()> onEnded;

    // Whether the status line showed `expected` in this order, other statuses between them.
    bool Showed(const std::vector<std::string>& expected) const {
        auto at = statuses.begin();
        for (const std::string& text : expected) {
            at = std::find(at, statuses.end(), text);
            if (at == statuses.end()) {
                return false;
            }
            ++at;
        }
        return true;
    }
};

// One side of a run: its settings, its result record, its view and its driver.
struct RunSide {
    RunSide(Protocol protocol, bool transmit, const std::string& files) {
        settings.protocol = protocol;
        settings.direction = transmit ? Direction::kTransmit : Direction::kReceive;
        settings.fileList = files;
    }

    void Start(PortFactory makePort, std::shared_ptr<const ModemSource> modems = nullptr) {
        driver = std::make_unique<TransferDriver>(settings, result, view, std::move(makePort));
        driver->SetModemSource(std::move(modems));
        driver->OpenLog();
        driver->Start();
    }
    std::int32_t Finish() {
        driver->Wait();
        return result.result;
    }

    RunSettings settings;
    RunResult result;
    RecordingView view;
    std::unique_ptr<TransferDriver> driver;
};

} // namespace tollan::test
