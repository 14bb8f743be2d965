// The command's view of a transfer: a progress line on the standard error stream (file, bytes,
// rate, errors, status), redrawn in place when that stream is a terminal; and one line per file
// on the standard output, in the words of the transfer log, whatever the output is.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "transfer/transfer_view.h"

namespace tollan {

class TerminalView : public TransferView {
public:
    // `lines` may be null (no file lines). `showProgress`: draw the progress line (stderr is a
    // terminal and the command is not quiet).
    TerminalView(std::FILE* lines, std::FILE* progress, bool showProgress);

    void ShowStatus(const char* text) override;
    void AnnounceFile(const char* name, long size) override;
    void ShowProgress(long done, long size) override;
    void ShowErrorCount(long count) override;
    void AddFileLine(const FileLine& line) override;
    void ClearFile() override;
    void EndOfRun(bool offerHelp) override;
    void TransferEnded() override;
    void RunFinished() override;

    // Called when the transfer is over: the command has no user to close its view.
    void OnTransferEnded(std::function<void()> close) { close_ = std::move(close); }
    // Called on the transfer's thread when a failure ends the run, before the engine is stopped.
    void OnEndOfRun(std::function<void()> ending) { ending_ = std::move(ending); }

    // The last status text shown.
    std::string LastStatus() const;
    // The name and byte count of the last file line; an empty name before the first.
    std::pair<std::string, long> LastFile() const;

private:
    using Clock = std::chrono::steady_clock;

    // Redraws the progress line; unless `force`, at most a few times a second.
    void Draw(bool force);
    void Erase();
    // "name  done / size bytes  rate  errors  status".
    void DescribeFile(Clock::time_point now, char* text, std::size_t size) const;

    std::FILE* lines_;
    std::FILE* progress_;
    bool showProgress_;
    mutable std::mutex mutex_;
    std::string name_;
    std::string status_;
    long done_ = 0;
    long size_ = 0;
    long errors_ = 0;
    Clock::time_point fileStart_ = Clock::now();
    Clock::time_point lastDraw_{};
    std::size_t drawnWidth_ = 0;
    std::pair<std::string, long> lastFile_;
    std::function<void()> close_;
    std::function<void()> ending_;
};

} // namespace tollan
