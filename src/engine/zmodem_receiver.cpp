// The ZModem receiver: announces itself with ZRINIT, takes or declines each offered file by the
// file-management option and the crash-recovery setting, asks for the data with ZRPOS, writes
// the subpackets, acknowledges where the sender asks for it, restores the file's time, and ends
// when the sender sends ZFIN.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/received_name.h"
#include "engine/zmodem_engine.h"

namespace tollan {
namespace {

constexpr int kHoldSettleMs = 70;  // for the other side's output to stop after a hold
constexpr int kOverFirstMs = 2000; // the first "O" after our ZFIN
constexpr int kOverSecondMs = 500; // the second
constexpr int kRqinitSettleMs = 200;
constexpr int kCommandAnswerTries = 4;
constexpr int kRqinitTrailerBytes = 20;
// After a ZRPOS: header searches that run out in data (2,048 bytes each) or find a damaged header,
// passed over before asking again. A streaming sender may have 20 KB or more on its way.
constexpr int kStaleStretches = 16;
// How far behind us a frame may start and still be taken (the bytes we hold are passed over).
constexpr std::int64_t kCatchUpLimit = 8192;
constexpr int kTrailerWaitMs = 20; // answering at once: for the next byte of the trailer
constexpr std::uint8_t kLf = 0x0A;
// ZF0 of our ZRINIT: full duplex, overlapped I/O, break, CRC-32.
constexpr std::uint8_t kReceiverFlags = CANFDX | CANOVIO | CANBRK | CANFC32;
// The file-management option in ZF1 of an offer (the high bits are flags).
constexpr int kManagementMask = 0x1F;

const std::uint8_t kZero[4] = {0, 0, 0, 0};

} // namespace

void ZModemEngine::ProtocolReceive(char*) {
    receiver_.management = management_;
    bool offered = ExchangeInit(ZRINIT);
    while (offered) {
        // The offer: the name, a NUL, then size, time and more as text.
        const int length = status_->blockLength_;
        DataBuffer()[length] = 0;
        const OfferedFile offer = ParseOffer(reinterpret_cast<const char*>(DataBuffer()),
                                             static_cast<std::size_t>(length));
        if (!TakeOffer(offer) || offer.sizeTooLarge) {
            // A name the buffer cannot hold is declined rather than cut to another name, and so
            // are a name refused by the offered-paths choice and a file whose size 32-bit
            // positions cannot reach; the batch goes on.
            SetCode(TE_FILE_SKIPPED);
        } else if (!DecideAndOpen(HeaderData()[ZF0], HeaderData()[ZF1])) {
            break;
        }
        int next = ZRINIT;
        if (Code() == TE_FILE_SKIPPED || Code() == TE_FILE_EXISTS || Code() == TE_OPEN_FAILED) {
            status_->Update(Code());
            SetCode(0);
            if (AbortCheck()) {
                break;
            }
            next = ZSKIP;
        } else if (!ReceiveAndClose(offer)) {
            break;
        }
        offered = ExchangeInit(next);
    }
    FinishFile();
    // A batch that ends on a failure reports it even after files were taken: otherwise a file cut
    // off mid-way (a cancel, a dead line, a full disk) would end the run as if it had arrived.
    if (status_->fileCount_ == 0 || Code() != 0) {
        ReportFinal();
    }
    status_->fileName_ = "";
}

bool ZModemEngine::TakeOffer(const OfferedFile& offer) {
    char* name = receiver_.name;
    bool nameTaken;
    status_->systemError_ = 0;
    if (file_->NextFile(false)) {
        const char* listed = file_->GetName();
        nameTaken = std::strlen(listed) < static_cast<std::size_t>(kNameSize);
        std::snprintf(name, kNameSize, "%s", listed);
    } else {
        nameTaken = TakeOfferedName(offer.name, name, kNameSize);
    }
    status_->fileName_ = name;
    status_->fileSize_ = offer.hasSize ? offer.size : 0;
    status_->fileTime_ = offer.hasTime ? offer.time : -1;
    status_->position_ = 0;
    status_->blockCount_ = 0;
    status_->errorCount_ = 0;
    status_->consecutiveErrors_ = 0;
    status_->resumedAt_ = 0;
    status_->partialName_ = "";
    file_->ResetSize();
    return nameTaken;
}

bool ZModemEngine::ReceiveAndClose(const OfferedFile& offer) {
    // An appended file's positions start at the end of what was there (a resumed one's at the
    // start).
    receiver_.appendBase =
        receiver_.management == ZMAPND && status_->resumedAt_ == 0 ? file_->GetSize() : 0;
    const bool complete = ReceiveFileData();
    if (Code() < 0) {
        return false;
    }
    if (fileOpen_) {
        // A file cut short keeps the time of its last write.
        if (complete && status_->fileTime_ != -1) {
            file_->SetUnixTime(status_->fileTime_);
            file_->ApplyFileTime();
        }
        if (complete && offer.permissions != 0) {
            file_->ApplyPermissions(offer.permissions);
        }
        // A file the sender gave up on keeps what arrived; one that replaces an older file
        // stays partial beside it.
        if (CloseReceived(complete) != 0) {
            SetCode(TE_WRITE_FAILED);
            FinishFile();
            return false;
        }
    }
    ReportFinal();
    receiver_.name[0] = 0;
    return true;
}

bool ZModemEngine::ExchangeInit(int type) {
    std::uint8_t data[4] = {0, 0, 0, 0};
    data[ZP0] = static_cast<std::uint8_t>(windowSize_);
    data[ZP1] = static_cast<std::uint8_t>(windowSize_ >> 8);
    data[ZF0] = kReceiverFlags;
    if (SendHexHeader(type, data) < 0) {
        return false;
    }
    // A subpacket that failed is asked for again unless the run stops (ZSINIT's failure counts as
    // an error as well): false when the exchange ends, with the code stored.
    const auto askAgain = [&](bool counted) {
        if (Code() < 0) {
            return false;
        }
        const bool asked = SendHexHeader(ZNAK, kZero) >= 0;
        return !(counted && CountError()) && asked;
    };
    for (;;) {
        const int header = ReadHeader(OnBadHeader::kReturnCode);
        if (Code() < 0) {
            return false;
        }
        switch (header) {
        case ZSINIT:
            // Its content (an attention string) is not used.
            if (ReadData() != ZCRCW) {
                if (!askAgain(true)) {
                    return false;
                }
            } else if (SendHexHeader(ZACK, kZero) < 0) {
                return false;
            }
            continue;
        case ZFILE:
            if (ReadData() == ZCRCW) {
                return true;
            }
            if (!askAgain(false)) {
                return false;
            }
            continue;
        case ZFIN:
            static_cast<void>(SendHexHeader(ZFIN, kZero)); // the batch is over either way
            static_cast<void>(link_->ReadByte(kOverFirstMs));
            static_cast<void>(link_->ReadByte(kOverSecondMs));
            return false;
        case ZCOMMAND:
            if (ReadData() == ZCRCW) {
                RefuseCommand();
                return false;
            }
            if (!askAgain(false)) {
                return false;
            }
            continue;
        case ZRQINIT:
            LetRqinitPass();
            break;
        default:
            if (CountError()) {
                return false;
            }
            break;
        }
        if (SendHexHeader(ZRINIT, data) < 0) {
            return false;
        }
    }
}

void ZModemEngine::LetRqinitPass() {
    // The sender is still starting; let the rest of its header pass before answering: a fixed
    // while, or (answering at once) just until its line end has gone by.
    if (!answerAtOnce_) {
        // A wait cut short changes nothing: the reads that follow meet the same cause.
        static_cast<void>(link_->Delay(kRqinitSettleMs));
    }
    for (int i = 0; i < kRqinitTrailerBytes; ++i) {
        if (HexTrailerSeen() || (!answerAtOnce_ && link_->InputCount() == 0)) {
            break;
        }
        const int c = link_->ReadByte(answerAtOnce_ ? kTrailerWaitMs : 1);
        if (c < 0 || (c & 0x7F) == kLf) {
            break;
        }
    }
}

void ZModemEngine::RefuseCommand() {
    // ZCOMPL carries the command's exit status; a non-zero one tells the sender it failed, and
    // the sender ends the session with ZFIN, answered as after a batch. A sender that does not
    // answer is given a few more tries, then the run ends all the same.
    const std::uint8_t failed[4] = {1, 0, 0, 0};
    for (int tries = 0; tries < kCommandAnswerTries; ++tries) {
        if (SendHexHeader(ZCOMPL, failed) < 0) {
            return;
        }
        const int header = ReadUncountedHeader();
        if (Code() < 0) {
            return;
        }
        if (header == ZFIN) {
            static_cast<void>(SendHexHeader(ZFIN, kZero)); // a failure has its code stored
            static_cast<void>(link_->ReadByte(kOverFirstMs));
            static_cast<void>(link_->ReadByte(kOverSecondMs));
            break;
        }
    }
    if (Code() == 0) {
        SetCode(TE_COMMAND_REFUSED);
    }
}

bool ZModemEngine::DecideAndOpen(int offerZf0, int offerZf1) {
    status_->position_ = 0;
    const char* mode = "wb";
    const char* name = status_->fileName_;
    bool receive = true;
    bool fromPartial = false;
    if (FileExists(name)) {
        // What is there already.
        std::int32_t oldSize = 0;
        std::int64_t oldTime = 0;
        if (file_->Open(name, "rb") == 0) {
            oldSize = file_->GetSize();
            file_->FetchFileTime();
            oldTime = file_->GetUnixTime();
            file_->Close();
        }
        file_->ResetSize();
        const std::int32_t newSize = status_->fileSize_;

        bool resume = false;
        if (crashRecovery_ == CrashRecovery::kFollowSender) {
            const int offered = offerZf1 & kManagementMask;
            if (offered >= ZMNEWL && offered <= ZMPROT) {
                receiver_.management = offered;
            }
            resume = offerZf0 == ZCRESUM;
        } else if (crashRecovery_ == CrashRecovery::kAlways) {
            resume = true;
        }
        // A replacement an earlier run left unfinished beside the file is what a resumed copy
        // goes on from; the file itself stays as it is until the copy is whole.
        const std::int32_t partialSize = resume ? PartialSize(name) : -1;
        fromPartial = partialSize >= 0;
        const std::int32_t held = fromPartial ? partialSize : oldSize;
        const bool resumed = resume && held <= newSize;
        fromPartial = fromPartial && resumed;
        if (resumed) {
            mode = "ab";
            status_->position_ = held;
            status_->resumedAt_ = held;
        }
        receive = ManagementReceives(oldSize, oldTime, resumed, mode, fromPartial);
        if (Code() < 0) {
            return false; // the CRC exchange failed
        }
    }
    fileOpen_ = false;
    if (!receive) {
        SetCode(receiver_.management == ZMPROT ? TE_FILE_EXISTS : TE_FILE_SKIPPED);
        return true;
    }
    if ((fromPartial ? file_->OpenPartial(name) : file_->Open(name, mode)) != 0) {
        status_->systemError_ = file_->LastError();
        SetCode(TE_OPEN_FAILED);
        if (skipDeclined_) {
            return true; // declined: the batch goes on
        }
        FinishFile();
        return false;
    }
    fileOpen_ = true;
    ++status_->fileCount_;
    if (AbortCheck()) {
        return false;
    }
    SetCode(0);
    return true;
}

bool ZModemEngine::ManagementReceives(std::int32_t oldSize, std::int64_t oldTime, bool resumed,
                                      const char*& mode, bool& fromPartial) {
    const std::int32_t newSize = status_->fileSize_;
    const std::int64_t newTime = status_->fileTime_;
    switch (resumeFirst_ && resumed ? ZMCLOB : receiver_.management) {
    case ZMNEWL:
        return newTime > oldTime || newSize > oldSize;
    case ZMCRC:
        return ReceiverCrcDiffers();
    case ZMAPND:
        // The whole offered file goes after what is there; it is not a resumed copy.
        mode = "ab";
        fromPartial = false;
        status_->position_ = 0;
        status_->resumedAt_ = 0;
        return true;
    case ZMCLOB:
        return true;
    case ZMNEW:
        return newTime > oldTime;
    case ZMDIFF:
        return newTime != oldTime || newSize != oldSize;
    default:
        return false;
    }
}

std::int32_t ZModemEngine::PartialSize(const char* name) {
    char partial[kNameSize];
    if (!PartialNameOf(name, partial, sizeof partial) || !FileExists(partial) ||
        file_->Open(partial, "rb") != 0) {
        return -1;
    }
    const std::int32_t size = file_->GetSize();
    file_->Close();
    file_->ResetSize();
    return size;
}

bool ZModemEngine::ReceiverCrcDiffers() {
    if (file_->Open(status_->fileName_, "rb") != 0) {
        return false;
    }
    std::uint32_t crc = 0xFFFFFFFFu;
    std::uint8_t b;
    while (file_->ReadByte(&b) != 0) {
        crc = Crc32Update(b, crc);
    }
    file_->Close();
    file_->ResetSize();
    if (SendHexHeader(ZCRC, kZero) < 0) {
        return false;
    }
    return ReadHeader(OnBadHeader::kSearchOn) == ZCRC && HeaderValue() != ~crc;
}

bool ZModemEngine::ReceiveFileData() {
    DropInput();
    if (SendPositionHeader(ZRPOS) < 0 || AbortCheck()) {
        return false;
    }
    // After a ZRPOS the data the sender had already sent is still arriving: a stream without
    // headers, headers the noise damaged, and perhaps the ZEOF it sent before our request reached
    // it. Asking again for each of them would restart the sender once more, and every restart
    // puts more such data on the line. So until the frame we asked for comes, up to
    // kStaleStretches header searches that run out in data or find a damaged header, and one
    // ZEOF elsewhere, are passed over. Silence or a frame ahead of us means the request was
    // lost: it goes again at once. These searches are not counted as errors; the request is.
    int staleStretches = kStaleStretches;
    int staleEofs = 1;
    const auto passOver = [&](int& budget) { return budget-- > 0 && !AbortCheck(); };
    for (;;) {
        const int type = ReadUncountedHeader();
        if (Code() < 0) {
            return false;
        }
        switch (type) {
        case ZFILE:
        case ZABORT:
        case ZFIN:
        case ZFERR:
            return false; // the file keeps what arrived
        case ZEOF:
            if (HeaderValue() == static_cast<std::uint32_t>(status_->position_)) {
                return true; // complete
            }
            if (passOver(staleEofs)) {
                continue;
            }
            break;
        case ZDATA: {
            // A frame that starts a little behind us (the answer to an earlier request) is
            // taken from where we stand rather than asked for once more.
            const std::int64_t held = static_cast<std::int64_t>(status_->position_) - HeaderValue();
            if (held >= 0 && held <= kCatchUpLimit) {
                if (ReceiveFrame(static_cast<std::int32_t>(held))) {
                    if (AbortCheck()) {
                        return false;
                    }
                    staleStretches = kStaleStretches;
                    staleEofs = 1;
                    continue;
                }
                if (Code() < 0) {
                    return false;
                }
                break; // a damaged subpacket: ask at once
            }
            break; // a frame ahead of us: the sender did not hear the request
        }
        default: {
            const bool ranOut = type == TE_BAD_HEADER && SearchRanOut();
            const bool damaged =
                HeaderFormat() != LINK_NO_DATA &&
                (type == TE_BAD_HEADER || type == TE_BAD_CRC16 || type == TE_BAD_CRC32);
            if ((ranOut || damaged) && passOver(staleStretches)) {
                continue;
            }
            break;
        }
        }
        // Something went wrong: ask for the data again from where we stand.
        if (CountError()) {
            return false;
        }
        DropInput();
        if (SendPositionHeader(ZRPOS) < 0 || AbortCheck()) {
            return false;
        }
        staleStretches = kStaleStretches;
        staleEofs = 1;
    }
}

bool ZModemEngine::ReceiveFrame(std::int32_t held) {
    const bool hold = holdWhileWriting_;
    // Holding the other side only helps when it could be told to stop; without that, waiting
    // would merely slow the transfer down. Neither the settling wait nor the release is judged:
    // a wait cut short ends the next read the same way, and a sender left held meets the
    // receiver's time-out like a line gone quiet.
    const auto holdRemote = [&] {
        if (hold && link_->HoldRemote() == 0) {
            static_cast<void>(link_->Delay(kHoldSettleMs));
        }
    };
    holdRemote();
    file_->Seek(status_->position_ + receiver_.appendBase, FileAccess::kFromStart);
    if (hold) {
        static_cast<void>(link_->ReleaseRemote());
    }
    for (;;) {
        if (AbortCheck()) {
            return false;
        }
        const int end = ReadData();
        if (end < 0) {
            return false;
        }
        ++status_->blockCount_;
        status_->consecutiveErrors_ = 0;
        // What the file already holds is passed over.
        const std::int32_t skipped = std::min(held, status_->blockLength_);
        held -= skipped;
        const std::int32_t length = status_->blockLength_ - skipped;
        holdRemote();
        const std::int32_t written = length != 0 ? file_->Write(DataBuffer() + skipped, length) : 0;
        if (hold) {
            static_cast<void>(link_->ReleaseRemote());
        }
        if (length != 0 && written < length) {
            status_->systemError_ = file_->LastError();
            SetCode(TE_WRITE_FAILED);
            FinishFile();
            return false;
        }
        status_->position_ += length;
        if (length != 0 && status_->position_ == status_->fileSize_) {
            // The file is whole: its flush to the disk (before the time is set and the file
            // acknowledged) overlaps the ZEOF still on its way.
            file_->Flush();
        }
        if (end == ZCRCQ || end == ZCRCW) {
            // The sender waits for the position its own frame has reached.
            if (SendPositionHeader(ZACK, status_->position_ - held) < 0) {
                return false;
            }
        }
        if (end != ZCRCG && end != ZCRCQ) {
            return true;
        }
    }
}

} // namespace tollan
