// ZModem framing, shared by both directions: the escape set, hex and binary headers with CRC-16
// or CRC-32, data subpackets and their frame ends, and the reading side with the header search,
// its garbage limit and time-outs, and the five-CAN cancel.
#include "engine/zmodem_engine.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tollan {
namespace {

constexpr int kByteTimeoutMs = 2500;   // one byte of a header or a subpacket
constexpr int kSearchTimeoutMs = 1000; // one slice of the header search
constexpr int kTrailerTimeoutMs = 55;  // the CR LF after a hex header
constexpr int kTrailerBytes = 5;
constexpr int kCancelRun = 5; // CANs in a row that cancel

constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
constexpr int kNak = 0x15;

// Bytes sent as ZDLE followed by the byte XOR 0x40.
constexpr std::array<bool, 256> MakeEscapeSet() {
    std::array<bool, 256> set{};
    for (int b : {0x0D, 0x10, 0x11, 0x13, 0x18, 0x8D, 0x90, 0x91, 0x93}) {
        set[b] = true;
    }
    return set;
}
constexpr std::array<bool, 256> kEscaped = MakeEscapeSet();

bool IsFlowControl(int c) {
    return c >= 0 && ((c & 0x7F) == ZXON || (c & 0x7F) == ZXOFF);
}

int HexDigitValue(int c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Writes `b` at `out`, escaped when it must be; returns the position after it.
std::uint8_t* Escape(std::uint8_t* out, std::uint8_t b) {
    if (kEscaped[b]) {
        *out++ = ZDLE;
        *out++ = b ^ 0x40;
    } else {
        *out++ = b;
    }
    return out;
}

} // namespace

ZModemFraming::ZModemFraming(CommLink* link, TransferStatus* status)
    : TransferEngine(link, status) {
    status_->protocolId_ = kProtocolIdZModem;
    status_->checkType_ = kCheckCrc32;
}

int ZModemFraming::Prepare() {
    buffer_ = std::make_unique<std::uint8_t[]>(kReceiveSize + 1);
    out_.assign(kOutSize, 0);
    return TransferEngine::Prepare();
}

std::uint32_t ZModemFraming::HeaderValue() const {
    return static_cast<std::uint32_t>(headerData_[ZP0]) |
           static_cast<std::uint32_t>(headerData_[ZP1]) << 8 |
           static_cast<std::uint32_t>(headerData_[ZP2]) << 16 |
           static_cast<std::uint32_t>(headerData_[ZP3]) << 24;
}

void ZModemFraming::PutValue(std::uint8_t* data, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        data[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

bool ZModemFraming::CountError() {
    ++status_->errorCount_;
    ++status_->consecutiveErrors_;
    if (status_->consecutiveErrors_ > maxErrors_) {
        SetCode(TE_TOO_MANY_ERRORS);
        return true;
    }
    return false;
}

// --- Sending ---------------------------------------------------------------------------------

int ZModemFraming::SendHexHeader(int type, const std::uint8_t* data) {
    std::uint16_t crc = Crc16Update(static_cast<std::uint8_t>(type), 0);
    for (int i = 0; i < 4; ++i) {
        crc = Crc16Update(data[i], crc);
    }
    char text[32];
    int n = std::snprintf(text, sizeof text, "%c%c%cB%02x%02x%02x%02x%02x%04x\r\n", ZPAD, ZPAD,
                          ZDLE, type & 0xFF, data[0], data[1], data[2], data[3], crc);
    if (type != ZACK && type != ZFIN) {
        text[n++] = ZXON;
    }
    return SendBlock(reinterpret_cast<const std::uint8_t*>(text), n);
}

int ZModemFraming::SendBinHeader(int type, const std::uint8_t* data) {
    // ZPAD ZDLE format, then type, data and CRC, each byte escaped at worst.
    std::uint8_t header[3 + 2 * (1 + 4 + 4)];
    std::uint8_t* out = header;
    const std::uint8_t typeByte = static_cast<std::uint8_t>(type);
    *out++ = ZPAD;
    *out++ = ZDLE;
    if (peerFlags_ & CANFC32) {
        *out++ = ZBIN32;
        std::uint32_t crc = Crc32Update(typeByte, 0xFFFFFFFFu);
        out = Escape(out, typeByte);
        for (int i = 0; i < 4; ++i) {
            crc = Crc32Update(data[i], crc);
            out = Escape(out, data[i]);
        }
        crc = ~crc;
        for (int i = 0; i < 4; ++i) {
            out = Escape(out, static_cast<std::uint8_t>(crc >> (8 * i)));
        }
    } else {
        *out++ = ZBIN;
        std::uint16_t crc = Crc16Update(typeByte, 0);
        out = Escape(out, typeByte);
        for (int i = 0; i < 4; ++i) {
            crc = Crc16Update(data[i], crc);
            out = Escape(out, data[i]);
        }
        out = Escape(out, static_cast<std::uint8_t>(crc >> 8));
        out = Escape(out, static_cast<std::uint8_t>(crc));
    }
    return SendBlock(header, static_cast<int>(out - header));
}

int ZModemFraming::SendData(int length, int frameEnd) {
    const std::uint8_t end = static_cast<std::uint8_t>(frameEnd);
    std::uint8_t* out = out_.data();
    for (int i = 0; i < length; ++i) {
        out = Escape(out, buffer_[i]);
    }
    *out++ = ZDLE;
    *out++ = end;
    if (peerFlags_ & CANFC32) {
        std::uint32_t crc =
            crc32_.Compute(buffer_.get(), static_cast<std::size_t>(length), 0xFFFFFFFFu);
        crc = ~Crc32Update(end, crc);
        for (int i = 0; i < 4; ++i) {
            out = Escape(out, static_cast<std::uint8_t>(crc >> (8 * i)));
        }
    } else {
        std::uint16_t crc = static_cast<std::uint16_t>(
            crc16_.Compute(buffer_.get(), static_cast<std::size_t>(length), 0));
        crc = Crc16Update(end, crc);
        out = Escape(out, static_cast<std::uint8_t>(crc >> 8));
        out = Escape(out, static_cast<std::uint8_t>(crc));
    }
    if (frameEnd == ZCRCW) {
        *out++ = ZXON;
    }
    return SendBlock(out_.data(), static_cast<int>(out - out_.data()));
}

int ZModemFraming::SendPositionHeader(int type) {
    return SendPositionHeader(type, status_->position_);
}

int ZModemFraming::SendPositionHeader(int type, std::int32_t position) {
    if (AbortCheck()) {
        return Code();
    }
    std::uint8_t data[4];
    PutValue(data, static_cast<std::uint32_t>(position));
    return SendHexHeader(type, data);
}

// --- Reading bytes ---------------------------------------------------------------------------

// The next byte: taken at once when one is waiting; otherwise, unless the run must stop, waited
// for up to `timeoutMs`.
int ZModemFraming::WaitByte(int timeoutMs) {
    // A byte already waiting is taken straight from the port (what the link's read with no
    // time-out does, without looking at the clock for every byte of a subpacket).
    const int c = link_->Port().NextByte();
    if (c != LINK_NO_DATA) {
        return c;
    }
    return WaitArrival(timeoutMs);
}

int ZModemFraming::WaitArrival(int timeoutMs) {
    if (AbortCheck()) {
        return Code();
    }
    return ReadLinkByte(timeoutMs);
}

int ZModemFraming::ReadPlainByte() {
    for (;;) {
        int c = WaitByte(kByteTimeoutMs);
        if (c < 0) {
            return c;
        }
        c &= 0x7F;
        if (c != ZXON && c != ZXOFF) {
            return c;
        }
    }
}

int ZModemFraming::ReadEscapedByte() {
    return ReadEscapedFrom(WaitByte(kByteTimeoutMs));
}

int ZModemFraming::ReadEscapedFrom(int first) {
    int c = first;
    // XON and XOFF (with or without the parity bit) always travel escaped: bare ones are flow
    // control that a modem or the sender's line put in, and are passed over.
    while (IsFlowControl(c)) {
        c = WaitByte(kByteTimeoutMs);
    }
    if (c != ZDLE) {
        return c;
    }
    int cans = 1;
    for (;;) {
        c = WaitByte(kByteTimeoutMs);
        if (c < 0) {
            return c;
        }
        if (IsFlowControl(c)) {
            continue;
        }
        if (c == ZDLE) {
            if (++cans >= kCancelRun) {
                SetCode(TE_REMOTE_CANCEL);
                return TE_REMOTE_CANCEL;
            }
            continue;
        }
        if (c >= ZCRCE && c <= ZCRCW) {
            return 0x100 | c;
        }
        if (c == 'l') {
            return 0x7F;
        }
        if (c == 'm') {
            return 0xFF;
        }
        return c ^ 0x40;
    }
}

int ZModemFraming::ReadHexByte() {
    int value = 0;
    for (int i = 0; i < 2; ++i) {
        const int c = ReadPlainByte();
        if (c < 0) {
            return c;
        }
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            return TE_BAD_HEADER;
        }
        value = value << 4 | digit;
    }
    return value;
}

// --- Reading headers and subpackets ----------------------------------------------------------

int ZModemFraming::SearchHeader() {
    for (;;) {
        // Up to a ZPAD.
        int silentMs = 0;
        int cans = pendingCans_;
        pendingCans_ = 0;
        for (;;) {
            int c = link_->Port().NextByte();
            int slice = 0;
            if (c == LINK_NO_DATA) {
                if (AbortCheck()) {
                    return Code();
                }
                slice = std::min(kSearchTimeoutMs, searchSilenceMs_ - silentMs);
                c = ReadLinkByte(slice);
            }
            if (c == LINK_NO_DATA) {
                silentMs += slice;
                if (silentMs >= searchSilenceMs_) {
                    return LINK_NO_DATA;
                }
                continue;
            }
            if (c < 0) {
                return c;
            }
            silentMs = 0;
            if (c == ZDLE) {
                if (++cans >= kCancelRun) {
                    SetCode(TE_REMOTE_CANCEL);
                    FinishFile();
                    return TE_REMOTE_CANCEL;
                }
                continue;
            }
            cans = 0;
            if (c == ZPAD) {
                break;
            }
            if (startChars_ >= 0) {
                // An XModem receiver repeats its start character and sends nothing else.
                startChars_ = c == 'C' || c == kNak ? startChars_ + 1 : 0;
                if (startChars_ >= kStartCharsSeen) {
                    return LINK_NO_DATA;
                }
            }
            if (++garbageCount_ >= kGarbageLimit) {
                return LINK_NO_DATA;
            }
        }
        // Past further ZPADs to ZDLE and the format byte.
        for (;;) {
            const int c = ReadPlainByte();
            if (c < 0) {
                return c;
            }
            if (c == ZDLE) {
                return ReadPlainByte();
            }
            if (c != ZPAD) {
                break;
            }
        }
        if (++garbageCount_ >= kGarbageLimit) {
            return LINK_NO_DATA;
        }
    }
}

int ZModemFraming::ReadUncountedHeader() {
    garbageCount_ = 0;
    const int format = SearchHeader();
    if (format < 0) {
        if (Code() < 0) {
            return Code(); // the run ends (a link fault, a cancel); silence or garbage does not
        }
        headerFormat_ = LINK_NO_DATA;
        return TE_BAD_HEADER;
    }
    headerFormat_ = format;
    std::uint8_t raw[9];
    if (format == ZHEX) {
        hexTrailerSeen_ = false;
        std::uint16_t crc = 0;
        for (int i = 0; i < 7; ++i) {
            const int c = ReadHexByte();
            if (c < 0) {
                return c;
            }
            raw[i] = static_cast<std::uint8_t>(c);
            crc = Crc16Update(raw[i], crc);
        }
        if (crc != 0) {
            return TE_BAD_CRC16;
        }
        // The CR LF (and the XON) the sender puts after the header.
        for (int i = 0; i < kTrailerBytes; ++i) {
            const int c = link_->ReadByte(kTrailerTimeoutMs);
            if (c < 0) {
                break;
            }
            const int b = c & 0x7F;
            if (b == kLf) {
                hexTrailerSeen_ = true;
                break;
            }
            if (b != kCr && b != ZXON) {
                return TE_BAD_HEADER;
            }
        }
    } else if (format == ZBIN || format == ZBIN32) {
        const int count = format == ZBIN ? 7 : 9;
        for (int i = 0; i < count; ++i) {
            const int c = ReadEscapedByte();
            if (c < 0) {
                return c;
            }
            if (c > 0xFF) {
                return TE_BAD_HEADER; // a frame end has no place in a header
            }
            raw[i] = static_cast<std::uint8_t>(c);
        }
        if (format == ZBIN) {
            std::uint16_t crc = 0;
            for (int i = 0; i < 7; ++i) {
                crc = Crc16Update(raw[i], crc);
            }
            if (crc != 0) {
                return TE_BAD_CRC16;
            }
        } else {
            std::uint32_t crc = 0xFFFFFFFFu;
            for (int i = 0; i < 9; ++i) {
                crc = Crc32Update(raw[i], crc);
            }
            if (crc != kCrc32Residue) {
                return TE_BAD_CRC32;
            }
        }
    } else {
        return TE_BAD_HEADER;
    }
    for (int i = 0; i < 4; ++i) {
        headerData_[i] = raw[1 + i];
    }
    return raw[0];
}

int ZModemFraming::ReadHeader(OnBadHeader onBad) {
    for (;;) {
        const int result = ReadUncountedHeader();
        if (result >= 0) {
            return result;
        }
        // A negative result is the run's end when the code says so (a time-out, for one, is not).
        if (Code() < 0) {
            return Code();
        }
        if (CountError()) {
            return Code();
        }
        if (onBad == OnBadHeader::kReturnCode) {
            return result;
        }
        // A line that delivers garbage without pause never leaves the search waiting, so the
        // cancel and the inactivity time-out are looked at between searches as well.
        if (AbortCheck()) {
            return Code();
        }
    }
}

int ZModemFraming::ReadData() {
    status_->blockLength_ = 0;
    int length = 0;
    int c;
    CommPort& port = link_->Port();
    for (;;) {
        // The plain bytes that are already waiting, without a call per byte.
        c = port.NextByte();
        if (c == LINK_NO_DATA) {
            c = WaitArrival(kByteTimeoutMs);
        }
        if (c == ZDLE || IsFlowControl(c)) {
            c = ReadEscapedFrom(c);
        }
        if (c < 0) {
            return c;
        }
        if (c > 0xFF) {
            break;
        }
        if (length >= kReceiveSize) {
            return LINK_WRITE_SHORT;
        }
        buffer_[length++] = static_cast<std::uint8_t>(c);
        status_->blockLength_ = length;
    }
    const std::uint8_t end = static_cast<std::uint8_t>(c);
    if (headerFormat_ == ZBIN32) {
        std::uint32_t crc =
            crc32_.Compute(buffer_.get(), static_cast<std::size_t>(length), 0xFFFFFFFFu);
        crc = Crc32Update(end, crc);
        for (int i = 0; i < 4; ++i) {
            c = ReadEscapedByte();
            if (c < 0) {
                return c;
            }
            if (c > 0xFF) {
                return TE_BAD_CRC32;
            }
            crc = Crc32Update(static_cast<std::uint8_t>(c), crc);
        }
        if (crc != kCrc32Residue) {
            return TE_BAD_CRC32;
        }
    } else {
        std::uint16_t crc = static_cast<std::uint16_t>(
            crc16_.Compute(buffer_.get(), static_cast<std::size_t>(length), 0));
        crc = Crc16Update(end, crc);
        int received = 0;
        for (int i = 0; i < 2; ++i) {
            c = ReadEscapedByte();
            if (c < 0) {
                return c;
            }
            if (c > 0xFF) {
                return TE_BAD_CRC16;
            }
            received = received << 8 | c;
        }
        if (received != crc) {
            return TE_BAD_CRC16;
        }
    }
    return end;
}

} // namespace tollan
