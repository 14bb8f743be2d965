// The ZModem sender: one batch of files. ZRQINIT until the receiver's ZRINIT, then per file a
// ZFILE offer, data from the position the receiver asks for (streamed or in windows, adapting to
// noise on the back channel), ZEOF until the next ZRINIT, and at the end ZFIN and "OO".
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

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
                fileOpen_ = false;
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
    CountStartChars(watchStartChars_);
    struct StopCounting {
        ZModemEngine& engine;
        ~StopCounting() { engine.CountStartChars(false); }
    } stop{*this};
    for (;;) {
        if (SendHexHeader(ZRQINIT, kZero) < 0) {
            return false;
        }
        // Each search that finds no answer (its silence, or garbage) sends the ZRQINIT again,
        // for a receiver started after it went.
        const int type = ReadHeader(OnBadHeader::kReturnCode);
        const bool xmodemReceiver = StartCharsSeen();
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
        // A failed answer has its code stored, which ends the handshake below.
        const bool answered = type != ZCHALLENGE || SendHexHeader(ZACK, HeaderData()) >= 0;
        ++status_->errorCount_;
        if (++status_->consecutiveErrors_ > MaxErrors()) {
            SetCode(TE_HANDSHAKE_ERRORS);
            return false;
        }
        if (!answered) {
            return false;
        }
    }
    const std::uint8_t* init = HeaderData();
    const unsigned bufferSize = init[ZP0] + 256u * init[ZP1];
    SetPeerFlags(init[ZF0]);
    unsigned& window = sender_.window;
    if (bufferSize != 0 && (windowSize_ == 0 || static_cast<unsigned>(windowSize_) >= bufferSize)) {
        window = bufferSize;
    } else {
        window = static_cast<unsigned>(windowSize_);
    }
    if (!(PeerFlags() & CANFDX) && window == 0) {
        window = kHalfDuplexWindow;
    }
    status_->checkType_ = (PeerFlags() & CANFC32) ? kCheckCrc32 : kCheckCrc16;
    return true;
}

// The files and bytes of the whole batch, which each offer announces as still to come so that a
// receiver can show the batch's progress. A list that cannot be walked a second time leaves both
// at 0 (unknown).
void ZModemEngine::CountBatch(const char* list) {
    sender_.filesLeft = 0;
    sender_.bytesLeft = 0;
    if (list == nullptr) {
        return;
    }
    std::string copy(list);
    const std::unique_ptr<FileAccess> files = CreateFileAccess();
    if (!files || files->Init(copy.data(), 0) != 0) {
        return;
    }
    while (files->NextFile(true)) {
        if (files->Open(files->GetName(), "rb") == 0) {
            sender_.bytesLeft += files->GetSize();
            files->Close();
        }
        files->ResetSize();
        ++sender_.filesLeft;
        if (pathMode_ == PathSwitch::kReceiverNames) {
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
        sender_.filePosition = -1;
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
        if (pathMode_ == PathSwitch::kReceiverNames) {
            file_->NextFile(false); // its receiver name
        }
    }
    fileOpen_ = true;
    status_->fileSize_ = file_->GetSize();
    if (!AbortCheck()) {
        SetCode(0);
    }
    file_->FetchFileTime();
    const std::int32_t sendTime = static_cast<std::int32_t>(file_->GetUnixTime());

    const char* name = status_->fileName_;
    if (pathMode_ == PathSwitch::kStripPath) {
        // Without drive and directories, whichever separator the list used.
        name = StripPath(status_->fileName_);
        if (const char* slash = std::strrchr(name, '/')) {
            name = slash + 1;
        }
    } else if (pathMode_ == PathSwitch::kReceiverNames) {
        // The list pairs names: keep the file's own name for the record, send the next item.
        char* own = sender_.nameArea;
        std::snprintf(own, sizeof sender_.nameArea, "%s", status_->fileName_);
        status_->fileName_ = own;
        name = file_->NextFile(false) ? file_->GetName() : StripPath(own);
    }
    // The mode in octal as a regular file's, where the platform has permission bits; 0 otherwise.
    // Then the serial number (none) and the files and bytes still to come, this one included.
    const std::uint32_t permissions = file_->PermissionBits();
    const unsigned long mode = permissions != 0 ? 0100000u | permissions : 0;
    const int length = std::snprintf(
        reinterpret_cast<char*>(DataBuffer()), kDataSize, "%s%c%ld %lo %lo 0 %d %lld", name, 0,
        static_cast<long>(status_->fileSize_), static_cast<unsigned long>(sendTime), mode,
        std::max(sender_.filesLeft, 1), std::max<long long>(sender_.bytesLeft, status_->fileSize_));
    status_->blockLength_ = std::min(length, kDataSize - 1);
    sender_.filesLeft = std::max(sender_.filesLeft - 1, 0);
    sender_.bytesLeft = std::max<long long>(sender_.bytesLeft - status_->fileSize_, 0);
    return true;
}

bool ZModemEngine::OfferFile() {
    std::uint8_t data[4] = {0, 0, 0, 0};
    data[ZF0] = static_cast<std::uint8_t>(crashRecovery_ == CrashRecovery::kAlways ? ZCRESUM
                                                                                   : kNoConversion);
    data[ZF1] = static_cast<std::uint8_t>(management_);
    const int infoLength = status_->blockLength_;
    const auto sendOffer = [&] {
        return SendBinHeader(ZFILE, data) >= 0 && SendData(infoLength, ZCRCW) >= 0;
    };
    if (!sendOffer()) {
        return false;
    }
    for (;;) {
        const int type = ReadHeader(OnBadHeader::kSearchOn);
        if (type < 0) {
            return false; // the code is stored
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
        if (CountError()) {
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
    sender_.filePosition = -1;
    file_->Seek(0, FileAccess::kFromStart);
    std::uint32_t crc = 0xFFFFFFFFu;
    std::uint8_t b;
    while (file_->ReadByte(&b) != 0) {
        crc = Crc32Update(b, crc);
    }
    return ~crc;
}

void ZModemEngine::SendFileData() {
    ZModemSenderState& st = sender_;
    st.errorLevel = 0;
    st.noisyUntil = 0;
    st.shortPackets = false;
    while (status_->position_ <= status_->fileSize_) {
        const int type = SendRun();
        if (Code() < 0) {
            return;
        }
        switch (type) {
        case kNoReply:
            break;
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
        case ZRPOS: {
            DropInput();
            // A failed end of frame has its code stored, which the error count is checked with.
            const bool ended = SendData(0, ZCRCE) >= 0;
            if (CountError() || !ended) {
                return;
            }
            st.shortPackets = st.noisyUntil > status_->position_ &&
                              st.noisyUntil - kNoisyStretch + kCloseLosses > status_->position_;
            st.noisyUntil = status_->position_ + kNoisyStretch;
            break;
        }
        default:
            st.errorLevel = st.errorLevel < kNoisyErrorLevel
                                ? kNoisyErrorLevel
                                : std::min(st.errorLevel + 1, kTopErrorLevel);
            if (CountError()) {
                return;
            }
            break;
        }
        if (st.errorLevel > 0) {
            --st.errorLevel;
        }
        if (status_->position_ == status_->fileSize_ && SendEndOfFile()) {
            return;
        }
    }
    ++status_->fileCount_;
}

bool ZModemEngine::SendEndOfFile() {
    while (status_->position_ == status_->fileSize_) {
        std::uint8_t data[4];
        PutValue(data, static_cast<std::uint32_t>(status_->position_));
        if (SendBinHeader(ZEOF, data) < 0) {
            return true;
        }
        // On a noisy line the ZEOF or its answer can be lost: it goes again when no answer
        // comes in the time one may take.
        const bool noisy = status_->position_ <= sender_.noisyUntil;
        if (noisy && !ReplyArrives()) {
            continue;
        }
        for (;;) {
            if (AbortCheck()) {
                return true;
            }
            if (WatchBackChannel()) {
                break;
            }
            // The receiver may still be taking in what the line holds: sleep until its
            // answer comes, looking up now and then.
            const int idle = link_->Port().WaitForInput(kEofReplySliceMs);
            if (idle < 0) {
                SetCode(idle);
                return true;
            }
        }
        const int type = ReadReply();
        if (Code() < 0) {
            return true;
        }
        if (type == ZRINIT) {
            ++status_->fileCount_;
            return true;
        }
        if (type != ZRPOS && type != ZNAK) {
            SetCode(TE_REMOTE_CANCEL);
            return true;
        }
    }
    return false;
}

int ZModemEngine::SendRun() {
    ZModemSenderState& st = sender_;
    st.windowSent = 0;
    std::uint8_t data[4];
    PutValue(data, static_cast<std::uint32_t>(status_->position_));
    if (SendBinHeader(ZDATA, data) < 0) {
        return kNoReply;
    }
    // Nothing is left to send (an empty file, or a file the receiver already holds whole): an
    // empty frame, then ZEOF. Receivers that expect data before ZEOF take that, as sz sends it.
    // (A failed send has its code stored, which the caller looks at.)
    if (status_->position_ >= status_->fileSize_) {
        static_cast<void>(SendData(0, ZCRCE));
        return kNoReply;
    }
    while (!AbortCheck()) {
        const int end = SendNextSubpacket();
        if (end < 0) {
            return kNoReply;
        }
        const bool due = end == ZCRCQ || end == ZCRCW;
        const bool noisy = status_->position_ <= st.noisyUntil;
        if (due && noisy && !ReplyArrives()) {
            // On a noisy line the answer itself can be lost: go on with a new frame, which the
            // receiver takes when it has all before it, or answers with where it stands.
            return kNoReply;
        }
        if (due || WatchBackChannel()) {
            // On a noisy line a damaged answer ends the run at once: the new frame that follows
            // makes the receiver say again where it stands.
            const int type = ReadReply(noisy ? OnBadHeader::kReturnCode : OnBadHeader::kSearchOn);
            if (type != ZACK || end != ZCRCQ) {
                return type;
            }
            // ZCRCQ keeps the frame open: once it is acknowledged the next window follows in
            // the same frame, without a new ZDATA header.
            status_->consecutiveErrors_ = 0;
            st.windowSent = 0;
            if (st.errorLevel > 0) {
                --st.errorLevel;
            }
            continue;
        }
        if (status_->position_ >= status_->fileSize_) {
            return kNoReply;
        }
    }
    static_cast<void>(SendData(0, ZCRCE)); // the run stops: the code is stored
    return kNoReply;
}

int ZModemEngine::SendNextSubpacket() {
    ZModemSenderState& st = sender_;
    const bool noisy = status_->position_ < st.noisyUntil;
    const unsigned noisyWindow = st.shortPackets ? kShortWindow : kNoisyWindow;
    const unsigned window =
        noisy && (st.window == 0 || st.window > noisyWindow) ? noisyWindow : st.window;
    const unsigned packet = noisy && st.shortPackets ? kShortPacket : kDataSize;
    const unsigned chunk =
        window == 0 ? packet : std::min<unsigned>(window - st.windowSent, packet);
    // The file is already there when the data goes on where the last subpacket ended.
    if (st.filePosition != status_->position_) {
        file_->Seek(status_->position_, FileAccess::kFromStart);
    }
    const int count = file_->Read(DataBuffer(), static_cast<std::int32_t>(chunk));
    st.filePosition = count > 0 ? status_->position_ + count : -1;
    status_->blockLength_ = count;
    if (count <= 0) {
        SetCode(TE_READ_FAILED);
        FinishFile();
        return TE_READ_FAILED;
    }
    status_->position_ += count;
    st.windowSent += static_cast<unsigned>(count);

    int end;
    // The subpacket that reaches the end of the file closes the frame, also when it is full:
    // ZEOF follows it directly.
    const bool endOfFile =
        static_cast<unsigned>(count) < chunk || status_->position_ >= status_->fileSize_;
    if (endOfFile) {
        end = window != 0 ? ZCRCW : ZCRCE;
    } else if (st.errorLevel >= kAckEachLevel) {
        end = ZCRCW;
    } else if (window != 0) {
        end = st.windowSent >= window ? ZCRCQ : ZCRCG;
    } else {
        end = (PeerFlags() & CANOVIO) ? ZCRCG : ZCRCQ;
    }
    const int sent = SendData(count, end);
    return sent < 0 ? sent : end;
}

bool ZModemEngine::ReplyArrives() {
    // The window's bytes may still be on their way at a slow line's pace, then the answer.
    const std::uint32_t limit = kReplyWaitMs + kReplyWaitPerByteUs * sender_.windowSent / 1000;
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

bool ZModemEngine::WatchBackChannel() {
    // Nothing waiting: nothing to report. (Taking the first byte from the port, when there is
    // one, costs less than asking for the queue's count after every subpacket.) After a
    // flow-control byte, such as the XON that ends the hex header this file began with, only
    // what is already waiting is looked at; after other bytes, noise, the rest of the noise is
    // waited for and passed over.
    int& errorLevel = sender_.errorLevel;
    bool noise = false;
    for (int c = link_->Port().NextByte(); c >= 0;
         c = noise ? ReadLinkByte(kBackChannelTimeoutMs) : link_->Port().NextByte()) {
        if (c == ZPAD || c == ZDLE) {
            // A CAN may begin the cancel: the header search counts it with those that follow.
            CarryCans(c == ZDLE ? 1 : 0);
            return true;
        }
        if (c == ZXON || c == ZXOFF) {
            continue;
        }
        if (errorLevel >= kTopErrorLevel) {
            static_cast<void>(SendData(0, ZCRCE)); // a failed send has its code stored
            return true;
        }
        ++errorLevel;
        noise = true;
    }
    if (errorLevel < kNoisyErrorLevel) {
        errorLevel = kNoisyErrorLevel;
    }
    return false;
}

int ZModemEngine::ReadReply(OnBadHeader onBad) {
    // A reply whose start the noise made unrecognisable is followed by silence: on a noisy line
    // the search gives up on it soon instead of holding the line for the full search time.
    struct SilenceLimit {
        ZModemEngine& engine;
        ~SilenceLimit() { engine.SetSearchSilence(kSearchSilenceMs); }
    } restore{*this};
    SetSearchSilence(onBad == OnBadHeader::kReturnCode ? kDamagedReplySilenceMs : kSearchSilenceMs);
    for (;;) {
        const int type = ReadHeader(onBad);
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
            // What a failed purge leaves still goes out; the receiver passes over data that is
            // not at the position it asked for.
            static_cast<void>(link_->PurgeOutput());
            sender_.lastRposPosition = static_cast<std::int32_t>(HeaderValue());
            status_->position_ = sender_.lastRposPosition;
            return type;
        default:
            break;
        }
        if (type < 0 || Code() < 0) {
            return Code() < 0 ? Code() : type;
        }
        // A header a receiver has no business sending here: ask it to say where it stands.
        const int asked = SendHexHeader(ZNAK, kZero);
        if (asked < 0) {
            return asked;
        }
    }
}

void ZModemEngine::EndBatch() {
    for (;;) {
        if (SendHexHeader(ZFIN, kZero) < 0) {
            return;
        }
        int type = ReadHeader(OnBadHeader::kSearchOn);
        if (type == ZRINIT || type == ZFERR) {
            type = ReadHeader(OnBadHeader::kSearchOn);
        }
        if (type < 0) {
            return; // the code is stored
        }
        if (type == ZFIN) {
            // "OO" ends the session; each O goes whatever became of the other (a failure has
            // its code stored).
            for (int i = 0; i < 2; ++i) {
                static_cast<void>(SendByte('O'));
            }
            return;
        }
        if (type == ZABORT) {
            return;
        }
        ++status_->errorCount_;
        if (++status_->consecutiveErrors_ > MaxErrors()) {
            SetCode(TE_HANDSHAKE_ERRORS);
            return;
        }
    }
}

} // namespace tollan
