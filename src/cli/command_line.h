// The tollan command's arguments: the mode, the line, the options (each sets the settings-block
// field it names, through the block's own clamping) and the FILE operands; and the checks made
// before the line is opened.
#pragma once

#include <string>
#include <vector>

#include "cli/command_modem.h"
#include "transfer/run_settings.h"

namespace tollan {

enum class CommandMode { kNone, kSend, kReceive };

struct CommandLine {
    CommandMode mode = CommandMode::kNone;
    std::string line;               // -l, --line
    std::vector<std::string> files; // FILE operands, as given
    bool quiet = false;             // -q, --quiet
    bool help = false;
    bool version = false;
    bool pairs = false; // --paths pairs: operands alternate sender path and name
    CommandModem modem; // --dial, --answer and the modem's strings
    std::string notice; // what the command says before it runs (a speed that snapped)
    // Filled from the settings block once the arguments are taken.
    SettingsBlock* block = nullptr;
    RunSettings run;
};

// The line that stands for standard input and output.
inline constexpr const char* kStdioLine = "-";

// The status a usage error ends with; no result code uses it.
inline constexpr int kUsageExitStatus = 64;

extern const char* const kUsageText;

// Takes the arguments into `command` and the process's settings block (which starts from the
// command's defaults). False on a usage error, described in `error`. Without --line, a standard
// input that is no terminal is the line.
bool ParseCommandLine(int argc, char** argv, CommandLine& command, std::string& error,
                      bool stdinIsTerminal = true);

// The combinations the component's TransferFiles refuses: 0, or a validation result code (1 to 4;
// its message is ValidationMessage()).
[[nodiscard]] int CheckCombination(const CommandLine& command);

// For a send: "FILE: reason" for the first sender operand that is no readable file (it names
// nothing, a folder, a device, or a file that cannot be read), or an empty text when all are.
// A name that exists is that file; only on Windows, where the command line comes unexpanded, is
// a name that names nothing taken as a pattern.
std::string RefusedFile(const CommandLine& command);

// For a send: the first file the operands name that is 2 GiB or larger (the engines count in
// 32-bit signed positions), or an empty text.
std::string FirstTooLargeFile(const CommandLine& command);

} // namespace tollan
