// The transfer driver's status record: the engines report through it and poll it. Update turns
// the engine's fields into view updates, one list and log line per file and a result code;
// CheckAbort answers -901 once the stop event is signalled and -909 after the inactivity
// time-out. Both run on the worker thread, very often, and touch the view only when a shown
// value changed.
#pragma once

#include <cstdint>

#include "engine/transfer_status.h"

namespace tollan {

class TransferDriver;

class DriverStatus : public TransferStatus {
public:
    static constexpr int kShownNameLength = 259;

    // `timeoutSeconds` 0 means no inactivity time-out.
    DriverStatus(TransferDriver& driver, bool transmit, bool hostRun, std::int32_t timeoutSeconds);

    int Update(int code) override;
    int CheckAbort() override;

    // The command's habits: a declined file (one that exists, cannot be opened or read) ends
    // only its own line, not the run, and file lines carry the system's reason of a failure
    // and where a resumed file started. Off unless set.
    void SkipDeclined(bool on) { skipDeclined_ = on; }

    // Starts a pass: no file shown, no bytes or errors shown, no line made.
    void StartPass();

    const char* ShownName() const { return shownName_; }

private:
    TransferDriver& driver_;
    bool transmit_;
    bool hostRun_;
    std::int32_t timeoutSeconds_;
    char shownName_[kShownNameLength + 1] = {};
    std::int32_t shownBytes_ = 0;
    std::int32_t shownErrors_ = 0;
    bool logged_ = false;
    bool skipDeclined_ = false;
};

} // namespace tollan
