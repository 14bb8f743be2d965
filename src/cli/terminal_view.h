// The command's view of a transfer: a progress line on the standard error stream, redrawn in
// place when that stream is a terminal (the file, "file k of N", percent, bytes, rate, time left,
// errors and status, fitted to the terminal's width as it is at each redraw); and one line per
// file on the standard output, in the words of the transfer log, whatever the output is.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "transfer/transfer_view.h"

namespace tollan {

// What the progress line shows. Unknown numbers are negative (fileCount 0: not known).
struct ProgressFigures {
    std::string name;
    std::string status;
    long done = 0;
    long size = -1;
    int fileIndex = 0; // 1 for the first file of the run
    int fileCount = 0;
    double rate = -1;        // bytes per second
    double secondsLeft = -1; // of this file
    long errors = 0;
};

// The progress line for a terminal `columns` wide: at most columns - 1 characters (the last
// column would make some terminals scroll). A long name is shortened in its middle before any
// figure goes; when even that is not enough the least useful figures go first (status, errors,
// bytes, "file k of N", rate, time left); the percent stays longest. Without a name: the status.
// Room to spare holds a bar.
std::string ProgressLine(const ProgressFigures& figures, int columns);

class TerminalView : public TransferView {
public:
    // `lines` may be null (no file lines). `showProgress`: draw the progress line (stderr is a
    // terminal that is not the line, and the command is not quiet). `columns` tells the
    // terminal's current width (0: not known).
    TerminalView(std::FILE* lines, std::FILE* progress, bool showProgress,
                 std::function<int()> columns = nullptr);
    ~TerminalView() override;

    // The number of files the run is to move, when it is known before they go.
    void SetFileCount(int count);

    void ShowStatus(const char* text) override;
    void AnnounceFile(const char* name, long size) override;
    void PartialKept(const char* partial) override;
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
    // The partial file the last file line's file was left in, or "".
    std::string LastPartial() const;

private:
    using Clock = std::chrono::steady_clock;

    // Redraws the progress line; unless `force`, at most a few times a second.
    void Draw(bool force);
    void Erase();
    // Takes the bytes moved since the last sample into the rate, which thus decays while
    // nothing moves.
    void SampleRate(Clock::time_point now);
    // Redraws now and then while nothing is reported, so that a stall shows.
    void Tick();
    void StopTicking();
    // The columns the line may take on the terminal as it is now.
    std::size_t Room() const;

    std::FILE* lines_;
    std::FILE* progress_;
    bool showProgress_;
    std::function<int()> columns_;
    mutable std::mutex mutex_;
    std::string name_;
    std::string status_;
    long done_ = 0;
    long size_ = 0;
    long errors_ = 0;
    int fileIndex_ = 0;
    int fileCount_ = 0;
    double rate_ = -1;
    long moved_ = 0; // bytes of the files before this one
    long sampledMoved_ = 0;
    Clock::time_point sampled_ = Clock::now();
    Clock::time_point lastDraw_{};
    std::size_t drawnWidth_ = 0;
    std::pair<std::string, long> lastFile_;
    std::string lastPartial_;
    bool ticking_ = false;
    std::condition_variable tickWake_;
    std::thread ticker_;
    std::function<void()> close_;
    std::function<void()> ending_;
};

} // namespace tollan
