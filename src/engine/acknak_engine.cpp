#include "engine/acknak_engine.h"

namespace tollan {
namespace {

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kBel = 0x07;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kSub = 0x1A;

constexpr int kNoLimit = 0x7FFFFFFF;
constexpr int kReadMs = 1000;
// Seconds of silence before the receiver repeats its last reply: before the first line, and
// while a transfer is under way.
constexpr int kFirstReplySeconds = 1;
constexpr int kRepeatReplySeconds = 5;

} // namespace

AckNakEngine::AckNakEngine(CommLink* link, TransferStatus* status) : TransferEngine(link, status) {
    status_->protocolId_ = kProtocolIdAckNak;
    status_->checkType_ = kCheckSum8;
}

int AckNakEngine::Prepare() {
    buffer_ = std::make_unique<std::uint8_t[]>(kLineBufferSize);
    readBuffer_.assign(kReadBufferSize, 0);
    return TransferEngine::Prepare();
}

void AckNakEngine::SetOverwrite(Overwrite policy) {
    overwritePolicy_ =
        policy == Overwrite::kAppend || policy == Overwrite::kAlways ? policy : Overwrite::kNever;
}

void AckNakEngine::SetMaxErrors(int n) {
    maxErrors_ = n == 0 ? kNoLimit : n;
}

void AckNakEngine::ProtocolSend(char*) {
    if (!FirstListedFile()) {
        ReportFinal();
        return;
    }
    RunSender();
}

void AckNakEngine::ProtocolReceive(char* fileName) {
    status_->fileName_ = fileName;
    RunReceiver();
}

bool AckNakEngine::OpenFile() {
    fileOpen_ = false;
    status_->position_ = 0;
    const char* name;
    int opened;
    if (status_->direction_ == Direction::kTransmit) {
        name = file_->GetName();
        status_->fileName_ = name;
        opened = file_->Open(name, "rb");
    } else {
        name = status_->fileName_;
        if (overwritePolicy_ == Overwrite::kAppend) {
            opened = file_->Open(name, "ab");
        } else if (overwritePolicy_ == Overwrite::kAlways) {
            opened = file_->Open(name, "wb");
        } else {
            if (FileExists(name)) {
                SetCode(TE_FILE_EXISTS);
                FinishFile();
                return false;
            }
            opened = file_->Open(name, "wb");
        }
    }
    return TakeOpenedFile(opened);
}

// ---- Sender ----

void AckNakEngine::RunSender() {
    status_->errorCount_ = 0;
    endOfFile_ = false;
    readPos_ = kReadBufferSize;
    if (!OpenFile()) {
        ReportFinal();
        return;
    }
    while (Code() == 0 && TakeLine() == Line::kLine) {
        for (;;) {
            if (SendBlock(buffer_.get(), status_->blockLength_) < 0) {
                break;
            }
            const int reply = WaitForReply();
            if (reply > 0) {
                status_->consecutiveErrors_ = 0;
                break;
            }
            if (reply < 0) {
                break;
            }
            if (Code() == 0) {
                ++status_->errorCount_;
                if (status_->errorCount_ >= maxErrors_) {
                    SetCode(TE_TOO_MANY_ERRORS);
                }
            }
            // Refused: the same line again (a send after a stored code fails at once).
        }
    }
    FinishFile();
    ReportFinal();
}

// The next line of the file into the line buffer: its characters without line feeds, the CR
// and the checksum. After the last byte of the file comes a SUB, and a CR right after it.
// position grows by the file bytes the line took.
AckNakEngine::Line AckNakEngine::TakeLine() {
    if (endOfFile_) {
        return Line::kNone;
    }
    int count = 0;
    int taken = 0;
    for (;;) {
        if (readPos_ == kReadBufferSize) {
            const int n = file_->Read(readBuffer_.data(), kReadBufferSize);
            readLength_ = n > 0 ? n : 0;
            if (readLength_ < kReadBufferSize) {
                readBuffer_[readLength_] = kSub;
            }
            readPos_ = 0;
        }
        const int index = readPos_++;
        const std::uint8_t b = readBuffer_[index];
        if (index < readLength_) {
            ++taken;
        }
        if (b == kLf) {
            continue;
        }
        buffer_[count++] = b;
        if (count > kMaxLine) {
            SetCode(TE_LINE_TOO_LONG);
            return Line::kFailed;
        }
        if (b == kSub) {
            endOfFile_ = true;
            readPos_ = index;
            readBuffer_[index] = kCr;
            if (readLength_ > index) {
                readLength_ = index; // the CR is no file byte
            }
            continue;
        }
        if (b == kCr) {
            const std::uint32_t sum =
                checksum_.Compute(buffer_.get(), static_cast<std::size_t>(count), 0);
            status_->checkValue_ = static_cast<std::int32_t>(sum);
            buffer_[count] = static_cast<std::uint8_t>(sum);
            status_->blockLength_ = count + 1;
            status_->position_ += taken;
            return Line::kLine;
        }
    }
}

// 1 for ACK, 0 for a refused line, -1 when the run must stop. Waits as long as the abort check
// allows.
int AckNakEngine::WaitForReply() {
    int c;
    for (;;) {
        c = ReadLinkByte(kReadMs);
        if (c >= 0) {
            break;
        }
        if (Code() != 0 || AbortCheck()) {
            return -1;
        }
    }
    DropInput();
    if (c == kAck) {
        return 1;
    }
    if (c == kBel) {
        SetCode(TE_REMOTE_CANCEL);
        return -1;
    }
    if (c != kNak && ReadLinkByte(kReadMs) >= 0) {
        DrainLine();
    }
    return 0;
}

// ---- Receiver ----

void AckNakEngine::RunReceiver() {
    status_->errorCount_ = 0;
    lastReply_ = kNak;
    endOfFile_ = false;
    if (OpenFile()) {
        while (ReceiveLine()) {
            const int length = status_->blockLength_;
            if (file_->Write(buffer_.get(), length) < length) {
                SetCode(TE_WRITE_FAILED);
                break;
            }
            status_->position_ += length;
            lastReply_ = kAck;
            if (SendByte(kAck) != 0) {
                SetCode(TE_ACK_FAILED);
                break;
            }
            status_->consecutiveErrors_ = 0;
            if (endOfFile_) {
                static_cast<void>(SendByte(kBel)); // the last reply: the run ends either way
                break;
            }
        }
    }
    FinishFile();
    ReportFinal();
}

bool AckNakEngine::SendReply(std::uint8_t reply) {
    lastReply_ = reply;
    if (SendByte(reply) != 0) {
        SetCode(reply == kNak ? TE_NAK_FAILED : TE_ACK_FAILED);
        return false;
    }
    return true;
}

void AckNakEngine::RefuseLine(bool drain) {
    SendReply(kNak);
    if (drain) {
        DrainLine();
    }
    ++status_->errorCount_;
    ++status_->consecutiveErrors_;
}

// One line into the line buffer: its characters, the CR and an LF after it; blockLength is
// what is to be written (nothing of SUB, CR and LF in the last line). False when the run must
// stop.
bool AckNakEngine::ReceiveLine() {
    if (AbortCheck()) {
        return false;
    }
    for (;;) {
        bool complete = false;
        int count = 0;
        int idle = status_->position_ == 0 ? kFirstReplySeconds : kRepeatReplySeconds;
        // A SUB seen in a refused attempt does not end the file.
        endOfFile_ = false;
        while (!complete) {
            const int c = link_->ReadByte(kReadMs);
            if (c == LINK_NO_DATA) {
                if (AbortCheck()) {
                    return false;
                }
                if (--idle == 0) {
                    idle = kRepeatReplySeconds;
                    // A failed send has its code stored, which the next abort check sees.
                    static_cast<void>(SendByte(static_cast<std::uint8_t>(lastReply_)));
                }
                continue;
            }
            if (c < 0) {
                RefuseLine(true);
                break;
            }
            buffer_[count++] = static_cast<std::uint8_t>(c);
            if (c == kSub) {
                endOfFile_ = true;
            }
            if (c == kCr) {
                buffer_[count++] = kLf;
                status_->blockLength_ = count;
                complete = true;
            } else if (count >= kMaxLine) {
                SetCode(TE_LINE_TOO_LONG);
                return false;
            }
        }
        if (complete) {
            const int check = link_->ReadByte(kReadMs);
            if (check < 0) {
                RefuseLine(true);
            } else {
                status_->checkValue_ = check;
                const std::uint32_t sum = checksum_.Compute(
                    buffer_.get(), static_cast<std::size_t>(status_->blockLength_ - 1), 0);
                if (sum != static_cast<std::uint32_t>(check)) {
                    RefuseLine(false);
                } else {
                    if (endOfFile_) {
                        status_->blockLength_ -= 3;
                    }
                    return true;
                }
            }
        }
        if (status_->consecutiveErrors_ >= maxErrors_ && Code() == 0) {
            SetCode(TE_TOO_MANY_ERRORS);
        }
        if (Code() != 0 || AbortCheck()) {
            return false;
        }
    }
}

} // namespace tollan
