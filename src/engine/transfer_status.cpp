#include "engine/transfer_status.h"

namespace tollan {

const char* const kCheckNames[5] = {"Not Determined", "1 Byte Checksum", "2 Byte Checksum",
                                    "16 bit CRC", "32 bit CRC"};

TransferStatus::TransferStatus() = default;
TransferStatus::~TransferStatus() = default;

void TransferStatus::Reset(Direction direction) {
    direction_ = direction;
    fileTime_ = -1;
    fileName_ = "";
    blockNumber_ = 0;
    blockCount_ = 0;
    blockLength_ = 0;
    checkValue_ = 0;
    position_ = 0;
    code_ = 0;
    errorCount_ = 0;
    consecutiveErrors_ = 0;
    systemError_ = 0;
    resumedAt_ = 0;
    partialName_ = "";
    fileCount_ = 0;
    fileSize_ = 0;
}

int TransferStatus::Update(int) {
    return 0;
}
int TransferStatus::UnusedSlot(int) {
    return 0;
}
int TransferStatus::CheckAbort() {
    return 0;
}
int TransferStatus::SecondUnusedSlot(int) {
    return 0;
}

const char* TransferStatus::CheckName() const {
    if (checkType_ < kCheckNotDetermined || checkType_ > kCheckCrc32) {
        return checkNames_[kCheckNotDetermined];
    }
    return checkNames_[checkType_];
}

} // namespace tollan
