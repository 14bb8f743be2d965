// Which engine codes each result code collects, with the texts the status line shows; then the
// driver's status record driven by hand, as an engine would: which codes make a file's line, which
// end the run, and what the result keeps.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "engine/engine_codes.h"
#include "engine/file_access.h"
#include "link/link_codes.h"
#include "recording_view.h"
#include "transfer/driver_status.h"
#include "transfer/result_code.h"
#include "transfer/transfer_driver.h"

namespace tollan {
namespace {

TEST(ResultCode, EngineCodesMapToTheirResultAndText) {
    struct Case {
        std::vector<int> engine;
        std::int32_t result;
        const char* text; // nullptr: none
    };
    const Case cases[] = {
        {{TE_DONE}, 0, nullptr},
        {{TE_FILE_SKIPPED}, 0, "File skipped."},
        {{TE_TIMEOUT}, 5, "Timeout."},
        {{TE_USER_CANCEL}, 6, "User cancelled."},
        {{OUT_OF_MEMORY, TE_NO_FILE_OBJECT, TE_NO_BUFFER}, 7, "Out of memory."},
        {{TE_NO_FILES_SENT}, 8, "No files sent."},
        {{TE_BAD_CRC32, TE_BAD_CRC16}, 9, "Bad CRC value."},
        {{TE_LINE_TOO_LONG}, 10, "Line too long."},
        {{TE_OPEN_FAILED}, 11, "Unable to open file."},
        {{TE_WRITE_FAILED}, 12, "Unable to write to file."},
        {{TE_READ_FAILED}, 13, "Unable to read from file."},
        {{TE_FILE_EXISTS}, 14, "File already exists."},
        {{TE_BAD_HEADER, TE_SEND_TIMEOUT, TE_SEND_BYTE_TIMEOUT, TE_ACK_FAILED, TE_NAK_FAILED,
          TE_EOT_FAILED, LINK_LINE_LOST},
         15,
         "General communications error."},
        {{TE_REMOTE_CANCEL}, 16, "Cancelled by remote."},
        {{TE_TOO_MANY_ERRORS, TE_HANDSHAKE_ERRORS}, 17, "Error count exceeded."},
        // Everything else is unknown, the link's other codes included.
        {{TE_NO_FILE, TE_CARRIER_LOST, LINK_NO_DATA, LINK_WRITE_SHORT, -1}, 19, "Unknown Error."},
    };
    for (const Case& c : cases) {
        for (const int engine : c.engine) {
            SCOPED_TRACE(engine);
            EXPECT_EQ(ResultOfEngineCode(engine), c.result);
            const char* text = TextOfEngineCode(engine);
            EXPECT_EQ(text != nullptr ? std::string(text) : "(none)", c.text ? c.text : "(none)");
        }
    }
    // The refusals before a run, as their message boxes show them.
    EXPECT_STREQ(ValidationMessage(1),
                 "XON/XOFF flow control is only\nallowed with Z-Modem protocol.");
    EXPECT_STREQ(ValidationMessage(2), "Host mode is only allowed\nwith Z-Modem protocol.");
    EXPECT_STREQ(ValidationMessage(3), "At least one filename\nis required.");
    EXPECT_STREQ(ValidationMessage(4), "A new path/filename for\nthe receiver is missing.");
    EXPECT_EQ(ValidationMessage(5), nullptr);
    // The count of failed files in the high half does not change the text.
    EXPECT_STREQ(ResultText((2 << 16) | kResultTimeout), "Timeout.");
    EXPECT_EQ(ResultText(kResultOk), nullptr);
}

// A driver that never runs, and its record.
struct Record {
    explicit Record(bool hostRun, bool showErrors = false) : settings(Receiving(hostRun)) {
        result.showErrors = showErrors ? 1 : 0;
        status.Reset(Direction::kReceive);
        status.StartPass();
    }
    // The engine moves on to `name`, reports `bytes` of it, then `code`.
    void Report(const char* name, std::int32_t bytes, int code) {
        status.fileName_ = name;
        status.position_ = bytes;
        status.Update(code);
    }

    static RunSettings Receiving(bool hostRun) {
        RunSettings settings;
        settings.direction = Direction::kReceive;
        settings.hostMode = hostRun;
        return settings;
    }

    RunSettings settings;
    RunResult result;
    test::RecordingView view;
    TransferDriver driver{settings, result, view, nullptr};
    DriverStatus status{driver, false, settings.hostMode, 0};
};

TEST(DriverStatus, FirstCodeOfAFileDecidesItsOnlyLine) {
    Record record(false);
    record.status.systemError_ = EACCES; // only the command's lines carry the system's reason
    record.Report("a.txt", 256, TE_OK);
    record.Report("a.txt", 256, TE_TOO_MANY_ERRORS);
    // The abort checks and the final report repeat the code; a later code changes the result.
    record.status.Update(TE_TOO_MANY_ERRORS);
    record.status.Update(TE_REMOTE_CANCEL);

    EXPECT_EQ(record.view.lines, std::vector<std::string>{"a.txt | Error count exceeded. | 256"});
    EXPECT_EQ(record.result.result, kResultRemoteCancelled);
    EXPECT_EQ(record.view.statuses.back(), "Cancelled by remote.");
}

TEST(DriverStatus, WhichCodesEndTheRun) {
    struct Case {
        bool hostRun;
        bool showErrors;
        int code;
        bool endOfRun; // the end-of-run notification ran
        bool stopped;  // ... and signalled the stop event
        std::int32_t result;
        bool skipDeclined = false; // the command's habit
    };
    const Case cases[] = {
        // Outside a host run every error ends it; the user may be left to close it.
        {false, false, TE_WRITE_FAILED, true, true, kResultWriteFailed},
        {false, true, TE_TIMEOUT, true, false, kResultTimeout},
        {false, false, TE_FILE_SKIPPED, false, false, kResultOk},
        // In a host run only a cancel and a lack of memory do.
        {true, false, TE_FILE_EXISTS, false, false, kResultFileExists},
        {true, false, TE_USER_CANCEL, true, true, kResultUserCancelled},
        {true, false, TE_NO_BUFFER, true, true, kResultOutOfMemory},
        // The command skips a declined file and goes on; other failures still end the run.
        {false, false, TE_FILE_EXISTS, false, false, kResultFileExists, true},
        {false, false, TE_OPEN_FAILED, false, false, kResultOpenFailed, true},
        {false, false, TE_WRITE_FAILED, true, true, kResultWriteFailed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Record record(c.hostRun, c.showErrors);
        record.status.SkipDeclined(c.skipDeclined);
        record.Report("x", 10, c.code);
        EXPECT_EQ(record.view.endOfRuns.size(), c.endOfRun ? 1u : 0u);
        if (c.endOfRun) {
            EXPECT_EQ(record.view.endOfRuns[0], c.showErrors);
        }
        EXPECT_EQ(record.driver.StopSignal().IsSignalled(), c.stopped);
        EXPECT_EQ(record.result.result, c.result);
        // Once the stop event is signalled the engine is told to stop.
        EXPECT_EQ(record.status.CheckAbort(), c.stopped ? TE_USER_CANCEL : 0);
    }
}

TEST(DriverStatus, HostRunKeepsAnEarlierErrorAndGoesOn) {
    Record record(true);
    record.Report("one", 128, TE_FILE_EXISTS);
    record.Report("two", 300, TE_DONE);
    record.Report("three", 0, TE_FILE_SKIPPED);
    ASSERT_EQ(record.view.lines.size(), 3u);
    EXPECT_EQ(record.view.lines[1], "two | OK | 300");
    EXPECT_EQ(record.result.result, kResultFileExists);
    EXPECT_EQ(record.driver.FilesSeen(), 3);
}

} // namespace
} // namespace tollan
