#include "engine/kermit_engine.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "engine/received_name.h"
#include "link/tick_count.h"

namespace tollan {
namespace {

using kermit::kLongest;
using kermit::kShortLongest;

constexpr std::size_t kPacketAreaSize = kLongest + 16;
constexpr std::size_t kOutAreaSize = kermit::PacketRoom(kLongest, {}) + 96;
constexpr std::size_t kDataAreaSize = kLongest + 16;
constexpr std::size_t kPendingSize = 16384;
constexpr std::size_t kBufferSize = kPacketAreaSize + kOutAreaSize + kDataAreaSize + kPendingSize;

constexpr int kSliceMs = 1000;
constexpr int kOwnTimeSeconds = 7;     // how long the peer waits for us before it tries again
constexpr int kCtrlCToCancel = 3;      // Ctrl-C bytes in a row that stop the run, as from a user
constexpr std::size_t kShortRoom = 90; // the shortest data field after errors
constexpr int kGrowAfter = 4;          // good packets before the data field doubles again

std::int32_t CheckTypeOf(int kermitCheck) {
    switch (kermitCheck) {
    case 2:
        return kCheckSum16;
    case 3:
        return kCheckCrc16;
    default:
        return kCheckSum8;
    }
}

const char* ErrorText(int code) {
    switch (code) {
    case TE_USER_CANCEL:
        return "Cancelled by user";
    case TE_TIMEOUT:
        return "Timed out";
    case TE_TOO_MANY_ERRORS:
    case TE_HANDSHAKE_ERRORS:
        return "Too many retries";
    case TE_WRITE_FAILED:
        return "Cannot write file";
    case TE_OPEN_FAILED:
        return "Cannot open file";
    case TE_READ_FAILED:
        return "Cannot read file";
    case TE_FILE_EXISTS:
        return "File exists";
    case TE_FILE_SKIPPED:
        return "File name refused";
    case TE_BAD_HEADER:
        return "Bad packet";
    default:
        return "Transfer failed";
    }
}

// The number at the start of `text`, or -1 when it has none or it does not fit 32 bits.
long long LeadingNumber(const char* text, std::size_t length) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text, text + length, value);
    if (error != std::errc{} || end == text || value < 0 || value > 0x7FFFFFFFLL) {
        return -1;
    }
    return value;
}

// "[yy]yymmdd[ hh:mm[:ss]]", local time, as seconds since 1970; -1 when it is not one.
std::int32_t ParseDate(const char* text, std::size_t length) {
    int digits[14] = {};
    int count = 0;
    std::size_t dateDigits = 0;
    for (std::size_t i = 0; i < length && count < 14; ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            digits[count++] = text[i] - '0';
        } else if (text[i] == ' ' && dateDigits == 0) {
            dateDigits = static_cast<std::size_t>(count);
        }
    }
    if (dateDigits == 0) {
        dateDigits = static_cast<std::size_t>(count);
    }
    if (dateDigits != 6 && dateDigits != 8) {
        return -1;
    }
    const auto field = [&digits](std::size_t at, std::size_t n) {
        int v = 0;
        for (std::size_t i = 0; i < n; ++i) {
            v = v * 10 + digits[at + i];
        }
        return v;
    };
    std::tm tm{};
    std::size_t at = 0;
    if (dateDigits == 6) {
        tm.tm_year = field(0, 2) + (field(0, 2) < 70 ? 100 : 0);
        at = 2;
    } else {
        tm.tm_year = field(0, 4) - 1900;
        at = 4;
    }
    tm.tm_mon = field(at, 2) - 1;
    tm.tm_mday = field(at + 2, 2);
    const std::size_t timeDigits = static_cast<std::size_t>(count) - dateDigits;
    if (timeDigits >= 4) {
        tm.tm_hour = field(dateDigits, 2);
        tm.tm_min = field(dateDigits + 2, 2);
    }
    if (timeDigits >= 6) {
        tm.tm_sec = field(dateDigits + 4, 2);
    }
    tm.tm_isdst = -1;
    if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31) {
        return -1;
    }
    const std::time_t t = std::mktime(&tm);
    if (t <= 0 || t > 0x7FFFFFFF) {
        return -1;
    }
    return static_cast<std::int32_t>(t);
}

} // namespace

KermitEngine::KermitEngine(CommLink* link, TransferStatus* status)
    : TransferEngine(link, status), reader_(nullptr, 0) {
    status_->protocolId_ = kProtocolIdKermit;
    status_->checkType_ = kCheckSum8;
}

int KermitEngine::Prepare() {
    if (buffer_ == nullptr) {
        buffer_ = std::make_unique<std::uint8_t[]>(kBufferSize); // zero-filled
        packetArea_ = buffer_.get();
        outArea_ = packetArea_ + kPacketAreaSize;
        dataArea_ = outArea_ + kOutAreaSize;
        pendingArea_ = dataArea_ + kDataAreaSize;
        reader_ = kermit::PacketReader(packetArea_, kPacketAreaSize);
    }
    return TransferEngine::Prepare();
}

void KermitEngine::SetBlockCheck(int type) {
    if (type >= 1 && type <= 3) {
        offeredCheck_ = type;
    }
}

void KermitEngine::SetWindow(int packets) {
    window_ = std::clamp(packets, 1, kermit::kMaxWindow);
}

void KermitEngine::SetPacketLength(int length) {
    packetLength_ = std::clamp(length, 20, kLongest);
}

kermit::InitParams KermitEngine::OwnParams() const {
    kermit::InitParams own;
    own.maxl = std::min(packetLength_, kShortLongest);
    own.time = kOwnTimeSeconds;
    own.qbin = sevenBit_ ? '&' : 'Y';
    own.chkt = offeredCheck_;
    own.rept = repeatCounts_ ? '~' : ' ';
    own.capas = kermit::kCapAttributes | (packetLength_ > kShortLongest ? kermit::kCapLong : 0) |
                (window_ > 1 ? kermit::kCapWindows : 0);
    own.window = window_;
    own.maxlx = packetLength_;
    return own;
}

void KermitEngine::Settle(const kermit::InitParams& own, const kermit::InitParams& other) {
    session_ = kermit::Agree(own, other);
    session_.sendLength = std::min(session_.sendLength, packetLength_);
    reader_.SetCheck(session_.framing.check);
    reader_.SetStripParity(sevenBit_ || session_.in.qbin != 0);
    status_->checkType_ = CheckTypeOf(session_.framing.check);
}

// ---- Line side ----

bool KermitEngine::SendPacket(int seq, std::uint8_t type, const std::uint8_t* data,
                              std::size_t length) {
    const std::size_t n = kermit::BuildPacket(outArea_, seq, type, data, length, session_.framing);
    return SendBlock(outArea_, static_cast<int>(n)) >= 0;
}

bool KermitEngine::SendText(int seq, std::uint8_t type, const char* text) {
    const std::size_t length = text != nullptr ? std::strlen(text) : 0;
    return SendPacket(seq, type, reinterpret_cast<const std::uint8_t*>(text), length);
}

KermitEngine::Got KermitEngine::ReadPacket(int timeoutMs) {
    const std::uint32_t start = TickCount();
    if (AbortCheck()) {
        return Got::kStop;
    }
    for (;;) {
        const std::uint32_t elapsed = TickCount() - start;
        const int left = elapsed < static_cast<std::uint32_t>(timeoutMs)
                             ? timeoutMs - static_cast<int>(elapsed)
                             : 0;
        const int c = ReadLinkByte(std::min(kSliceMs, left));
        if (c == LINK_NO_DATA) {
            if (left == 0) {
                if (timeoutMs > 0) {
                    reader_.Restart();
                }
                return Got::kTimeout;
            }
            if (AbortCheck()) {
                return Got::kStop;
            }
            continue;
        }
        if (c < 0) {
            return Got::kStop;
        }
        if ((c & 0x7F) == 0x03) {
            if (++ctrlCRun_ >= kCtrlCToCancel) {
                SetCode(TE_REMOTE_CANCEL);
                return Got::kStop;
            }
        } else {
            ctrlCRun_ = 0;
        }
        switch (reader_.Feed(static_cast<std::uint8_t>(c))) {
        case kermit::PacketReader::Result::kPacket:
            status_->blockLength_ = static_cast<std::int32_t>(reader_.Length());
            return Got::kPacket;
        case kermit::PacketReader::Result::kBad:
            return Got::kBad;
        case kermit::PacketReader::Result::kMore:
            break;
        }
    }
}

bool KermitEngine::CountError(int limitCode) {
    ++status_->errorCount_;
    ++status_->consecutiveErrors_;
    if (maxErrors_ > 0 && status_->consecutiveErrors_ >= maxErrors_) {
        SetCode(limitCode);
        return false;
    }
    return true;
}

// The error packet goes straight to the link: with the code set, the shared write routines
// would refuse it.
void KermitEngine::SendError() {
    const char* text = ErrorText(Code());
    const std::size_t n =
        kermit::BuildPacket(outArea_, seq_, 'E', reinterpret_cast<const std::uint8_t*>(text),
                            std::strlen(text), session_.framing);
    static_cast<void>(
        link_->WriteBlock(outArea_, static_cast<int>(n))); // the run has failed already
}

void KermitEngine::EndRun() {
    if (Code() != 0 && Code() != TE_REMOTE_CANCEL && buffer_ != nullptr) {
        SendError();
    }
    FinishFile();
    if (status_->fileCount_ == 0 || Code() != 0) {
        ReportFinal();
    }
    status_->fileName_ = "";
}

// ---- Sender ----

void KermitEngine::ProtocolSend(char*) {
    if (!FirstListedFile() || !SendInit()) {
        EndRun();
        return;
    }
    bool endBatch = false;
    do {
        if (!SendOneFile(endBatch)) {
            EndRun();
            return;
        }
        file_->ResetSize();
    } while (!endBatch && file_->NextFile(true));
    Exchange('B', nullptr, 0);
    EndRun();
}

bool KermitEngine::Exchange(std::uint8_t type, const std::uint8_t* data, std::size_t length) {
    const int limitCode = type == 'S' || type == 'B' ? TE_HANDSHAKE_ERRORS : TE_TOO_MANY_ERRORS;
    for (;;) {
        if (!SendPacket(seq_, type, data, length)) {
            return false;
        }
        for (;;) {
            const Got got = ReadPacket(session_.timeoutSeconds * 1000);
            if (got == Got::kStop) {
                return false;
            }
            if (got != Got::kPacket) {
                break;
            }
            const std::uint8_t answer = reader_.Type();
            const int seq = reader_.Seq();
            if (answer == 'E') {
                SetCode(TE_REMOTE_CANCEL);
                return false;
            }
            // A NAK for the next packet says this one arrived.
            if ((answer == 'Y' && seq == seq_) || (answer == 'N' && seq == ((seq_ + 1) & 63))) {
                answerLength_ = answer == 'Y' ? std::min(reader_.Length(), sizeof answer_) : 0;
                std::copy_n(reader_.Data(), answerLength_, answer_);
                seq_ = (seq_ + 1) & 63;
                status_->consecutiveErrors_ = 0;
                return true;
            }
            if (answer == 'N') {
                break;
            }
            // An answer to an earlier try, or our own packet echoed: wait for the real one.
        }
        if (!CountError(limitCode)) {
            return false;
        }
    }
}

bool KermitEngine::SendInit() {
    seq_ = 0;
    session_ = kermit::Session{};
    reader_.SetCheck(1);
    reader_.SetStripParity(true);
    const kermit::InitParams own = OwnParams();
    const std::size_t n = kermit::WriteInit(own, dataArea_);
    if (!Exchange('S', dataArea_, n)) {
        return false;
    }
    Settle(own, kermit::ReadInit(answer_, answerLength_));
    return true;
}

std::size_t KermitEngine::BuildAttributes(std::uint8_t* out) {
    std::size_t n = 0;
    const auto add = [&](char tag, const char* value) {
        const std::size_t length = std::strlen(value);
        out[n++] = static_cast<std::uint8_t>(tag);
        out[n++] = kermit::ToChar(static_cast<int>(length));
        std::memcpy(out + n, value, length);
        n += length;
    };
    char text[32];
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(status_->fileSize_));
    add('1', text);
    std::snprintf(text, sizeof text, "%ld", static_cast<long>((status_->fileSize_ + 1023) / 1024));
    add('!', text);
    add('"', "B8");
    file_->FetchFileTime();
    const std::time_t time = file_->GetUnixTime();
    if (time > 0) {
        if (const std::tm* local = std::localtime(&time); local != nullptr) {
            std::strftime(text, sizeof text, "%Y%m%d %H:%M:%S", local);
            add('#', text);
        }
    }
    return n;
}

// Keeps at least a longest run of file bytes waiting (unless the file ends first).
bool KermitEngine::FillPending() {
    if (pendingEnd_ - pendingStart_ >= 94 || fileEnded_) {
        return true;
    }
    std::memmove(pendingArea_, pendingArea_ + pendingStart_, pendingEnd_ - pendingStart_);
    pendingEnd_ -= pendingStart_;
    pendingStart_ = 0;
    const auto room = static_cast<std::int32_t>(kPendingSize - pendingEnd_);
    const std::int32_t n = file_->Read(pendingArea_ + pendingEnd_, room);
    if (n <= 0) {
        fileEnded_ = true;
    } else {
        pendingEnd_ += static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t KermitEngine::NextData(std::size_t room, std::size_t& raw) {
    std::size_t used = 0;
    raw = 0;
    for (;;) {
        FillPending();
        if (pendingStart_ == pendingEnd_) {
            break;
        }
        std::size_t w = 0;
        const std::size_t taken =
            kermit::EncodeData(session_.out, pendingArea_ + pendingStart_,
                               pendingEnd_ - pendingStart_, dataArea_ + used, room - used, w);
        if (taken == 0) {
            break;
        }
        pendingStart_ += taken;
        raw += taken;
        used += w;
    }
    return used;
}

// ---- Sender: sliding windows ----

bool KermitEngine::SendWindowed(std::size_t fullRoom, bool& skipped, bool& endBatch) {
    sendWindow_.Open(session_.window, kermit::PacketRoom(fullRoom, session_.framing), seq_);
    bool fileDone = false;
    // As without windows: after a packet sent again the next ones are shorter, and they grow
    // back after good ones.
    std::size_t room = fullRoom;
    std::int32_t errors = status_->errorCount_;
    std::int32_t goodFrom = status_->blockCount_;
    // The time between answers that slide the window, as last seen (decaying slowly): with
    // nothing more to send, an answer that takes three times that (at least a second) is taken
    // as lost, as a peer that ignores a damaged packet leaves it, rather than waiting for the
    // whole time-out.
    std::int32_t slid = status_->blockCount_;
    std::uint32_t lastSlide = TickCount();
    int gapMs = 0;
    int gaps = 0;
    const int timeoutMs = session_.timeoutSeconds * 1000;
    const auto adapt = [&] {
        if (status_->blockCount_ != slid) {
            const std::uint32_t now = TickCount();
            gapMs = std::max(static_cast<int>(now - lastSlide), gapMs - gapMs / 8);
            lastSlide = now;
            slid = status_->blockCount_;
            ++gaps;
        }
        if (status_->errorCount_ != errors) {
            errors = status_->errorCount_;
            room = std::max(std::min(fullRoom, kShortRoom), room / 2);
            goodFrom = status_->blockCount_;
        } else if (status_->blockCount_ - goodFrom >= kGrowAfter && room < fullRoom) {
            room = std::min(fullRoom, room * 2);
            goodFrom = status_->blockCount_;
        }
    };
    for (;;) {
        adapt();
        // Keep the window full while there is data, taking any answers that wait meanwhile.
        while (!skipped && !fileDone && !sendWindow_.Full()) {
            std::size_t raw = 0;
            const std::size_t used = NextData(room, raw);
            if (used == 0) {
                fileDone = true;
                break;
            }
            std::uint8_t* out = sendWindow_.NextArea();
            const std::size_t n = kermit::BuildPacket(out, sendWindow_.Next(), 'D', dataArea_, used,
                                                      session_.framing);
            sendWindow_.Add(n, raw);
            if (SendBlock(out, static_cast<int>(n)) < 0) {
                return false;
            }
            for (Got got = ReadPacket(0); got != Got::kTimeout; got = ReadPacket(0)) {
                if (!WindowAnswer(got, skipped, endBatch)) {
                    return false;
                }
                adapt();
            }
        }
        if (sendWindow_.Empty()) {
            seq_ = sendWindow_.Next();
            return true;
        }
        // Nothing more to send: a packet whose request was lost goes again at once, rather
        // than after the time-out.
        const int waitMs = gaps >= 2 ? std::clamp(3 * gapMs, 1000, timeoutMs) : timeoutMs;
        const Got got = sendWindow_.OldestStalled() ? Got::kTimeout : ReadPacket(waitMs);
        if (!WindowAnswer(got, skipped, endBatch)) {
            return false;
        }
    }
}

bool KermitEngine::WindowAnswer(Got got, bool& skipped, bool& endBatch) {
    if (got == Got::kStop) {
        return false;
    }
    int resend = -1;
    if (got != Got::kPacket) {
        // Silence or a damaged answer: the oldest packet goes again.
        resend = sendWindow_.Oldest();
    } else if (reader_.Type() == 'E') {
        SetCode(TE_REMOTE_CANCEL);
        return false;
    } else if (reader_.Type() == 'Y') {
        sendWindow_.Acknowledge(reader_.Seq());
        if (sendWindow_.Holds(reader_.Seq()) && reader_.Length() > 0 &&
            (reader_.Data()[0] == 'X' || reader_.Data()[0] == 'Z')) {
            skipped = true;
            endBatch = endBatch || reader_.Data()[0] == 'Z';
        }
    } else if (reader_.Type() == 'N') {
        if (sendWindow_.Holds(reader_.Seq())) {
            resend = reader_.Seq();
        } else if (reader_.Seq() == sendWindow_.Next()) {
            // It asks for the one not yet sent: it may have every packet out, or not (a peer
            // may mean "the one after the last I have"); the oldest goes again.
            resend = sendWindow_.Oldest();
        }
    }
    std::size_t fileBytes = 0;
    const int slid = sendWindow_.Slide(fileBytes);
    if (slid > 0) {
        status_->position_ += static_cast<std::int32_t>(fileBytes);
        status_->blockCount_ += slid;
        status_->consecutiveErrors_ = 0;
    }
    if (resend < 0 || sendWindow_.Empty()) {
        return true;
    }
    if (!CountError(TE_TOO_MANY_ERRORS)) {
        return false;
    }
    std::size_t length = 0;
    const std::uint8_t* packet = sendWindow_.Packet(resend, length);
    sendWindow_.Resent(resend);
    return SendBlock(packet, static_cast<int>(length)) >= 0;
}

bool KermitEngine::SendStopAndWait(std::size_t fullRoom, bool& skipped, bool& endBatch) {
    // On a noisy line long packets are lost more often than short ones: after a packet that
    // needed another try the next ones are shorter, and they grow back after good ones.
    std::size_t room = fullRoom;
    int goodRun = 0;
    while (!skipped) {
        std::size_t raw = 0;
        const std::size_t used = NextData(room, raw);
        if (used == 0) {
            break;
        }
        const std::int32_t errorsBefore = status_->errorCount_;
        if (!Exchange('D', dataArea_, used)) {
            return false;
        }
        if (status_->errorCount_ != errorsBefore) {
            room = std::max(std::min(fullRoom, kShortRoom), room / 2);
            goodRun = 0;
        } else if (++goodRun >= kGrowAfter && room < fullRoom) {
            room = std::min(fullRoom, room * 2);
            goodRun = 0;
        }
        status_->position_ += static_cast<std::int32_t>(raw);
        ++status_->blockCount_;
        if (answerLength_ > 0 && (answer_[0] == 'X' || answer_[0] == 'Z')) {
            skipped = true;
            endBatch = answer_[0] == 'Z';
        }
    }
    return true;
}

bool KermitEngine::SendOneFile(bool& endBatch) {
    status_->position_ = 0;
    status_->errorCount_ = 0;
    status_->blockCount_ = 0;
    status_->fileName_ = file_->GetName();
    if (!TakeOpenedFile(file_->Open(status_->fileName_, "rb"))) {
        return false;
    }
    const std::size_t check = static_cast<std::size_t>(session_.framing.check);
    const auto length = static_cast<std::size_t>(session_.sendLength);
    const std::size_t fullRoom =
        length > static_cast<std::size_t>(kShortLongest) ? length - 9 - check : length - 2 - check;

    // The name without its folders.
    const char* name = status_->fileName_;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c == '/' || *c == '\\' || *c == ':') {
            name = c + 1;
        } else if (IsLeadByte(*c) && c[1] != '\0') {
            ++c;
        }
    }
    std::size_t written = 0;
    kermit::EncodeData(session_.out, reinterpret_cast<const std::uint8_t*>(name), std::strlen(name),
                       dataArea_, fullRoom, written);
    if (!Exchange('F', dataArea_, written)) {
        return false;
    }
    bool skipped = false;
    if ((session_.capas & kermit::kCapAttributes) != 0) {
        const std::size_t n = BuildAttributes(dataArea_);
        if (!Exchange('A', dataArea_, n)) {
            return false;
        }
        skipped = answerLength_ > 0 && answer_[0] == 'N';
    }
    pendingStart_ = pendingEnd_ = 0;
    fileEnded_ = false;
    if (!skipped && session_.window > 1) {
        if (!SendWindowed(fullRoom, skipped, endBatch)) {
            return false;
        }
    }
    if (!skipped && session_.window == 1 && !SendStopAndWait(fullRoom, skipped, endBatch)) {
        return false;
    }
    const std::uint8_t discard = 'D';
    if (!Exchange('Z', &discard, skipped ? 1 : 0)) {
        return false;
    }
    FinishFile();
    if (skipped) {
        --status_->fileCount_;
        status_->Update(TE_FILE_SKIPPED);
    } else {
        ReportFinal();
    }
    return true;
}

// ---- Receiver ----

void KermitEngine::ProtocolReceive(char*) {
    if (ReceiveInit()) {
        ReceiveBatch();
    }
    EndRun();
}

bool KermitEngine::ReceiveInit() {
    seq_ = 0;
    session_ = kermit::Session{};
    reader_.SetCheck(1);
    reader_.SetStripParity(true);
    for (;;) {
        const Got got = ReadPacket(kOwnTimeSeconds * 1000);
        if (got == Got::kStop) {
            return false;
        }
        if (got == Got::kPacket && reader_.Type() == 'E') {
            SetCode(TE_REMOTE_CANCEL);
            return false;
        }
        if (got == Got::kPacket && reader_.Type() == 'S') {
            const kermit::InitParams offered = kermit::ReadInit(reader_.Data(), reader_.Length());
            const kermit::InitParams answer = kermit::AnswerInit(OwnParams(), offered);
            session_.framing = kermit::Framing{1, offered.eol, offered.npad, offered.padc};
            std::uint8_t fields[32];
            const std::size_t n = kermit::WriteInit(answer, fields);
            lastAckLength_ = kermit::BuildPacket(lastAck_, 0, 'Y', fields, n, session_.framing);
            lastAckSeq_ = 0;
            if (SendBlock(lastAck_, static_cast<int>(lastAckLength_)) < 0) {
                return false;
            }
            Settle(answer, offered);
            if (session_.window > 1) {
                receiveWindow_.Open(session_.window, kPacketAreaSize);
            }
            return true;
        }
        // Nothing yet, or a packet we cannot take: ask for the Send-Init.
        if (!SendText(0, 'N', nullptr)) {
            return false;
        }
    }
}

bool KermitEngine::Acknowledge(int seq, const char* text) {
    const std::size_t length = text != nullptr ? std::strlen(text) : 0;
    lastAckLength_ = kermit::BuildPacket(
        lastAck_, seq, 'Y', reinterpret_cast<const std::uint8_t*>(text), length, session_.framing);
    lastAckSeq_ = seq;
    if (SendBlock(lastAck_, static_cast<int>(lastAckLength_)) < 0) {
        if (Code() == 0) {
            SetCode(TE_ACK_FAILED);
        }
        return false;
    }
    return true;
}

void KermitEngine::ReceiveBatch() {
    int expected = 1;
    for (;;) {
        const Got got = ReadPacket(session_.timeoutSeconds * 1000);
        if (got == Got::kStop) {
            return;
        }
        const std::uint8_t type = got == Got::kPacket ? reader_.Type() : 0;
        if (type == 'E') {
            SetCode(TE_REMOTE_CANCEL);
            return;
        }
        if (type == 'Y' || type == 'N') {
            continue; // our own answer echoed
        }
        if (type == 'D' && session_.window > 1 && reader_.Seq() != expected) {
            bool failed = false;
            if (TakeOutOfOrder(expected, failed)) {
                if (failed) {
                    return;
                }
                continue;
            }
        }
        if (got != Got::kPacket || reader_.Seq() != expected) {
            if (got == Got::kPacket && reader_.Seq() == lastAckSeq_) {
                // The sender missed our answer: the same again.
                if (SendBlock(lastAck_, static_cast<int>(lastAckLength_)) < 0) {
                    return;
                }
                continue;
            }
            if (!CountError(TE_TOO_MANY_ERRORS) || !SendText(expected, 'N', nullptr)) {
                return;
            }
            continue;
        }
        const char* answer = nullptr;
        switch (type) {
        case 'F':
            if (!TakeFileHeader()) {
                return;
            }
            break;
        case 'A':
            TakeAttributes(reader_.Data(), reader_.Length());
            if (!declined_ && !OpenReceivedFile()) {
                return;
            }
            answer = declined_ ? "N" : "Y";
            break;
        case 'D':
            if (!TakeData(reader_.Data(), reader_.Length())) {
                return;
            }
            answer = declined_ ? "X" : nullptr;
            break;
        case 'Z':
            if (!EndReceivedFile(reader_.Length() > 0 && reader_.Data()[0] == 'D')) {
                return;
            }
            break;
        default:
            break; // B ends the batch below; a text header (X) carries nothing to keep
        }
        if (!Acknowledge(expected, answer)) {
            return;
        }
        status_->consecutiveErrors_ = 0;
        if (type == 'B') {
            return;
        }
        expected = (expected + 1) & 63;
        if (session_.window > 1 && !TakeKept(expected)) {
            return;
        }
    }
}

// ---- Receiver: sliding windows ----

bool KermitEngine::TakeOutOfOrder(int expected, bool& failed) {
    const int seq = reader_.Seq();
    const char* answer = declined_ ? "X" : nullptr;
    if (receiveWindow_.Behind(expected, seq)) {
        failed = !Acknowledge(seq, answer); // taken already: its answer was lost
        return true;
    }
    if (!receiveWindow_.Ahead(expected, seq)) {
        return false;
    }
    const int position = kermit::SeqAhead(expected, seq);
    if (!receiveWindow_.Held(position)) {
        // Ask for the packets missing between the last one held and this one (those before
        // were asked for when that one arrived).
        for (int p = position - 1; p >= 0 && !receiveWindow_.Held(p); --p) {
            if (!SendText((expected + p) & 63, 'N', nullptr)) {
                failed = true;
                return true;
            }
        }
        ++status_->errorCount_;
        receiveWindow_.Keep(position, 'D', reader_.Data(), reader_.Length());
    }
    failed = !Acknowledge(seq, answer);
    return true;
}

bool KermitEngine::TakeKept(int& expected) {
    receiveWindow_.Shift();
    std::uint8_t type = 0;
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
    while (receiveWindow_.Next(type, data, length)) {
        if (!TakeData(data, length)) {
            return false;
        }
        receiveWindow_.Shift();
        expected = (expected + 1) & 63;
    }
    return true;
}

void KermitEngine::ResetReceivedFile() {
    haveHeader_ = false;
    declined_ = false;
    declinedCode_ = 0;
}

bool KermitEngine::TakeFileHeader() {
    FinishFile(); // a file the sender never ended
    ResetReceivedFile();
    char offered[FileAccess::kNameSize];
    std::size_t position = 0;
    const long n = kermit::DecodeData(session_.in, reader_.Data(), reader_.Length(), position,
                                      reinterpret_cast<std::uint8_t*>(offered), sizeof offered - 1);
    const std::size_t length = n > 0 ? static_cast<std::size_t>(n) : 0;
    status_->position_ = 0;
    status_->errorCount_ = 0;
    status_->blockCount_ = 0;
    status_->fileSize_ = 0;
    status_->fileTime_ = -1;
    status_->systemError_ = 0;
    file_->ResetSize();
    bool taken;
    if (file_->NextFile(false)) {
        taken = std::strlen(file_->GetName()) < sizeof nameArea_;
        std::snprintf(nameArea_, sizeof nameArea_, "%s", file_->GetName());
    } else {
        taken = n >= 0 &&
                TakeOfferedName(std::string_view(offered, length), nameArea_, sizeof nameArea_);
    }
    haveHeader_ = true;
    if (!taken) {
        declinedCode_ = TE_FILE_SKIPPED;
    } else {
        const int exists = FileExists(nameArea_);
        if (exists == OUT_OF_MEMORY) {
            SetCode(OUT_OF_MEMORY);
            return false;
        }
        if (exists && !overwriteAlways_) {
            declinedCode_ = TE_FILE_EXISTS;
        }
    }
    if (declinedCode_ != 0) {
        status_->fileName_ = nameArea_;
        if (!skipDeclined_) {
            SetCode(declinedCode_);
            return false;
        }
        declined_ = true;
        status_->Update(declinedCode_);
        return !AbortCheck();
    }
    return true;
}

void KermitEngine::TakeAttributes(const std::uint8_t* data, std::size_t length) {
    long long exact = -1;
    long long kilobytes = -1;
    std::size_t i = 0;
    while (i + 1 < length) {
        const std::uint8_t tag = data[i];
        const int n = kermit::UnChar(data[i + 1]);
        if (n < 0 || i + 2 + static_cast<std::size_t>(n) > length) {
            break;
        }
        const char* value = reinterpret_cast<const char*>(data + i + 2);
        const auto size = static_cast<std::size_t>(n);
        if (tag == '1') {
            exact = LeadingNumber(value, size);
            if (exact < 0) {
                exact = -2;
            }
        } else if (tag == '!') {
            kilobytes = LeadingNumber(value, size);
        } else if (tag == '#') {
            const std::int32_t time = ParseDate(value, size);
            if (time > 0) {
                status_->fileTime_ = time;
            }
        }
        i += 2 + size;
    }
    if (exact == -2 || (exact == -1 && kilobytes > 0x7FFFFFFFLL / 1024)) {
        // Larger than a 32-bit position can reach.
        if (!declined_) {
            declined_ = true;
            declinedCode_ = TE_FILE_SKIPPED;
            status_->fileName_ = nameArea_;
            status_->Update(declinedCode_);
        }
        return;
    }
    if (exact >= 0) {
        status_->fileSize_ = static_cast<std::int32_t>(exact);
    } else if (kilobytes >= 0) {
        status_->fileSize_ = static_cast<std::int32_t>(kilobytes * 1024);
    }
}

bool KermitEngine::OpenReceivedFile() {
    if (fileOpen_ || declined_) {
        return true;
    }
    if (!haveHeader_) {
        SetCode(TE_BAD_HEADER);
        return false;
    }
    status_->fileName_ = nameArea_;
    const int opened = file_->Open(nameArea_, "wb");
    if (opened != 0 && skipDeclined_) {
        status_->systemError_ = file_->LastError();
        declined_ = true;
        declinedCode_ = TE_OPEN_FAILED;
        status_->Update(TE_OPEN_FAILED);
        return !AbortCheck();
    }
    return TakeOpenedFile(opened);
}

bool KermitEngine::TakeData(const std::uint8_t* data, std::size_t length) {
    if (!OpenReceivedFile()) {
        return false;
    }
    std::size_t position = 0;
    while (position < length) {
        const long n =
            kermit::DecodeData(session_.in, data, length, position, dataArea_, kDataAreaSize);
        if (n < 0) {
            SetCode(TE_BAD_HEADER);
            return false;
        }
        const auto count = static_cast<std::int32_t>(n);
        if (!declined_ && count > 0 && file_->Write(dataArea_, count) < count) {
            status_->systemError_ = file_->LastError();
            SetCode(TE_WRITE_FAILED);
            return false;
        }
        status_->position_ += count;
    }
    ++status_->blockCount_;
    return true;
}

bool KermitEngine::EndReceivedFile(bool discardedBySender) {
    if (!haveHeader_) {
        return true; // the end of a file whose header we already ended
    }
    if (!OpenReceivedFile()) {
        return false;
    }
    if (!declined_) {
        if (discardedBySender) {
            // What arrived stays, with the time of its last write.
            status_->fileTime_ = -1;
            FinishFile();
            --status_->fileCount_;
            status_->Update(TE_FILE_SKIPPED);
        } else {
            FinishFile();
            ReportFinal();
        }
    }
    ResetReceivedFile();
    return true;
}

} // namespace tollan
