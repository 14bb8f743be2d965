// Result codes of a transfer: what a run (or the checks before it) ends with, the text each shows
// on the status line, and how the engines' negative codes map onto them. A result is 32 bits: the
// code in the low 16, and after a batch send the count of files announced but never confirmed in
// the high 16. The help topic of a code is the code plus 12.
//
// Fixed numbers: hosts test for these values, and help files and scripts written for them name
// them, so a code never changes its number and a new failure takes a new number after the last.
#pragma once

#include <cstdint>

namespace tollan {

enum ResultCode : std::int32_t {
    kResultOk = 0,
    kResultXonXoffNeedsZModem = 1,
    kResultHostNeedsZModem = 2,
    kResultNoFileName = 3,
    kResultNoReceiverName = 4,
    kResultTimeout = 5,
    kResultUserCancelled = 6,
    kResultOutOfMemory = 7,
    kResultNoFilesSent = 8,
    kResultBadCrc = 9,
    kResultLineTooLong = 10,
    kResultOpenFailed = 11,
    kResultWriteFailed = 12,
    kResultReadFailed = 13,
    kResultFileExists = 14,
    kResultCommError = 15,
    kResultRemoteCancelled = 16,
    kResultTooManyErrors = 17,
    kResultPortOpenFailed = 18,
    kResultUnknownError = 19,
    kResultConnectFailed = 20,
    kResultModemInitFailed = 21,
    // A ZModem sender facing an XModem or YModem receiver.
    kResultXModemReceiver = 22,
    // A ZModem sender asked the receiver to run a command.
    kResultCommandRefused = 23,
};

// The record one transfer shares between its starter, its view and its worker thread.
struct RunResult {
    std::int32_t result = 0;     // the result code (and failed-file count in the high half)
    std::int32_t showErrors = 0; // keep the view open after a failed run
    std::int32_t hostRun = 0;    // receiving one sender after another
    // The first failure of the run other than a cancel (0: none), which a host run, ended by
    // the user, reports.
    std::int32_t firstFailure = 0;
};

inline constexpr int kHelpTopicOffset = 12;
inline int HelpTopicOf(std::int32_t result) {
    return (result & 0xFFFF) + kHelpTopicOffset;
}

// The status text of a result code (low 16 bits); null for 0 and for codes that have none.
const char* ResultText(std::int32_t result);

// The message of a check that refuses a combination of settings (codes 1 to 4); lines are broken
// with "\n". Null for other codes.
const char* ValidationMessage(std::int32_t result);

// An engine's code mapped to a result code: 0 for 0, for TE_DONE and for TE_FILE_SKIPPED (which
// carry no result), kResultUnknownError for codes without a result of their own.
[[nodiscard]] std::int32_t ResultOfEngineCode(int engineCode);

// The text an engine's code shows: the result text, "File skipped." for TE_FILE_SKIPPED, null for
// 0 and TE_DONE.
const char* TextOfEngineCode(int engineCode);

} // namespace tollan
