// The ZModem sender: one batch of files. ZRQINIT until the receiver's ZRINIT, then per file a
// ZFILE offer, data from the position the receiver asks for (streamed or in windows, adapting to
// noise on the back channel), ZEOF until the next ZRINIT, and at the end ZFIN and "OO".
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "engine/zmodem_engine.h"
#include "link/tick_count.h"

namespace tollan {
namespace {

constexpr int kBackChannelTimeoutMs = 70;
constexpr int kEofReplySliceMs = 100; // between looks for a cancel while ZEOF waits for its reply
constexpr int kTopErrorLevel = 10;
constexpr int kNoisyErrorLevel = 3; // what bytes on the back channel raise the level to
constexpr int kAckEachLevel = 4;    // from here every subpacket waits for a ZACK
constexpr unsigned kHalfDuplexWindow = 4096;
// After a ZRPOS the line has lost data. Until this much more has gone through without one, the
// data goes in windows of at most kNoisyWindow bytes (each acknowledged before the next), so
// that a further loss wastes at most a window instead of all a stream has on its way; and when
// two losses came within kCloseLosses bytes, in subpackets of kShortPacket bytes, which an error
// hits less often.
constexpr std::int32_t kNoisyStretch = 65536;
constexpr unsigned kNoisyWindow = 2048;
constexpr std::int32_t kCloseLosses = 8192;
constexpr unsigned kShortPacket = 256;
constexpr unsigned kShortWindow = 512;
// How long an answer may take there before the sender goes on without it: a second, and the
// time the window's bytes take at 9600 bit/s.
constexpr std::uint32_t kReplyWaitMs = 1000;
constexpr std::uint32_t kReplyWaitPerByteUs = 1042;
constexpr int kDamagedReplySilenceMs = 300;
constexpr int kNoConversion = 0x41; // ZF0 of an offer without the resume request
constexpr int kLostOfferMs = 3000;  // silence after a ZRINIT that means the offer was lost
constexpr int kNoReply = -1;        // a run that ended without a reply due
constexpr int kCancelCans = 5;

const std::uint8_t kZero[4] = {0, 0, 0, 0};

} // namespace

void ZModemEngine::ProtocolSend(char* fileList) {
    status_->fileTime_ = -1;
    CountBatch(fileList);
    if (OpenBatch() && PrepareNextFile()) {
        for (;;) {
            if (OfferFile()) {
                SendFileData();
            }
            ReportFinal();
            if (Code() == TE_FILE_SKIPPED) {
                SetCode(0);
            }
            if (Code() < 0) {
                break;
            }
            if (fileOpen_) {
                file_->Close();
                fileOpen_ = 0;
            }
            if (!PrepareNextFile()) {
                break;
            }
        }
    }
    if (Code() >= 0) {
        EndBatch();
    }
    FinishFile();
    if (Code() == 0 && status_->fileCount_ == 0) {
        SetCode(TE_NO_FILES_SENT);
    }
    ReportFinal();
}

bool ZModemEngine::OpenBatch() {
    // An XModem receiver repeats its start character every few seconds (rb every 11 s): they are
    // counted over the searches.
    startChars_ = watchStartChars_ ? 0 : -1;
    struct StopCounting {
        int& count;
        ~StopCounting() { count = -1; }
    } stop{startChars_};
    for (;;) {
        if (SendHexHeader(ZRQINIT, kZero) < 0) {
            return false;
        }
        // Each search that finds no answer (its silence, or garbage) sends the ZRQINIT again,
        // for a receiver started after it went.
        const int type = ReadHeader(1);
        const bool xmodemReceiver = startChars_ >= kStartCharsSeen;
        if (type == ZRINIT) {
            break;
        }
        if (Code() < 0) {
            return false;
        }
        if (xmodemReceiver) {
            SetCode(TE_XMODEM_RECEIVER);
            return false;
        }
        if (type < 0) {
            continue; // counted by the search
        }
        if (type == ZABORT || type == ZFERR) {
            SetCode(TE_REMOTE_CANCEL);
            return false;
        }
        if (type == ZCHALLENGE) {
            SendHexHeader(ZACK, headerData_);
        }
        ++status_->errorCount_;
        if (++status_->consecutiveErrors_ > maxErrors_) {
            SetCode(TE_HANDSHAKE_ERRORS);
        }
        if (Code() < 0) {
            return false;
        }
    }
    const unsigned bufferSize = headerData_[ZP0] + 256u * headerData_[ZP1];
    peerFlags_ = headerData_[ZF0];
    if (bufferSize != 0 && (windowSize_ == 0 || static_cast<unsigned>(windowSize_) >= bufferSize)) {
        window_ = bufferSize;
    } else {
        window_ = static_cast<unsigned>(windowSize_);
    }
    if (!(peerFlags_ & CANFDX) && window_ == 0) {
        window_ = kHalfDuplexWindow;
    }
    status_->checkType_ = (peerFlags_ & CANFC32) ? kCheckCrc32 : kCheckCrc16;
    return true;
}

// The files and bytes of the whole batch, which each offer announces as still to come so that a
// receiver can show the batch's progress. A list that cannot be walked a second time leaves both
// at 0 (unknown).
void ZModemEngine::CountBatch(const char* list) {
    filesLeft_ = 0;
    bytesLeft_ = 0;
    if (list == nullptr) {
        return;
    }
    const std::size_t length = std::strlen(list) + 1;
    std::unique_ptr<char[]> copy(new (std::nothrow) char[length]);
    std::unique_ptr<FileAccess> files(CreateFileAccess());
    if (!copy || !files) {
        return;
    }
    std::memcpy(copy.get(), list, length);
    if (files->Init(copy.get(), 0) != 0) {
        return;
    }
    while (files->NextFile(true)) {
        if (files->Open(files->GetName(), "rb") == 0) {
            bytesLeft_ += files->GetSize();
            files->Close();
        }
        files->ResetSize();
        ++filesLeft_;
        if (pathMode_ == 2) {
            files->NextFile(false);
        }
    }
}

bool ZModemEngine::PrepareNextFile() {
    for (;;) {
        file_->ResetSize();
        if (!file_->NextFile(true)) {
            return false;
        }
        status_->fileName_ = file_->GetName();
        status_->position_ = 0;
        status_->errorCount_ = 0;
        status_->consecutiveErrors_ = 0;
        status_->systemError_ = 0;
        filePosition_ = -1;
        if (file_->Open(file_->GetName(), "rb") == 0) {
            break;
        }
        status_->systemError_ = file_->LastError();
        SetCode(TE_OPEN_FAILED);
        if (!skipDeclined_) {
            FinishFile();
            return false;
        }
        // A file that cannot be read is passed over, the batch goes on.
        status_->Update(TE_OPEN_FAILED);
        SetCode(0);
        if (AbortCheck()) {
            return false;
        }
        if (pathMode_ == 2) {
            file_->NextFile(false); // its receiver name
        }
    }
    fileOpen_ = 1;
    status_->fileSize_ = file_->GetSize();
    if (!AbortCheck()) {
        SetCode(0);
    }
    file_->FetchFileTime();
    sendTime_ = static_cast<std::int32_t>(file_->GetUnixTime());

    const char* name = status_->fileName_;
    if (pathMode_ == 0) {
        // Without drive and directories, whichever separator the list used.
        name = StripPath(status_->fileName_);
        if (const char* slash = std::strrchr(name, '/')) {
            name = slash + 1;
        }
    } else if (pathMode_ == 2) {
        // The list pairs names: keep the file's own name for the record, send the next item.
        std::snprintf(nameArea_, sizeof nameArea_, "%s", status_->fileName_);
        status_->fileName_ = nameArea_;
        name = file_->NextFile(false) ? file_->GetName() : StripPath(nameArea_);
    }
    // The mode in octal as a regular file's, where the platform has permission bits; 0 otherwise.
    // Then the serial number (none) and the files and bytes still to come, this one included.
    const std::uint32_t permissions = file_->PermissionBits();
    const unsigned long mode = permissions != 0 ? 0100000u | permissions : 0;
    const int length = std::snprintf(
        reinterpret_cast<char*>(buffer_), kDataSize, "%s%c%ld %lo %lo 0 %d %lld", name, 0,
        static_cast<long>(status_->fileSize_), static_cast<unsigned long>(sendTime_), mode,
        std::max(filesLeft_, 1), std::max<long long>(bytesLeft_, status_->fileSize_));
    status_->blockLength_ = std::min(length, kDataSize - 1);
    filesLeft_ = std::max(filesLeft_ - 1, 0);
    bytesLeft_ = std::max<long long>(bytesLeft_ - status_->fileSize_, 0);
    return true;
}

bool ZModemEngine::OfferFile() {
    std::uint8_t data[4] = {0, 0, 0, 0};
    data[ZF0] = static_cast<std::uint8_t>(crashRecovery_ == 3 ? ZCRESUM : kNoConversion);
    data[ZF1] = static_cast<std::uint8_t>(management_);
    const int infoLength = status_->blockLength_;
    const auto sendOffer = [&] {
        if (SendBinHeader(ZFILE, data) >= 0) {
            SendData(infoLength, ZCRCW);
        }
        return Code() >= 0;
    };
    if (!sendOffer()) {
        return false;
    }
    for (;;) {
        const int type = ReadHeader(0);
        if (Code() < 0) {
            return false;
        }
        switch (type) {
        case ZACK:
        case ZCOMPL:
            continue;
        case ZSKIP:
            SetCode(TE_FILE_SKIPPED);
            return false;
        case ZNAK:
            if (!sendOffer()) {
                return false;
            }
            break;
        case ZRINIT:
            // The receiver still announces itself. Either it answers the offer next (this ZRINIT
            // crossed the offer on the line) or the offer was lost and goes again.
            if (!HeaderFollows(kLostOfferMs) && !sendOffer()) {
                return false;
            }
            break;
        case ZABORT:
        case ZFIN:
        case ZFERR:
            SetCode(TE_REMOTE_CANCEL);
            return false;
        case ZRPOS:
            status_->position_ = static_cast<std::int32_t>(HeaderValue());
            return true;
        case ZCRC: {
            std::uint8_t crc[4];
            PutValue(crc, FileCrc());
            if (SendBinHeader(ZCRC, crc) < 0) {
                return false;
            }
            continue;
        }
        default:
            break;
        }
        CountError();
        if (Code() < 0) {
            return false;
        }
    }
}

bool ZModemEngine::HeaderFollows(int timeoutMs) {
    const std::uint32_t deadline = TickCount() + static_cast<std::uint32_t>(timeoutMs);
    int cans = 0;
    while (!TickReached(TickCount(), deadline)) {
        if (AbortCheck()) {
            return false;
        }
        const int c = ReadLinkByte(100);
        if (c == ZPAD) {
            return true;
        }
        if (c >= 0) {
            cans = c == ZDLE ? cans + 1 : 0;
            if (cans == kCancelCans) {
                SetCode(TE_REMOTE_CANCEL);
                return false;
            }
        }
        if (c < 0 && c != LINK_NO_DATA) {
            return false;
        }
    }
    return false;
}

std::uint32_t ZModemEngine::FileCrc() {
    filePosition_ = -1;
    file_->Seek(0, 0);
    std::uint32_t crc = 0xFFFFFFFFu;
    std::uint8_t b;
    while (file_->ReadByte(&b) != 0) {
        crc = Crc32Update(b, crc);
    }
    return ~crc;
}

void ZModemEngine::SendFileData() {
    errorLevel_ = 0;
    noisyUntil_ = 0;
    shortPackets_ = false;
    while (status_->position_ <= status_->fileSize_) {
        const int type = SendRun();
        if (Code() < 0) {
            return;
        }
        if (type != kNoReply) {
            switch (type) {
            case ZACK:
                status_->consecutiveErrors_ = 0;
                break;
            case ZSKIP:
            case ZABORT:
            case ZFIN:
            case ZFERR:
                SetCode(TE_REMOTE_CANCEL);
                return;
            case ZNAK:
            case ZRPOS:
                link_->PurgeInput(0);
                SendData(0, ZCRCE);
                CountError();
                shortPackets_ = noisyUntil_ > status_->position_ &&
                                noisyUntil_ - kNoisyStretch + kCloseLosses > status_->position_;
                noisyUntil_ = status_->position_ + kNoisyStretch;
                break;
            default:
                errorLevel_ = errorLevel_ < kNoisyErrorLevel
                                  ? kNoisyErrorLevel
                                  : std::min(errorLevel_ + 1, kTopErrorLevel);
                CountError();
                break;
            }
        }
        if (Code() < 0) {
            return;
        }
        if (errorLevel_ > 0) {
            --errorLevel_;
        }
        while (status_->position_ == status_->fileSize_) {
            std::uint8_t data[4];
            PutValue(data, static_cast<std::uint32_t>(status_->position_));
            if (SendBinHeader(ZEOF, data) < 0) {
                return;
            }
            // On a noisy line the ZEOF or its answer can be lost: it goes again when no answer
            // comes in the time one may take.
            const bool noisy = status_->position_ <= noisyUntil_;
            if (noisy && !ReplyArrives()) {
                continue;
            }
            for (;;) {
                if (AbortCheck()) {
                    return;
                }
                if (WatchBackChannel()) {
                    break;
                }
                // The receiver may still be taking in what the line holds: sleep until its
                // answer comes, looking up now and then.
                const int idle = link_->Port().WaitForInput(kEofReplySliceMs);
                if (idle < 0) {
                    SetCode(idle);
                    return;
                }
            }
            const int type = ReadReply();
            if (Code() < 0) {
                return;
            }
            if (type == ZRINIT) {
                ++status_->fileCount_;
                return;
            }
            if (type != ZRPOS && type != ZNAK) {
                SetCode(TE_REMOTE_CANCEL);
                return;
            }
        }
    }
    ++status_->fileCount_;
}

int ZModemEngine::SendRun() {
    windowSent_ = 0;
    std::uint8_t data[4];
    PutValue(data, static_cast<std::uint32_t>(status_->position_));
    if (SendBinHeader(ZDATA, data) < 0) {
        return kNoReply;
    }
    // Nothing is left to send (an empty file, or a file the receiver already holds whole): an
    // empty frame, then ZEOF. Receivers that expect data before ZEOF take that, as sz sends it.
    if (status_->position_ >= status_->fileSize_) {
        SendData(0, ZCRCE);
        return kNoReply;
    }
    while (!AbortCheck()) {
        const int end = SendNextSubpacket();
        if (end < 0) {
            return kNoReply;
        }
        const bool due = end == ZCRCQ || end == ZCRCW;
        if (due && status_->position_ <= noisyUntil_ && !ReplyArrives()) {
            // On a noisy line the answer itself can be lost: go on with a new frame, which the
            // receiver takes when it has all before it, or answers with where it stands.
            return kNoReply;
        }
        if (due || WatchBackChannel()) {
            // On a noisy line a damaged answer ends the run at once: the new frame that follows
            // makes the receiver say again where it stands.
            const int type = ReadReply(status_->position_ <= noisyUntil_);
            if (type != ZACK || end != ZCRCQ) {
                return type;
            }
            // ZCRCQ keeps the frame open: once it is acknowledged the next window follows in
            // the same frame, without a new ZDATA header.
            status_->consecutiveErrors_ = 0;
            windowSent_ = 0;
            if (errorLevel_ > 0) {
                --errorLevel_;
            }
            continue;
        }
        if (status_->position_ >= status_->fileSize_) {
            return kNoReply;
        }
    }
    SendData(0, ZCRCE);
    return kNoReply;
}

int ZModemEngine::SendNextSubpacket() {
    const bool noisy = status_->position_ < noisyUntil_;
    const unsigned noisyWindow = shortPackets_ ? kShortWindow : kNoisyWindow;
    const unsigned window =
        noisy && (window_ == 0 || window_ > noisyWindow) ? noisyWindow : window_;
    const unsigned packet = noisy && shortPackets_ ? kShortPacket : kDataSize;
    const unsigned chunk = window == 0 ? packet : std::min<unsigned>(window - windowSent_, packet);
    // The file is already there when the data goes on where the last subpacket ended.
    if (filePosition_ != status_->position_) {
        file_->Seek(status_->position_, 0);
    }
    const int count = file_->Read(buffer_, static_cast<std::int32_t>(chunk));
    filePosition_ = count > 0 ? status_->position_ + count : -1;
    status_->blockLength_ = count;
    if (count <= 0) {
        SetCode(TE_READ_FAILED);
        FinishFile();
        return TE_READ_FAILED;
    }
    status_->position_ += count;
    windowSent_ += static_cast<unsigned>(count);

    int end;
    // The subpacket that reaches the end of the file closes the frame, also when it is full:
    // ZEOF follows it directly.
    const bool endOfFile =
        static_cast<unsigned>(count) < chunk || status_->position_ >= status_->fileSize_;
    if (endOfFile) {
        end = window != 0 ? ZCRCW : ZCRCE;
    } else if (errorLevel_ >= kAckEachLevel) {
        end = ZCRCW;
    } else if (window != 0) {
        end = windowSent_ >= window ? ZCRCQ : ZCRCG;
    } else {
        end = (peerFlags_ & CANOVIO) ? ZCRCG : ZCRCQ;
    }
    if (SendData(count, end) < 0) {
        return Code() < 0 ? Code() : TE_SEND_TIMEOUT;
    }
    return end;
}

bool ZModemEngine::ReplyArrives() {
    // The window's bytes may still be on their way at a slow line's pace, then the answer.
    const std::uint32_t limit = kReplyWaitMs + kReplyWaitPerByteUs * windowSent_ / 1000;
    const std::uint32_t start = TickCount();
    while (link_->InputCount() == 0) {
        const std::uint32_t waited = TickCount() - start;
        if (waited >= limit || AbortCheck()) {
            return false;
        }
        if (link_->Port().WaitForInput(static_cast<int>(std::min(limit - waited, 100u))) < 0) {
            return false;
        }
    }
    return true;
}

int ZModemEngine::WatchBackChannel() {
    // Nothing waiting: nothing to report. (Taking the first byte from the port, when there is
    // one, costs less than asking for the queue's count after every subpacket.) After a
    // flow-control byte, such as the XON that ends the hex header this file began with, only
    // what is already waiting is looked at; after other bytes, noise, the rest of the noise is
    // waited for and passed over.
    bool noise = false;
    for (int c = link_->Port().NextByte(); c >= 0;
         c = noise ? ReadLinkByte(kBackChannelTimeoutMs) : link_->Port().NextByte()) {
        if (c == ZPAD || c == ZDLE) {
            // A CAN may begin the cancel: the header search counts it with those that follow.
            pendingCans_ = c == ZDLE ? 1 : 0;
            return 1;
        }
        if (c == ZXON || c == ZXOFF) {
            continue;
        }
        if (errorLevel_ >= kTopErrorLevel) {
            SendData(0, ZCRCE);
            return 1;
        }
        ++errorLevel_;
        noise = true;
    }
    if (errorLevel_ < kNoisyErrorLevel) {
        errorLevel_ = kNoisyErrorLevel;
    }
    return 0;
}

int ZModemEngine::ReadReply(bool oneShot) {
    // A reply whose start the noise made unrecognisable is followed by silence: on a noisy line
    // the search gives up on it soon instead of holding the line for the full search time.
    struct SilenceLimit {
        int& limit;
        ~SilenceLimit() { limit = kSearchSilenceMs; }
    } restore{searchSilenceMs_};
    searchSilenceMs_ = oneShot ? kDamagedReplySilenceMs : kSearchSilenceMs;
    for (;;) {
        const int type = ReadHeader(oneShot ? 1 : 0);
        switch (type) {
        case ZRINIT:
        case ZSKIP:
        case ZNAK:
        case ZABORT:
        case ZFIN:
        case ZFERR:
            return type;
        case ZACK:
            status_->position_ = static_cast<std::int32_t>(HeaderValue());
            return type;
        case ZRPOS:
            link_->PurgeOutput();
            lastRposPosition_ = static_cast<std::int32_t>(HeaderValue());
            status_->position_ = lastRposPosition_;
            return type;
        default:
            break;
        }
        if (type < 0 || Code() < 0) {
            return Code() < 0 ? Code() : type;
        }
        // A header a receiver has no business sending here: ask it to say where it stands.
        if (SendHexHeader(ZNAK, kZero) < 0) {
            return Code();
        }
    }
}

void ZModemEngine::EndBatch() {
    for (;;) {
        if (SendHexHeader(ZFIN, kZero) < 0 || Code() < 0) {
            return;
        }
        int type = ReadHeader(0);
        if (type == ZRINIT || type == ZFERR) {
            type = ReadHeader(0);
        }
        if (Code() < 0) {
            return;
        }
        if (type == ZFIN) {
            SendByte('O');
            SendByte('O');
            return;
        }
        if (type == ZABORT) {
            return;
        }
        ++status_->errorCount_;
        if (++status_->consecutiveErrors_ > maxErrors_) {
            SetCode(TE_HANDSHAKE_ERRORS);
            return;
        }
    }
}

} // namespace tollan
