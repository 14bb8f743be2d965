#include "engine/xmodem_engine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/received_name.h"

namespace tollan {
namespace {

constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kCan = 0x18;
constexpr std::uint8_t kCrcStart = 'C';

constexpr int kBlockSize = 128;
constexpr int kLongBlockSize = 1024;
// A tail longer than this goes in a long block; a shorter one in short blocks, so that padding
// never exceeds what a short block would leave.
constexpr int kLongBlockTail = kLongBlockSize - kBlockSize;
constexpr int kFrameMax = 3 + kLongBlockSize + 2;
constexpr std::uint8_t kCpmEof = 0x1A;
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
    crcMode_ = false;
    status_->checkType_ = kCheckSum8;
}

void XModemBlockEngine::UseCrc() {
    if (crcMode_) {
        return;
    }
    checkCalc_ = &crc16_;
    crcMode_ = true;
    status_->checkType_ = kCheckCrc16;
}

XModemEngine::XModemEngine(CommLink* link, TransferStatus* status) : XModemProtocol(link, status) {
    status_->protocolId_ = kProtocolIdXModem;
    status_->checkType_ = kCheckCrc16;
}

void XModemEngine::SetMaxErrors(int n) {
    maxErrors_ = n == 0 ? kNoLimit : n;
}

void XModemEngine::SetOverwrite(Overwrite option) {
    overwriteAlways_ = option == Overwrite::kAlways;
}

void XModemEngine::SetProtocol(Protocol protocol) {
    if (protocol != Protocol::kXModem && protocol != Protocol::kXModem1K &&
        protocol != Protocol::kYModem) {
        return;
    }
    protocol_ = protocol;
    longBlocks_ = protocol != Protocol::kXModem;
}

void XModemEngine::SetPeerConventions(bool on) {
    peerConventions_ = on;
}

void XModemEngine::ProtocolSend(char* fileList) {
    if (protocol_ == Protocol::kYModem) {
        UseCrc();
        RunBatchSender();
        EndBatch();
        return;
    }
    SendFiles(fileList);
}

void XModemEngine::ProtocolReceive(char* fileName) {
    if (protocol_ == Protocol::kYModem) {
        UseCrc();
        RunBatchReceiver();
        FinishFile();
        EndBatch();
        return;
    }
    ReceiveFile(fileName);
}

int XModemEngine::Prepare() {
    lastControl_ = -1;
    buffer_ = std::make_unique<std::uint8_t[]>(kLongBlockSize + 1);
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

// Ends a batch: one more CAN after a failure; the final report when it failed or moved no file
// (each file that arrived has had its own).
void XModemEngine::EndBatch() {
    if (Code() != 0) {
        static_cast<void>(link_->WriteByte(kCan)); // the run has failed already
    }
    if (status_->fileCount_ == 0 || Code() != 0) {
        ReportFinal();
    }
    status_->fileName_ = "";
}

// Ends both directions: one more CAN after a failure, then the final report.
int XModemEngine::FinalStep() {
    if (Code() != 0) {
        static_cast<void>(link_->WriteByte(kCan)); // the run has failed already
    }
    ReportFinal();
    return Code();
}

bool XModemEngine::OpenFile() {
    fileOpen_ = false;
    status_->position_ = 0;
    int opened;
    if (status_->direction_ == Direction::kReceive) {
        if (FileExists(status_->fileName_) && !overwriteAlways_) {
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
    while (SendUntilAcknowledged(true) && status_->blockLength_ != 0) {
        ReadNextBlock(false);
    }
    FinishFile();
}

bool XModemEngine::SendUntilAcknowledged(bool purge) {
    for (;;) {
        if (!SendCurrentFrame()) {
            return false;
        }
        if (WaitForReply(purge)) {
            status_->consecutiveErrors_ = 0;
            return true;
        }
        if (Code() != 0) {
            return false;
        }
        ++status_->errorCount_;
        if (status_->errorCount_ >= maxErrors_) {
            SetCode(TE_TOO_MANY_ERRORS);
            return false;
        }
    }
}

// Each file: block 0 after the receiver's 'C', then its data after the next 'C', then EOT; at the
// end the empty block 0.
void XModemEngine::RunBatchSender() {
    if (!FirstListedFile()) {
        return;
    }
    do {
        status_->blockCount_ = 1;
        status_->errorCount_ = 0;
        if (!OpenFile()) {
            return;
        }
        BuildHeaderBlock(false);
        if (!WaitForStartChar() || !SendUntilAcknowledged(false)) {
            FinishFile();
            return;
        }
        // An empty file has only its EOT.
        if (!ReadNextBlock(true)) {
            status_->blockLength_ = 0;
        }
        if (!WaitForStartChar()) {
            FinishFile();
            return;
        }
        while (SendUntilAcknowledged(status_->blockLength_ != 0) && status_->blockLength_ != 0) {
            ReadNextBlock(false);
        }
        if (Code() != 0) {
            FinishFile();
            return;
        }
        FinishFile();
        ReportFinal();
        file_->ResetSize();
    } while (file_->NextFile(true));
    BuildHeaderBlock(true);
    if (WaitForStartChar()) {
        SendUntilAcknowledged(true);
    }
}

void XModemEngine::BuildHeaderBlock(bool last) {
    std::memset(buffer_.get(), 0, kLongBlockSize);
    status_->blockNumber_ = 0;
    status_->blockLength_ = kBlockSize;
    if (last) {
        return;
    }
    const char* path = status_->fileName_;
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c) {
        if (*c == '/' || *c == '\\' || *c == ':') {
            name = c + 1;
        } else if (IsLeadByte(*c) && c[1] != '\0') {
            ++c;
        }
    }
    file_->FetchFileTime();
    const std::uint32_t time = file_->GetUnixTime();
    char* text = reinterpret_cast<char*>(buffer_.get());
    const int length = std::snprintf(text, kLongBlockSize, "%s", name);
    const int room = kLongBlockSize - length - 1;
    int details = 0;
    if (room > 0) {
        details =
            std::snprintf(text + length + 1, static_cast<std::size_t>(room), "%ld %lo",
                          static_cast<long>(file_->GetSize()), static_cast<unsigned long>(time));
    }
    if (length + 1 + details >= kBlockSize) {
        status_->blockLength_ = kLongBlockSize;
    }
}

// Fills the buffer with the next block, padded with 0x00 (0x1A in long blocks and with the
// peers' conventions). At the end of the file the first
// read fails; a later one sets blockLength to 0 so that EOT goes next.
bool XModemEngine::ReadNextBlock(bool first) {
    int size = BlockSize();
    if (longBlocks_ &&
        std::int64_t{file_->GetSize()} - std::int64_t{status_->position_} > kLongBlockTail) {
        size = kLongBlockSize;
    }
    status_->blockLength_ = size;
    const int n = file_->Read(buffer_.get(), size);
    if (n <= 0) {
        if (first) {
            return false;
        }
        status_->blockLength_ = 0;
        return true;
    }
    const std::uint8_t padding = longBlocks_ || peerConventions_ ? kCpmEof : 0x00;
    std::memset(buffer_.get() + n, padding, static_cast<std::size_t>(size - n));
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
            // Anything else (a receiver's second ACK, its banner, line noise) is passed over
            // byte by byte: draining until the line falls silent would swallow the start
            // character that follows it.
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
    const int size = status_->blockLength_;
    const std::uint32_t check =
        checkCalc_->Compute(buffer_.get(), static_cast<std::size_t>(size), 0);
    status_->checkValue_ = static_cast<std::int32_t>(check);
    std::uint8_t frame[kFrameMax];
    int length = 0;
    frame[length++] = size == kLongBlockSize ? kStx : kSoh;
    frame[length++] = static_cast<std::uint8_t>(status_->blockNumber_);
    frame[length++] = static_cast<std::uint8_t>(255 - status_->blockNumber_);
    std::memcpy(frame + length, buffer_.get(), static_cast<std::size_t>(size));
    length += size;
    if (crcMode_) {
        frame[length++] = static_cast<std::uint8_t>(check >> 8);
    }
    frame[length++] = static_cast<std::uint8_t>(check);
    return SendBlock(frame, length) >= 0;
}

bool XModemEngine::WaitForReply(bool purge) {
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
    if (c == kAck) {
        if (purge) {
            DropInput();
        }
        return true;
    }
    DropInput();
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
    expectedSize_ = -1;
    discarding_ = false;
    if (!OpenFile()) {
        return;
    }
    ReceiveBlocks(true);
    FinishFile();
}

bool XModemEngine::ReceiveBlocks(bool toggleCheck) {
    int attempts = 1;
    for (;;) {
        if (!SendStartChar()) {
            return false;
        }
        for (;;) {
            const Received r = ReceiveBlock();
            if (r == Received::kData) {
                if (!StoreBlock()) {
                    return false;
                }
                if (SendByte(kAck) != 0) {
                    SetCode(TE_ACK_FAILED);
                    return false;
                }
                status_->consecutiveErrors_ = 0;
                continue;
            }
            if (r == Received::kEot) {
                if (SendByte(kAck) != 0) {
                    SetCode(TE_ACK_FAILED);
                    return false;
                }
                // In a batch an EOT before any data ends an empty file; plain XModem takes it
                // for noise and asks again.
                if (status_->blockCount_ != 1 || !toggleCheck) {
                    return true;
                }
            }
            break;
        }
        if (status_->blockCount_ != 1 || Code() != 0) {
            return false;
        }
        // Nothing received yet: ask again, switching the check mode every five tries.
        if (toggleCheck && ++attempts == kAttemptsPerMode) {
            ToggleCheckMode();
            attempts = 0;
        }
    }
}

bool XModemEngine::StoreBlock() {
    std::int64_t length = status_->blockLength_;
    if (expectedSize_ >= 0) {
        length = std::clamp<std::int64_t>(expectedSize_ - status_->position_, 0, length);
    }
    const auto count = static_cast<std::int32_t>(length);
    if (!discarding_ && count > 0 && file_->Write(buffer_.get(), count) < count) {
        SetCode(TE_WRITE_FAILED);
        return false;
    }
    status_->position_ += count;
    return true;
}

// Each file: block 0 (asked for with 'C'), then its data; a declined file's data is taken and
// dropped, since YModem has no way to refuse a file. The empty block 0 ends the batch.
void XModemEngine::RunBatchReceiver() {
    while (Code() == 0 && TakeHeaderBlock()) {
        status_->blockCount_ = 1;
        const bool ended = ReceiveBlocks(false);
        if (!ended || Code() != 0) {
            return;
        }
        if (discarding_) {
            continue;
        }
        FinishFile();
        ReportFinal();
    }
}

bool XModemEngine::TakeHeaderBlock() {
    status_->errorCount_ = 0;
    status_->consecutiveErrors_ = 0;
    status_->position_ = 0;
    status_->blockCount_ = 0;
    expectedSize_ = -1;
    discarding_ = false;
    Received r = Received::kFailed;
    for (;;) {
        if (!SendStartChar()) {
            return false;
        }
        r = ReceiveBlock();
        if (r == Received::kData) {
            break;
        }
        if (Code() != 0) {
            return false;
        }
        if (r == Received::kEot) {
            // The EOT of the last file again: our ACK was lost.
            if (SendByte(kAck) != 0) {
                SetCode(TE_ACK_FAILED);
                return false;
            }
        }
    }
    const int length = status_->blockLength_;
    buffer_[length] = 0;
    const OfferedFile offer =
        ParseOffer(reinterpret_cast<const char*>(buffer_.get()), static_cast<std::size_t>(length));
    if (offer.name.empty()) {
        // The end of the batch.
        if (SendByte(kAck) != 0) {
            SetCode(TE_ACK_FAILED);
        }
        return false;
    }
    bool taken;
    if (file_->NextFile(false)) {
        taken = std::strlen(file_->GetName()) < sizeof nameArea_;
        std::snprintf(nameArea_, sizeof nameArea_, "%s", file_->GetName());
    } else {
        taken = TakeOfferedName(offer.name, nameArea_, sizeof nameArea_);
    }
    status_->fileName_ = nameArea_;
    status_->fileSize_ = offer.hasSize ? offer.size : 0;
    status_->fileTime_ = offer.hasTime ? offer.time : -1;
    expectedSize_ = offer.hasSize ? offer.size : -1;
    file_->ResetSize();
    int declined = 0;
    if (!taken || offer.sizeTooLarge) {
        declined = TE_FILE_SKIPPED;
    } else {
        if (FileExists(nameArea_) && !overwriteAlways_) {
            declined = TE_FILE_EXISTS;
        }
    }
    if (declined != 0) {
        discarding_ = true;
        status_->Update(declined);
        if (AbortCheck()) {
            return false;
        }
    } else if (!TakeOpenedFile(file_->Open(nameArea_, "wb"))) {
        return false;
    }
    if (SendByte(kAck) != 0) {
        SetCode(TE_ACK_FAILED);
        return false;
    }
    return true;
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
            const bool longBlock = c == kStx && (longBlocks_ || peerConventions_);
            if (c == kSoh || longBlock || OtherStartChar()) {
                status_->blockLength_ = longBlock ? kLongBlockSize : BlockSize();
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
            // The sender missed our ACK: acknowledge again, keep the data once. (A failed send
            // has its code stored, which the next abort check sees.)
            static_cast<void>(SendByte(kAck));
        } else {
            SendStartChar();
        }
        CountReceiveError();
        return false;
    }
    if (checkCalc_->Compute(buffer_.get(), static_cast<std::size_t>(length), 0) !=
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
