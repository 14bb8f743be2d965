// The transfer log file: a text file with a header line per run and one line per file, in the
// same words as the file list of the progress display.
#pragma once

#include <cstdio>

namespace tollan {

// Local date and time of the moment a file line is made, in the locale's short forms ("%x" and
// "%X"). The log line and the list row of one file share one stamp.
struct TimeStamp {
    char date[80];
    char time[80];
};
TimeStamp LocalTimeStampNow();

class TransferLog {
public:
    // Shown on the status line when neither open mode works.
    static constexpr const char* kOpenFailedText = "ERROR: Log file could not be created.";

    TransferLog() = default;
    TransferLog(const TransferLog&) = delete;
    TransferLog& operator=(const TransferLog&) = delete;
    ~TransferLog() { Close(); }

    // Opens `path` for appending when `append` is set, falling back to recreating it when that
    // fails; otherwise recreates it. Writes the header line. False when the file cannot be opened
    // either way.
    bool Open(const char* path, bool append);
    bool IsOpen() const { return file_ != nullptr; }

    // One file's line. Stays buffered until Close.
    void WriteLine(const char* name, const char* status, const TimeStamp& stamp,
                   unsigned long bytes);
    void Close();

private:
    std::FILE* file_ = nullptr;
};

} // namespace tollan
