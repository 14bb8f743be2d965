// The transfer driver: carries out one transfer on a worker thread. It opens the port through
// its factory, sets the line up, runs the engine of the chosen protocol over the file list (once,
// or pass after pass in a host run), turns the engine's notifications into view updates, one line
// per file (in the view and the transfer log) and a result code, and ends when its stop event is
// signalled: by a successful run, by a failed one that is not to stay open for the user, or by
// the user's cancel.
//
// Use: construct it, OpenLog() (the log file, when the settings ask for one), Start(); the user's
// cancel is Stop(); Wait() returns once the worker thread has ended (the view's RunFinished() is
// its last call). Run() does the same work on the calling thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <utility>

#include "transfer/port_factory.h"
#include "transfer/result_code.h"
#include "transfer/run_settings.h"
#include "transfer/stop_event.h"
#include "transfer/transfer_log.h"
#include "transfer/transfer_view.h"

namespace tollan {

class CommLink;
class DriverStatus;
class LineControl;
class ModemProfile;
class ModemSource;
class TransferEngine;

class TransferDriver {
public:
    // The stop event is not signalled and the activity clock starts now. `block`, when given,
    // receives the run's writes (Transferred, the emptied FileList of a host run, LogToFile
    // switched off when the log cannot be made).
    TransferDriver(RunSettings settings, RunResult& result, TransferView& view,
                   PortFactory makePort, SettingsBlock* block = nullptr);
    // Stops and waits for a worker thread that is still running.
    ~TransferDriver();

    TransferDriver(const TransferDriver&) = delete;
    TransferDriver& operator=(const TransferDriver&) = delete;

    // With logToFile set: opens the log (appending or recreated) and writes its header. When it
    // cannot be made, shows "ERROR: Log file could not be created.", switches logging off and
    // returns false; the run goes on without a log.
    bool OpenLog();
    // Where a run with useModem set reads its modem's settings; without one, initialising the
    // modem fails.
    void SetModemSource(std::shared_ptr<const ModemSource> source) {
        modemSource_ = std::move(source);
    }
    // Starts the worker thread.
    void Start();
    // The user's cancel: signals the stop event. The run ends at the engine's next abort poll.
    void Stop() { stop_.Signal(); }
    // Waits for the worker thread to end.
    void Wait();
    // The worker thread's procedure on the calling thread: the transfer, then the wait for the
    // stop event, closing the log and the view's RunFinished().
    void Run();

    const RunSettings& Settings() const { return settings_; }
    RunResult& Result() { return result_; }
    StopEvent& StopSignal() { return stop_; }
    TransferView& View() { return view_; }
    // Distinct file names announced in the current pass.
    int FilesSeen() const { return filesSeen_.load(); }
    // Files the engines counted in all passes.
    int Transferred() const { return transferred_.load(); }
    int HelpTopic() const { return helpTopic_.load(); }

    // What the status record does to the view, the log and the result.
    void ShowStatus(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void AnnounceFile(const char* name, std::int32_t size);
    void ShowProgress(std::int32_t done, std::int32_t size);
    void ShowErrorCount(std::int32_t count);
    // The file's line in the view and the log, stamped with the local time now.
    void AddFileLine(const char* name, const char* status, std::int32_t bytes);
    void PartialKept(const char* partial) {
        view_.PartialKept(partial);
    }
    // Sets the result code (low 16 bits) and the help topic.
    void SetResultCode(std::int32_t code);
    // A run that failed (or ended) gets the user's attention; unless the view is to stay open
    // for the user to read the failure, the stop event is signalled.
    void EndOfRunNotification();
    // The activity clock: restarted on progress; the abort poll measures the time-out from it.
    void TouchActivityClock();
    // -901 once the stop event is signalled; -909 when `timeoutSeconds` is not 0 and more than
    // that many whole seconds have passed on the activity clock; else 0.
    [[nodiscard]] int AbortPoll(std::int32_t timeoutSeconds) const;

private:
    // A list the run cannot go through ends it before the line is touched, with code 11: a name
    // the single-byte text could not hold, or a file to send that is too large for the
    // protocols' 32-bit positions. False when the list is fine.
    bool RefuseFileList();
    // The transfer itself: the list's check, the host run's folder, the line and its passes.
    void RunTransfer();
    // The port and its link, checked: null, with the failure reported (code 18 and why), when
    // the port would not open; `port` keeps the port for as long as the link lives.
    std::unique_ptr<CommLink> OpenLine(std::shared_ptr<CommPort>& port);
    // Everything on an open line: its settings (put back at the end), the modem's set-up, the
    // flow control, then one pass after another until the run ends, and the final drain.
    void RunOnLine(CommLink& link);
    // One pass: the modem's connect, one engine run, the hang-up and the counts. True when
    // another pass follows (a host run waits for its next sender).
    bool RunPass(CommLink& link, DriverStatus& status, ModemProfile& modem,
                 LineControl& lineControl);
    // One engine run of a pass. False when no engine serves the protocol (a value loaded
    // from saved settings is not brought into range).
    bool RunEngine(CommLink& link, DriverStatus& status);
    // The modem's initialisation from its settings: 0, or the profile's failure.
    [[nodiscard]] int InitializeModem(ModemProfile& modem, CommLink& link);
    // The connect step of a pass; 0, kResultUserCancelled or kResultConnectFailed.
    [[nodiscard]] std::int32_t Connect(ModemProfile& modem, LineControl& line);

    RunSettings settings_;
    RunResult& result_;
    TransferView& view_;
    PortFactory makePort_;
    std::shared_ptr<const ModemSource> modemSource_;
    SettingsBlock* block_;
    StopEvent stop_;
    TransferLog log_;
    std::thread worker_;
    std::atomic<std::uint32_t> activity_;
    std::atomic<int> filesSeen_ = 0;
    std::atomic<int> transferred_ = 0;
    std::atomic<int> helpTopic_ = 0;
};

} // namespace tollan
