// What a transfer run shows while it works. The driver calls these on its worker thread; the
// progress dialog and the command's terminal output are two implementations. Every operation has
// an empty default, so a view shows only what it cares about.
#pragma once

namespace tollan {

// One row of the file list, with the same five values as the file's log line.
struct FileLine {
    const char* name;
    const char* status; // the result text, or "OK" for a completed file
    const char* date;
    const char* time;
    long bytes;
};

class TransferView {
public:
    virtual ~TransferView() = default;

    // The status line.
    virtual void ShowStatus(const char* /*text*/) {}
    // A new file is under way: its name, and its size (0 when not announced).
    virtual void AnnounceFile(const char* /*name*/, long /*size*/) {}
    // Bytes done of the current file; `size` 0 when the size is not known.
    virtual void ShowProgress(long /*done*/, long /*size*/) {}
    virtual void ShowErrorCount(long /*count*/) {}
    // The one line of a file, made once per file.
    virtual void AddFileLine(const FileLine& /*line*/) {}
    // After a file's line: the file it was to replace is unchanged and what arrived is kept in
    // the partial file `partial` beside it.
    virtual void PartialKept(const char* /*partial*/) {}
    // Between two passes of a host run: the current file and its progress are cleared.
    virtual void ClearFile() {}
    // The run has failed or ended: the view gets the user's attention and offers to close.
    // `offerHelp` is set when the view stays open for the user to read the failure.
    virtual void EndOfRun(bool /*offerHelp*/) {}
    // The transfer is over; the worker thread now waits for the stop event, which the run has
    // signalled itself only when it ended well or the failure is not to be read by the user. A
    // view with no user to close it stops the driver here.
    virtual void TransferEnded() {}
    // The last call of the worker thread: the run is over and the log closed.
    virtual void RunFinished() {}
};

} // namespace tollan
