#include "engine/xmodem_engine.h"

#include <cstring>
#include <new>

namespace tollan {
namespace {

constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kCan = 0x18;
constexpr std::uint8_t kCrcStart = 'C';

constexpr int kBlockSize = 128;
constexpr int kFrameMax = 3 + kBlockSize + 2;
constexpr int kNoLimit = 0x7FFFFFFF;

constexpr int kReadMs = 1000;        // header, reply, block number and check bytes
constexpr int kDataByteMs = 4000;    // each data byte of a block
constexpr int kStartTries = 10;      // sender: tries per round while waiting for 'C' or NAK
constexpr int kReplyTries = 10;      // sender: tries for ACK or NAK
constexpr int kFirstHeaderTries = 2; // receiver: before the first block
constexpr int kHeaderTries = 10;     // receiver: afterwards
constexpr int kAttemptsPerMode = 5;  // receiver: start characters per check mode

} // namespace

XModemBlockEngine::XModemBlockEngine(CommLink* link, TransferStatus* status)
    : TransferEngine(link, status), checkCalc_(&crc16_) {}

void XModemBlockEngine::UseChecksum() {
    if (!crcMode_) {
        return;
    }
    checkCalc_ = &checksum_;
    crcMode_ = 0;
    status_->checkType_ = kCheckSum8;
}

void XModemBlockEngine::UseCrc() {
    if (crcMode_) {
        return;
    }
    checkCalc_ = &crc16_;
    crcMode_ = 1;
    status_->checkType_ = kCheckCrc16;
}

XModemEngine::XModemEngine(CommLink* link, TransferStatus* status) : XModemProtocol(link, status) {
    buffer_ = new (std::nothrow) std::uint8_t[kBlockSize]();
    status_->protocolId_ = kProtocolIdXModem;
    status_->checkType_ = kCheckCrc16;
}

void XModemEngine::SetMaxErrors(int n) {
    maxErrors_ = n == 0 ? kNoLimit : n;
}

void XModemEngine::SetOverwrite(Overwrite option) {
    overwriteAlways_ = option == Overwrite::kAlways ? 1 : 0;
}

void XModemEngine::ProtocolSend(char* fileList) {
    SendFiles(fileList);
}

void XModemEngine::ProtocolReceive(char* fileName) {
    ReceiveFile(fileName);
}

int XModemEngine::Prepare() {
    lastControl_ = -1;
    return TransferEngine::Prepare();
}

void XModemEngine::ToggleCheckMode() {
    if (crcMode_) {
        UseChecksum();
    } else {
        UseCrc();
    }
}

void XModemEngine::BlockReceived() {}

int XModemEngine::OtherStartChar() {
    return 0;
}

int XModemEngine::SendStartOfBlock() {
    const int r = SendByte(kSoh);
    if (r != 0) {
        SetCode(TE_SEND_TIMEOUT);
    }
    return r;
}

int XModemEngine::BlockSize() {
    return kBlockSize;
}

// Ends both directions: one more CAN after a failure, then the final report.
int XModemEngine::FinalStep() {
    if (Code() != 0) {
        link_->WriteByte(kCan);
    }
    ReportFinal();
    return Code();
}

bool XModemEngine::OpenFile() {
    fileOpen_ = 0;
    status_->position_ = 0;
    int opened;
    if (status_->direction_ == 0) {
        const int exists = FileExists(status_->fileName_);
        if (exists == OUT_OF_MEMORY) {
            SetCode(OUT_OF_MEMORY);
            return false;
        }
        if (exists && !overwriteAlways_) {
            SetCode(TE_FILE_EXISTS);
            FinishFile();
            return false;
        }
        opened = file_->Open(status_->fileName_, "wb");
    } else {
        status_->fileName_ = file_->GetName();
        opened = file_->Open(status_->fileName_, "rb");
    }
    return TakeOpenedFile(opened);
}

// ---- Sender ----

int XModemEngine::SendFiles(char*) {
    UseCrc();
    if (!FirstListedFile()) {
        return FinalStep();
    }
    RunSender();
    return FinalStep();
}

void XModemEngine::RunSender() {
    status_->blockCount_ = 1;
    if (!OpenFile()) {
        return;
    }
    if (!ReadNextBlock(true)) {
        // An empty file is not sent.
        SetCode(TE_READ_FAILED);
        FinishFile();
        return;
    }
    if (!WaitForStartChar()) {
        FinishFile();
        return;
    }
    for (;;) {
        if (!SendCurrentFrame()) {
            break;
        }
        if (!WaitForReply()) {
            if (Code() != 0) {
                break;
            }
            ++status_->errorCount_;
            if (status_->errorCount_ >= maxErrors_) {
                SetCode(TE_TOO_MANY_ERRORS);
                break;
            }
            continue; // the same frame again
        }
        status_->consecutiveErrors_ = 0;
        if (status_->blockLength_ == 0) {
            break; // the EOT was acknowledged
        }
        ReadNextBlock(false);
    }
    FinishFile();
}

// Fills the buffer with the next block, padded with 0x00. At the end of the file the first
// read fails; a later one sets blockLength to 0 so that EOT goes next.
bool XModemEngine::ReadNextBlock(bool first) {
    status_->blockLength_ = BlockSize();
    const int n = file_->Read(buffer_, kBlockSize);
    if (n <= 0) {
        if (first) {
            return false;
        }
        status_->blockLength_ = 0;
        return true;
    }
    std::memset(buffer_ + n, 0x00, static_cast<std::size_t>(kBlockSize - n));
    status_->blockNumber_ = status_->blockCount_ & 0xFF;
    ++status_->blockCount_;
    status_->position_ += n;
    return true;
}

// Waits for 'C' or NAK until the abort check ends the run; silence alone never fails it.
bool XModemEngine::WaitForStartChar() {
    for (;;) {
        for (int tries = 0; tries < kStartTries; ++tries) {
            if (AbortCheck()) {
                return false;
            }
            const int c = ReadLinkByte(kReadMs);
            if (c < 0) {
                if (Code() != 0) {
                    return false;
                }
                continue;
            }
            lastControl_ = c;
            if (c == kCan) {
                SetCode(TE_REMOTE_CANCEL);
                return false;
            }
            if (c == kNak) {
                UseChecksum();
                return true;
            }
            if (c == kCrcStart) {
                UseCrc();
                return true;
            }
            if (!DrainLine()) {
                return false;
            }
        }
    }
}

bool XModemEngine::SendCurrentFrame() {
    if (status_->blockLength_ == 0) {
        if (SendByte(kEot) != 0) {
            SetCode(TE_EOT_FAILED);
            return false;
        }
        return true;
    }
    const std::uint32_t check = checkCalc_->Compute(buffer_, kBlockSize, 0);
    status_->checkValue_ = static_cast<std::int32_t>(check);
    std::uint8_t frame[kFrameMax];
    int length = 0;
    frame[length++] = kSoh;
    frame[length++] = static_cast<std::uint8_t>(status_->blockNumber_);
    frame[length++] = static_cast<std::uint8_t>(255 - status_->blockNumber_);
    std::memcpy(frame + length, buffer_, kBlockSize);
    length += kBlockSize;
    if (crcMode_) {
        frame[length++] = static_cast<std::uint8_t>(check >> 8);
    }
    frame[length++] = static_cast<std::uint8_t>(check);
    return SendBlock(frame, length) >= 0;
}

bool XModemEngine::WaitForReply() {
    while (link_->OutputCount() > 0) {
        if (AbortCheck()) {
            return false;
        }
        const int idle = link_->Idle();
        if (idle < 0) {
            SetCode(idle);
            return false;
        }
    }
    int c = LINK_NO_DATA;
    for (int tries = 0; tries < kReplyTries; ++tries) {
        if (AbortCheck()) {
            return false;
        }
        c = ReadLinkByte(kReadMs);
        if (c >= 0 || Code() != 0) {
            break;
        }
    }
    if (c < 0) {
        return false;
    }
    lastControl_ = c;
    link_->PurgeInput(0);
    if (c == kAck) {
        return true;
    }
    if (c == kCan) {
        SetCode(TE_REMOTE_CANCEL);
    } else if (c != kNak) {
        DrainLine();
    }
    return false;
}

// ---- Receiver ----

int XModemEngine::ReceiveFile(char* name) {
    status_->fileName_ = name;
    UseCrc();
    RunReceiver();
    return FinalStep();
}

void XModemEngine::RunReceiver() {
    status_->errorCount_ = 0;
    status_->blockCount_ = 1;
    int attempts = 1;
    if (!OpenFile()) {
        return;
    }
    for (;;) {
        if (!SendStartChar()) {
            break;
        }
        for (;;) {
            const Received r = ReceiveBlock();
            if (r == Received::kData) {
                const int length = status_->blockLength_;
                if (file_->Write(buffer_, length) < length) {
                    SetCode(TE_WRITE_FAILED);
                    break;
                }
                status_->position_ += length;
                if (SendByte(kAck) != 0) {
                    SetCode(TE_ACK_FAILED);
                    break;
                }
                status_->consecutiveErrors_ = 0;
                continue;
            }
            if (r == Received::kEot && SendByte(kAck) != 0) {
                SetCode(TE_ACK_FAILED);
            }
            break;
        }
        if (status_->blockCount_ != 1 || Code() != 0) {
            break;
        }
        // Nothing received yet: ask again, switching the check mode every five tries.
        if (++attempts == kAttemptsPerMode) {
            ToggleCheckMode();
            attempts = 0;
        }
    }
    FinishFile();
}

// 'C' or NAK (by the check mode) until the first block is in, NAK afterwards.
bool XModemEngine::SendStartChar() {
    const std::uint8_t c = (status_->blockCount_ < 2 && crcMode_) ? kCrcStart : kNak;
    if (SendByte(c) != 0) {
        SetCode(TE_NAK_FAILED);
        return false;
    }
    return true;
}

XModemEngine::Received XModemEngine::ReceiveBlock() {
    if (AbortCheck()) {
        return Received::kFailed;
    }
    for (;;) {
        const int tries = status_->blockCount_ < 2 ? kFirstHeaderTries : kHeaderTries;
        int c = LINK_NO_DATA;
        for (int i = 0; i < tries; ++i) {
            if (i > 0 && AbortCheck()) {
                return Received::kFailed;
            }
            c = ReadLinkByte(kReadMs);
            if (c >= 0) {
                break;
            }
            if (Code() != 0) {
                return Received::kFailed;
            }
        }
        if (c < 0) {
            if (status_->blockCount_ < 2) {
                return Received::kFailed; // the caller sends the start character again
            }
        } else {
            lastControl_ = c;
            if (c == kEot) {
                return Received::kEot;
            }
            if (c == kCan) {
                SetCode(TE_REMOTE_CANCEL);
                return Received::kFailed;
            }
            if (c == kSoh || OtherStartChar()) {
                status_->blockLength_ = BlockSize();
                if (ReadRestOfBlock()) {
                    return Received::kData;
                }
            } else {
                DrainLine();
                ++status_->errorCount_;
                ++status_->consecutiveErrors_;
            }
        }
        if (Code() != 0 || AbortCheck()) {
            return Received::kFailed;
        }
    }
}

void XModemEngine::CountReceiveError() {
    ++status_->errorCount_;
    ++status_->consecutiveErrors_;
    if (status_->consecutiveErrors_ >= maxErrors_ && Code() == 0) {
        SetCode(TE_TOO_MANY_ERRORS);
    }
}

// Block number, its complement, the data and the check, after the header byte. True for a good
// new block; otherwise the sender has been answered and the error counted.
bool XModemEngine::ReadRestOfBlock() {
    const auto garbled = [this] {
        SendStartChar();
        DrainLine();
        CountReceiveError();
        return false;
    };
    const int number = ReadLinkByte(kReadMs);
    if (number < 0) {
        return garbled();
    }
    const int complement = ReadLinkByte(kReadMs);
    if (complement < 0 || number != 255 - complement) {
        return garbled();
    }
    status_->blockNumber_ = number;
    const int length = status_->blockLength_;
    for (int i = 0; i < length; ++i) {
        const int b = ReadLinkByte(kDataByteMs);
        if (b < 0) {
            return garbled();
        }
        buffer_[i] = static_cast<std::uint8_t>(b);
    }
    int check = ReadLinkByte(kReadMs);
    if (check < 0) {
        return garbled();
    }
    if (crcMode_) {
        const int low = ReadLinkByte(kReadMs);
        if (low < 0) {
            return garbled();
        }
        check = (check << 8) | low;
    }
    status_->checkValue_ = check;

    if (number != (status_->blockCount_ & 0xFF)) {
        if (number == ((status_->blockCount_ - 1) & 0xFF)) {
            // The sender missed our ACK: acknowledge again, keep the data once.
            SendByte(kAck);
        } else {
            SendStartChar();
        }
        CountReceiveError();
        return false;
    }
    if (checkCalc_->Compute(buffer_, static_cast<std::size_t>(length), 0) !=
        static_cast<std::uint32_t>(check)) {
        SendStartChar();
        CountReceiveError();
        return false;
    }
    ++status_->blockCount_;
    BlockReceived();
    return true;
}

} // namespace tollan
