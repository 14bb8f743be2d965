// The tollan command: sends or receives files over a serial line with the transfer driver, in
// the habits of sz and rz. The exit status is the result code of the run; a usage error ends
// with 64, a status no result code uses.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/line_port.h"
#include "cli/terminal_view.h"
#include "transfer/ansi_text.h"
#include "transfer/result_code.h"
#include "transfer/transfer_driver.h"

#ifndef TOLLAN_VERSION
#define TOLLAN_VERSION "0"
#endif

namespace tollan {
namespace {

// Where the interrupt thread finds the run to stop. It lives as long as the process.
struct Interrupts {
    std::mutex mutex;
    TransferDriver* driver = nullptr;
    bool interrupted = false;

    void Interrupt() {
        std::lock_guard<std::mutex> lock(mutex);
        interrupted = true;
        if (driver != nullptr) {
            driver->Stop();
        }
    }
    void Attach(TransferDriver* running) {
        std::lock_guard<std::mutex> lock(mutex);
        driver = running;
        if (driver != nullptr && interrupted) {
            driver->Stop();
        }
    }
    bool Interrupted() {
        std::lock_guard<std::mutex> lock(mutex);
        return interrupted;
    }
};

// A message on `stream`, or nowhere when it is null.
template <typename... Values>
void Say(std::FILE* stream, const char* format, Values... values) {
    if (stream != nullptr) {
        std::fprintf(stream, format, values...);
    }
}

// The run ended because its line went away: says so, and what became of the file under way.
void SayLineLost(std::FILE* messages, const CommandLine& command, int error,
                 const std::pair<std::string, long>& file, const std::string& partial) {
    const std::string line =
        command.line == kStdioLine ? "standard input and output" : command.line;
    const std::string reason =
        error > 0 ? std::system_category().message(error) : "its other end closed it";
    Say(messages, "tollan: The line was lost (%s: %s)", line.c_str(), reason.c_str());
    if (file.first.empty()) {
        Say(messages, ".\n");
    } else if (command.run.Transmitting()) {
        Say(messages, " after %ld bytes of %s.\n", file.second, file.first.c_str());
    } else if (!partial.empty()) {
        Say(messages, "; %s is unchanged and the partial file %s is kept (%ld bytes).\n",
            file.first.c_str(), partial.c_str(), file.second);
    } else {
        Say(messages, "; the partial file %s is kept (%ld bytes).\n", file.first.c_str(),
            file.second);
    }
}

// How many files the operands name, when each is a plain file; 0 when a folder or a pattern
// makes the number unknown until the files go.
int PlainFileCount(const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        std::error_code failed;
        if (!std::filesystem::is_regular_file(file, failed)) {
            return 0;
        }
    }
    return static_cast<int>(files.size());
}

// The terminal view, keeping the last file line that did not end well: the run's last word
// names that file and the reason.
class CommandView : public TerminalView {
public:
    using TerminalView::TerminalView;

    void AddFileLine(const FileLine& line) override {
        if (std::string_view(line.status).substr(0, 2) != "OK" && line.name[0] != '\0') {
            std::lock_guard<std::mutex> lock(mutex_);
            failed_ = std::string(line.name) + ": " + line.status;
        }
        TerminalView::AddFileLine(line);
    }
    std::string LastFailedFile() {
        std::lock_guard<std::mutex> lock(mutex_);
        return failed_;
    }

private:
    std::mutex mutex_;
    std::string failed_;
};

Interrupts& ProcessInterrupts() {
    static Interrupts* interrupts = new Interrupts;
    return *interrupts;
}

// A FILE that is no readable file ends the run before the line is touched, and so does one the
// engines' 32-bit positions cannot reach, or a --dir a receiver cannot go into: the result code,
// with the message said; kResultOk when the run may go on.
int CheckBeforeTheLine(const CommandLine& command, std::FILE* messages) {
    if (std::string refused = RefusedFile(command); !refused.empty()) {
        Say(messages, "tollan: %s\n%s\n", refused.c_str(), ResultText(kResultOpenFailed));
        return kResultOpenFailed;
    }
    if (std::string large = FirstTooLargeFile(command); !large.empty()) {
        Say(messages, "tollan: %s: 2 GiB or larger; file offsets on the line are 32 bits\n%s\n",
            large.c_str(), ResultText(kResultOpenFailed));
        return kResultOpenFailed;
    }
    // Received files go into --dir (a host run moves there itself, and back at its end).
    if (!command.run.Transmitting() && !command.run.HostRun()) {
        std::error_code failed;
        std::filesystem::current_path(PathOfText(command.run.defaultDir), failed);
        if (failed) {
            Say(messages, "tollan: %s: %s\n%s\n", command.run.defaultDir.c_str(),
                failed.message().c_str(), ResultText(kResultWriteFailed));
            return kResultWriteFailed;
        }
    }
    return kResultOk;
}

// The messages a run ends with: why it failed, and which file it was at (with the part kept),
// or the last status line of a run that went well.
void SayHowItEnded(std::FILE* messages, const CommandLine& command, CommandView& view,
                   std::int32_t code) {
    if (command.line == kStdioLine && code != kResultOk && code != kResultUserCancelled &&
        StdinAtEnd()) {
        Say(messages, "tollan: end of input on standard input: the other side has gone\n");
    } else if (code == kResultPortOpenFailed) {
        if (std::string problem = LineOpenProblem(command.line); !problem.empty()) {
            Say(messages, "tollan: %s: %s\n", command.line.c_str(), problem.c_str());
        }
    } else if (std::string failed = view.LastFailedFile(); code != kResultOk && !failed.empty()) {
        std::string kept = code == kResultWriteFailed ? "; the part received is kept" : "";
        if (const std::string partial = view.LastPartial(); !partial.empty()) {
            kept = "; " + view.LastFile().first +
                   " is unchanged and the part received is kept in " + partial;
        }
        Say(messages, "tollan: %s%s\n", failed.c_str(), kept.c_str());
    }
    if (code != kResultOk) {
        const char* text = code == kResultModemInitFailed ? "The modem could not be initialised."
                                                          : ResultText(code);
        Say(messages, "tollan: %s\n", text != nullptr ? text : "failed.");
    } else if (!command.quiet) {
        Say(messages, "tollan: %s\n", view.LastStatus().c_str());
    }
}

// The command's result: the run's code, or the failure that ended it (not the engine's cancel
// that followed); a cancel when interrupted before the engine could see it; a host run ended by
// the user went well unless a file failed.
std::int32_t FinalCode(const RunResult& result, std::int32_t ending, bool interrupted,
                       int transferred, bool hostRun) {
    std::int32_t code = result.result & 0xFFFF;
    if (ending != kResultOk && !interrupted) {
        code = ending;
    }
    if (code == kResultOk && interrupted && transferred == 0) {
        code = kResultUserCancelled;
    }
    if (hostRun && code == kResultUserCancelled && interrupted) {
        code = result.firstFailure;
    }
    return code;
}

int Run(int argc, char** argv) {
    CommandLine command;
    std::string error;
    if (!ParseCommandLine(argc, argv, command, error, StdinIsTerminal())) {
        std::fprintf(stderr, "tollan: %s\n%s", error.c_str(), kUsageText);
        return kUsageExitStatus;
    }
    if (command.help || command.version) {
        std::fputs(command.help ? kUsageText : "tollan " TOLLAN_VERSION "\n", stdout);
        return 0;
    }
    if (int refused = CheckCombination(command); refused != 0) {
        std::fprintf(stderr, "%s\n", ValidationMessage(refused));
        return refused;
    }
    // On standard input and output, the data stream is stdout: messages go to stderr, and
    // nowhere when stderr is the same terminal as the line.
    const bool stdio = command.line == kStdioLine;
    std::FILE* messages = stdio && StderrSharesLine() ? nullptr : stderr;
    if (int refused = CheckBeforeTheLine(command, messages); refused != kResultOk) {
        return refused;
    }

    Interrupts& interrupts = ProcessInterrupts();
    WatchInterrupts([&interrupts] { interrupts.Interrupt(); });

    if (!command.notice.empty()) {
        Say(messages, "%s", command.notice.c_str());
    }
    RunResult result;
    // Progress shows wherever stderr is a terminal of its own: also on a stdio line, as a
    // terminal program runs the command with the line on stdin and stdout.
    CommandView view(stdio ? messages : stdout, stderr,
                     !command.quiet && StderrIsTerminal() && messages != nullptr, TerminalColumns);
    if (command.run.Transmitting()) {
        view.SetFileCount(PlainFileCount(command.files));
    }
    std::atomic<int> lineLost{0};
    TransferDriver driver(
        command.run, result, view,
        LinePortFactory(command.line, [&lineLost](int error) { lineLost = error; }), command.block);
    if (command.run.useModem) {
        driver.SetModemSource(CommandModemSource(command.modem, command.run.flowControl));
    }
    // A run that is over waits for its view to be closed; here nobody is there to close it.
    view.OnTransferEnded([&driver] { driver.Stop(); });
    // The failure that ends a run is its result: the engine, stopped because of it, reports a
    // cancel of its own afterwards, which is no cancel of the user's.
    std::int32_t ending = kResultOk;
    view.OnEndOfRun([&ending, &result] {
        if (ending == kResultOk) {
            ending = result.result & 0xFFFF;
        }
    });
    if (!driver.OpenLog()) {
        Say(messages, "tollan: %s\n", TransferLog::kOpenFailedText);
    }
    interrupts.Attach(&driver);
    driver.Start();
    driver.Wait();
    interrupts.Attach(nullptr);

    std::int32_t code = FinalCode(result, ending, interrupts.Interrupted(), driver.Transferred(),
                                  command.run.HostRun());
    const int unconfirmed = (result.result >> 16) & 0xFFFF;
    if (unconfirmed != 0) {
        Say(messages, "tollan: %d file(s) announced but not confirmed\n", unconfirmed);
    }
    // A line that went away is a communications failure, whatever the engine made of it.
    if (code != kResultOk && lineLost != 0 && !interrupts.Interrupted()) {
        code = kResultCommError;
        SayLineLost(messages, command, lineLost, view.LastFile(), view.LastPartial());
        return code;
    }
    SayHowItEnded(messages, command, view, code);
    return code;
}

} // namespace
} // namespace tollan

int main(int argc, char** argv) {
    return tollan::Run(argc, argv);
}
