#include "transfer/driver_status.h"

#include <cstdio>
#include <cstring>
#include <system_error>

#include "engine/engine_codes.h"
#include "transfer/result_code.h"
#include "transfer/transfer_driver.h"

namespace tollan {

DriverStatus::DriverStatus(TransferDriver& driver, bool transmit, bool hostRun,
                           std::int32_t timeoutSeconds)
    : driver_(driver), transmit_(transmit), hostRun_(hostRun), timeoutSeconds_(timeoutSeconds) {}

void DriverStatus::StartPass() {
    shownName_[0] = '\0';
    shownBytes_ = 0;
    shownErrors_ = 0;
    logged_ = false;
}

int DriverStatus::Update(int code) {
    const char* name = fileName_ != nullptr ? fileName_ : "";
    if (std::strncmp(name, shownName_, kShownNameLength) != 0) {
        std::strncpy(shownName_, name, kShownNameLength);
        shownName_[kShownNameLength] = '\0';
        if (shownName_[0] != '\0') {
            driver_.AnnounceFile(shownName_, fileSize_);
        }
        logged_ = false;
    }
    if (position_ != shownBytes_) {
        if (shownBytes_ == 0) {
            driver_.ShowStatus("%s file...", transmit_ ? "Sending" : "Receiving");
        }
        shownBytes_ = position_;
        driver_.TouchActivityClock();
        driver_.ShowProgress(position_, fileSize_);
    }
    if (errorCount_ != shownErrors_) {
        shownErrors_ = errorCount_;
        driver_.ShowErrorCount(errorCount_);
    }
    if (code == TE_OK) {
        return 0;
    }

    // Outside a host run every error ends the run; in a host run only a cancel or a lack of
    // memory does, and a skipped file never.
    bool endRun = !hostRun_;
    std::int32_t result = ResultOfEngineCode(code);
    if (result == kResultUserCancelled || result == kResultOutOfMemory) {
        endRun = true;
    } else if (code == TE_FILE_SKIPPED ||
               (skipDeclined_ && (code == TE_FILE_EXISTS || code == TE_OPEN_FAILED))) {
        endRun = false;
    }
    if (code != TE_DONE && code != TE_FILE_SKIPPED) {
        driver_.SetResultCode(result);
    }
    const char* text = TextOfEngineCode(code);

    // The first code reported for a file decides its line; later ones only change the result
    // and the status line.
    if (!logged_) {
        logged_ = true;
        char words[160];
        const char* status = code == TE_DONE ? "OK" : text;
        if (skipDeclined_ && code != TE_DONE && systemError_ != 0) {
            std::snprintf(words, sizeof words, "%s (%s)", text,
                          std::generic_category().message(systemError_).c_str());
            status = words;
        } else if (skipDeclined_ && code == TE_DONE && resumedAt_ != 0) {
            std::snprintf(words, sizeof words, "OK, resumed at %ld bytes",
                          static_cast<long>(resumedAt_));
            status = words;
        }
        driver_.AddFileLine(shownName_, status, shownBytes_);
        if (partialName_[0] != '\0') {
            driver_.PartialKept(partialName_);
        }
        shownBytes_ = 0;
        shownErrors_ = 0;
    }
    if (code == TE_DONE) {
        return 0;
    }
    driver_.ShowStatus("%s", text);
    if (endRun) {
        driver_.EndOfRunNotification();
    }
    return 0;
}

int DriverStatus::CheckAbort() {
    return driver_.AbortPoll(timeoutSeconds_);
}

} // namespace tollan
