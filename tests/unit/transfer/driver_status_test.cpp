// The driver's status record driven by hand, as an engine would: which codes make a file's line,
// which end the run, and what the result keeps.
#include <gtest/gtest.h>

#include <cerrno>
#include <system_error>

#include "engine/engine_codes.h"
#include "recording_view.h"
#include "transfer/driver_status.h"
#include "transfer/transfer_driver.h"

namespace tollan {
namespace {

// A driver that never runs, and its record.
struct Record {
    explicit Record(bool hostRun, bool showErrors = false) : settings(Receiving(hostRun)) {
        result.showErrors = showErrors ? 1 : 0;
        status.Reset(0);
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
    record.Report("a.txt", 256, TE_OK);
    record.Report("a.txt", 256, TE_TOO_MANY_ERRORS);
    // The abort checks and the final report repeat the code; a later code changes the result.
    record.status.Update(TE_TOO_MANY_ERRORS);
    record.status.Update(TE_REMOTE_CANCEL);

    ASSERT_EQ(record.view.lines.size(), 1u);
    EXPECT_EQ(record.view.lines[0].name, "a.txt");
    EXPECT_EQ(record.view.lines[0].status, "Error count exceeded.");
    EXPECT_EQ(record.view.lines[0].bytes, 256);
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
    EXPECT_EQ(record.view.lines[1].status, "OK");
    EXPECT_EQ(record.view.lines[1].bytes, 300);
    EXPECT_EQ(record.result.result, kResultFileExists);
    EXPECT_EQ(record.driver.FilesSeen(), 3);
}

// With the command's habits a line carries the system's reason of a failure and where a resumed
// file started; without them (the component) the words stay the result's.
TEST(DriverStatus, CommandLinesCarryReasonsAndResumePoints) {
    for (const bool command : {true, false}) {
        Record record(false);
        record.status.SkipDeclined(command);
        record.status.systemError_ = EACCES;
        record.Report("locked", 0, TE_OPEN_FAILED);
        record.status.systemError_ = 0;
        record.status.resumedAt_ = 1000;
        record.Report("big", 5000, TE_DONE);
        ASSERT_EQ(record.view.lines.size(), 2u);
        EXPECT_EQ(record.view.lines[0].status,
                  command ? "Unable to open file. (" + std::generic_category().message(EACCES) + ")"
                          : "Unable to open file.");
        EXPECT_EQ(record.view.lines[1].status, command ? "OK, resumed at 1000 bytes" : "OK");
    }
}

} // namespace
} // namespace tollan
