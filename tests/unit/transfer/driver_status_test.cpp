// The driver's status record driven by hand, as an engine would: which codes make a file's line,
// which end the run, and what the result keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "driver_status.h"
#include "engine_codes.h"
#include "recording_view.h"
#include "transfer_driver.h"

namespace tollan {
namespace {

using test::RecordingView;

class DriverStatusTest : public ::testing::Test {
protected:
    // A driver that never runs: the record is exercised on its own.
    void Make(bool hostRun, bool showErrors = false) {
        RunSettings settings;
        settings.transmit = false;
        settings.hostMode = hostRun;
        result_.showErrors = showErrors ? 1 : 0;
        driver_ = std::make_unique<TransferDriver>(settings, result_, view_, nullptr);
        status_ = std::make_unique<DriverStatus>(*driver_, false, hostRun, 0);
        status_->Reset(0);
        status_->StartPass();
    }
    // The engine moves on to `name` and reports `bytes` of it.
    void Progress(const char* name, std::int32_t bytes) {
        status_->fileName_ = name;
        status_->position_ = bytes;
        status_->Update(TE_OK);
    }

    RunResult result_;
    RecordingView view_;
    std::unique_ptr<TransferDriver> driver_;
    std::unique_ptr<DriverStatus> status_;
};

TEST_F(DriverStatusTest, FirstCodeOfAFileDecidesItsOnlyLine) {
    Make(false);
    Progress("a.txt", 256);
    status_->Update(TE_TOO_MANY_ERRORS);
    // The abort checks and the final report repeat the code; a later code changes the result.
    status_->Update(TE_TOO_MANY_ERRORS);
    status_->Update(TE_REMOTE_CANCEL);

    auto lines = view_.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].name, "a.txt");
    EXPECT_EQ(lines[0].status, "Error count exceeded.");
    EXPECT_EQ(lines[0].bytes, 256);
    EXPECT_EQ(result_.result, kResultRemoteCancelled);
    EXPECT_EQ(driver_->HelpTopic(), kResultRemoteCancelled + 12);
    EXPECT_EQ(view_.Statuses().back(), "Cancelled by remote.");
    EXPECT_EQ(view_.Announced(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(driver_->FilesSeen(), 1);
}

TEST_F(DriverStatusTest, AnErrorEndsARunThatIsNotToStayOpen) {
    Make(false);
    Progress("a.txt", 10);
    EXPECT_EQ(status_->CheckAbort(), 0);
    status_->Update(TE_WRITE_FAILED);
    EXPECT_TRUE(driver_->StopSignal().IsSignalled());
    ASSERT_FALSE(view_.EndOfRuns().empty());
    EXPECT_FALSE(view_.EndOfRuns().front());
    // From now on the engine is told to stop.
    EXPECT_EQ(status_->CheckAbort(), TE_USER_CANCEL);
}

TEST_F(DriverStatusTest, WithShowErrorsTheRunWaitsForTheUser) {
    Make(false, true);
    Progress("a.txt", 10);
    status_->Update(TE_TIMEOUT);
    EXPECT_FALSE(driver_->StopSignal().IsSignalled());
    ASSERT_FALSE(view_.EndOfRuns().empty());
    EXPECT_TRUE(view_.EndOfRuns().front());
    EXPECT_EQ(result_.result, kResultTimeout);
}

TEST_F(DriverStatusTest, CompletedFilesAreOkAndAnEarlierErrorStays) {
    Make(true);
    Progress("one", 128);
    status_->Update(TE_FILE_EXISTS);
    Progress("two", 300);
    status_->Update(TE_DONE);
    Progress("three", 0);
    status_->Update(TE_FILE_SKIPPED);

    auto lines = view_.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].status, "File already exists.");
    EXPECT_EQ(lines[1].status, "OK");
    EXPECT_EQ(lines[1].bytes, 300);
    EXPECT_EQ(lines[2].status, "File skipped.");
    EXPECT_EQ(result_.result, kResultFileExists);
    // In a host run an error does not end the run.
    EXPECT_TRUE(view_.EndOfRuns().empty());
    EXPECT_FALSE(driver_->StopSignal().IsSignalled());
    EXPECT_EQ(driver_->FilesSeen(), 3);
}

TEST(DriverStatus, CancelAndLackOfMemoryEndEvenAHostRun) {
    for (int code : {TE_USER_CANCEL, TE_NO_BUFFER}) {
        SCOPED_TRACE(code);
        RunSettings settings;
        settings.transmit = false;
        settings.hostMode = true;
        RunResult result;
        RecordingView view;
        TransferDriver driver(settings, result, view, nullptr);
        DriverStatus status(driver, false, true, 0);
        status.Reset(0);
        status.fileName_ = "x";
        status.Update(code);
        EXPECT_EQ(view.EndOfRuns().size(), 1u);
        EXPECT_TRUE(driver.StopSignal().IsSignalled());
    }
}

TEST_F(DriverStatusTest, ASkippedFileDoesNotEndARun) {
    Make(false);
    Progress("x", 0);
    status_->Update(TE_FILE_SKIPPED);
    EXPECT_TRUE(view_.EndOfRuns().empty());
    EXPECT_EQ(result_.result, kResultOk);
    EXPECT_EQ(view_.Statuses().back(), "File skipped.");
}

TEST_F(DriverStatusTest, ProgressShowsOnlyWhatChanged) {
    Make(false);
    Progress("f", 0);
    Progress("f", 128);
    Progress("f", 128);
    Progress("f", 256);
    // "Receiving file..." once, when the first bytes arrive.
    auto statuses = view_.Statuses();
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Receiving file..."), 1);
    EXPECT_EQ(view_.Announced().size(), 1u);
    // A new pass forgets the shown file: the same name is announced again.
    status_->StartPass();
    Progress("f", 0);
    EXPECT_EQ(view_.Announced().size(), 2u);
}

TEST_F(DriverStatusTest, StopRequestIsSeenByTheAbortPoll) {
    Make(false);
    EXPECT_EQ(status_->CheckAbort(), 0);
    driver_->Stop();
    EXPECT_EQ(status_->CheckAbort(), TE_USER_CANCEL);
}

} // namespace
} // namespace tollan
