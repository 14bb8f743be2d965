#include "engine/kermit_packet.h"

#include <algorithm>
#include <initializer_list>

namespace tollan::kermit {
namespace {

constexpr int kLongHeader = 6; // length, sequence, type, two extended-length bytes, header check
constexpr int kShortHeader = 3;
constexpr std::size_t kLongestRun = 94;

bool IsInit(std::uint8_t type) {
    return type == 'S' || type == 'I';
}

std::uint8_t FoldedSum(const std::uint8_t* data, std::size_t length) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < length; ++i) {
        sum += data[i];
    }
    return ToChar(static_cast<int>((sum + ((sum & 0xC0) >> 6)) & 0x3F));
}

// The control characters that keep their prefix where the others may travel bare: NUL, the
// packet mark, Ctrl-C and Ctrl-D, both line ends, the shifts, DLE, XON and XOFF, Ctrl-U, CAN,
// Ctrl-Y and Ctrl-Z, and the escape keys of terminal programs (Ctrl-\, Ctrl-], Ctrl-^): the
// characters that lines, modems, flow control, terminal drivers and terminal programs act on.
// With bit 8 set, those that a device looking at 7 bits still takes for what they are (all but
// NUL, the shifts, CAN and Ctrl-Y) keep it too, as does 0xFF (telnet's command byte). DEL
// travels bare.
constexpr std::uint32_t Mask(std::initializer_list<int> controls) {
    std::uint32_t mask = 0;
    for (const int c : controls) {
        mask |= 1u << c;
    }
    return mask;
}
constexpr std::uint32_t kTouchyHigh = Mask({1, 3, 4, 10, 13, 16, 17, 19, 21, 26, 28, 29, 30});
constexpr std::uint32_t kTouchyControls = kTouchyHigh | Mask({0, 14, 15, 24, 25});

// Whether `c` never travels bare: a printable character, 0xFF, or a control that keeps its
// prefix.
bool NeverBare(std::uint8_t c) {
    const unsigned low = c & 0x7Fu;
    if (c == 0x7F) {
        return false;
    }
    if (low < 32) {
        return (((c & 0x80) != 0 ? kTouchyHigh : kTouchyControls) & (1u << low)) != 0;
    }
    return true;
}

// One byte with its prefixes; returns the length (at most 4).
std::size_t EncodeByte(const Prefixing& p, std::uint8_t c, std::uint8_t* out) {
    std::size_t n = 0;
    if (p.qbin != 0 && (c & 0x80) != 0) {
        out[n++] = p.qbin;
        c &= 0x7F;
    }
    const std::uint8_t low = c & 0x7F;
    if (p.bareControls && !NeverBare(c)) {
        out[n++] = c;
    } else if (low < 32 || low == 127) {
        out[n++] = p.qctl;
        out[n++] = Ctl(c);
    } else if (low == p.qctl || (p.qbin != 0 && low == p.qbin) || (p.rept != 0 && low == p.rept)) {
        out[n++] = p.qctl;
        out[n++] = c;
    } else {
        out[n++] = c;
    }
    return n;
}

int ReadNumber(const std::uint8_t* data, std::size_t length, std::size_t index, int fallback) {
    return index < length ? UnChar(data[index]) : fallback;
}

} // namespace

std::uint16_t KermitCrc(const std::uint8_t* data, std::size_t length) {
    unsigned crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? (crc >> 1) ^ 0x8408 : crc >> 1;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

void WriteBlockCheck(int type, const std::uint8_t* data, std::size_t length, std::uint8_t* out) {
    if (type == 3) {
        const unsigned crc = KermitCrc(data, length);
        out[0] = ToChar(static_cast<int>((crc >> 12) & 0x0F));
        out[1] = ToChar(static_cast<int>((crc >> 6) & 0x3F));
        out[2] = ToChar(static_cast<int>(crc & 0x3F));
    } else if (type == 2) {
        unsigned sum = 0;
        for (std::size_t i = 0; i < length; ++i) {
            sum += data[i];
        }
        out[0] = ToChar(static_cast<int>((sum >> 6) & 0x3F));
        out[1] = ToChar(static_cast<int>(sum & 0x3F));
    } else {
        out[0] = FoldedSum(data, length);
    }
}

std::size_t EncodeData(const Prefixing& prefixing, const std::uint8_t* src, std::size_t length,
                       std::uint8_t* dest, std::size_t room, std::size_t& written) {
    std::size_t taken = 0;
    written = 0;
    while (taken < length) {
        const std::uint8_t c = src[taken];
        std::size_t run = 1;
        if (prefixing.rept != 0) {
            while (taken + run < length && run < kLongestRun && src[taken + run] == c) {
                ++run;
            }
        }
        std::uint8_t unit[6];
        const std::size_t single = EncodeByte(prefixing, c, unit + 2);
        if (run > 1 && 2 + single < run * single) {
            if (written + 2 + single > room) {
                break;
            }
            unit[0] = prefixing.rept;
            unit[1] = ToChar(static_cast<int>(run));
            std::copy(unit, unit + 2 + single, dest + written);
            written += 2 + single;
            taken += run;
        } else {
            if (written + single > room) {
                break;
            }
            std::copy(unit + 2, unit + 2 + single, dest + written);
            written += single;
            ++taken;
        }
    }
    return taken;
}

long DecodeData(const Prefixing& prefixing, const std::uint8_t* src, std::size_t length,
                std::size_t& position, std::uint8_t* out, std::size_t room) {
    std::size_t produced = 0;
    std::size_t i = position;
    while (i < length) {
        std::size_t count = 1;
        std::uint8_t c = src[i++];
        if (prefixing.rept != 0 && c == prefixing.rept) {
            if (i + 1 >= length) {
                return -1;
            }
            const int n = UnChar(src[i++]);
            count = n > 0 ? static_cast<std::size_t>(n) : 0;
            c = src[i++];
        }
        std::uint8_t high = 0;
        if (prefixing.qbin != 0 && c == prefixing.qbin) {
            if (i >= length) {
                return -1;
            }
            high = 0x80;
            c = src[i++];
        }
        if (c == prefixing.qctl) {
            if (i >= length) {
                return -1;
            }
            c = src[i++];
            const std::uint8_t low = c & 0x7F;
            if (low >= 0x3F && low <= 0x5F) {
                c = Ctl(c);
            }
        }
        if (produced + count > room) {
            break;
        }
        std::fill_n(out + produced, count, static_cast<std::uint8_t>(c | high));
        produced += count;
        position = i;
    }
    return static_cast<long>(produced);
}

std::size_t BuildPacket(std::uint8_t* out, int seq, std::uint8_t type, const std::uint8_t* data,
                        std::size_t length, const Framing& framing) {
    const int check = IsInit(type) ? 1 : framing.check;
    std::size_t n = 0;
    for (int i = 0; i < framing.npad; ++i) {
        out[n++] = framing.padc;
    }
    out[n++] = kMark;
    const std::size_t start = n;
    const std::size_t shortLength = 2 + length + static_cast<std::size_t>(check);
    const bool isLong = shortLength > static_cast<std::size_t>(kShortLongest);
    out[n++] = ToChar(isLong ? 0 : static_cast<int>(shortLength));
    out[n++] = ToChar(seq & 63);
    out[n++] = type;
    if (isLong) {
        const std::size_t extended = length + static_cast<std::size_t>(check);
        out[n++] = ToChar(static_cast<int>(extended / 95));
        out[n++] = ToChar(static_cast<int>(extended % 95));
        out[n] = FoldedSum(out + start, n - start);
        ++n;
    }
    std::copy(data, data + length, out + n);
    n += length;
    WriteBlockCheck(check, out + start, n - start, out + n);
    n += static_cast<std::size_t>(check);
    out[n++] = framing.eol;
    return n;
}

PacketReader::Result PacketReader::Feed(std::uint8_t byte) {
    if (strip_) {
        byte &= 0x7F;
    }
    if (byte == kMark) {
        state_ = State::kLength;
        have_ = 0;
        return Result::kMore;
    }
    switch (state_) {
    case State::kHunt:
        return Result::kMore;
    case State::kLength: {
        const int n = UnChar(byte);
        if (n != 0 && (n < 3 || n > kShortLongest)) {
            state_ = State::kHunt;
            return Result::kBad;
        }
        area_[0] = byte;
        have_ = 1;
        need_ = n == 0 ? kLongHeader : static_cast<std::size_t>(n) + 1;
        state_ = State::kBody;
        return Result::kMore;
    }
    case State::kBody:
        break;
    }
    if (have_ >= size_) {
        state_ = State::kHunt;
        return Result::kBad;
    }
    area_[have_++] = byte;
    if (UnChar(area_[0]) == 0 && have_ == kLongHeader) {
        const int high = UnChar(area_[3]);
        const int low = UnChar(area_[4]);
        if (high < 0 || high > 94 || low < 0 || low > 94 ||
            FoldedSum(area_, kLongHeader - 1) != area_[5]) {
            state_ = State::kHunt;
            return Result::kBad;
        }
        need_ = kLongHeader + static_cast<std::size_t>(high * 95 + low);
        if (need_ > size_) {
            state_ = State::kHunt;
            return Result::kBad;
        }
    }
    if (have_ < need_) {
        return Result::kMore;
    }
    state_ = State::kHunt;
    return Finish();
}

PacketReader::Result PacketReader::Finish() {
    seq_ = UnChar(area_[1]);
    type_ = area_[2];
    if (seq_ < 0 || seq_ > 63) {
        return Result::kBad;
    }
    const std::size_t header = UnChar(area_[0]) == 0 ? kLongHeader : kShortHeader;
    // An error packet may come before the check was agreed, or after one side gave up on it.
    const int first = IsInit(type_) ? 1 : check_;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const int check = attempt == 0 ? first : attempt;
        if (attempt != 0 && (type_ != 'E' || check == first)) {
            continue;
        }
        const auto width = static_cast<std::size_t>(check);
        if (need_ < header + width) {
            continue;
        }
        std::uint8_t expected[3];
        WriteBlockCheck(check, area_, need_ - width, expected);
        if (std::equal(expected, expected + width, area_ + need_ - width)) {
            data_ = area_ + header;
            length_ = need_ - header - width;
            return Result::kPacket;
        }
    }
    return Result::kBad;
}

std::size_t WriteInit(const InitParams& params, std::uint8_t* out) {
    std::size_t n = 0;
    out[n++] = ToChar(params.maxl);
    out[n++] = ToChar(params.time);
    out[n++] = ToChar(params.npad);
    out[n++] = Ctl(params.padc);
    out[n++] = ToChar(params.eol);
    out[n++] = params.qctl;
    out[n++] = params.qbin;
    out[n++] = static_cast<std::uint8_t>('0' + params.chkt);
    out[n++] = params.rept;
    out[n++] = ToChar(params.capas & ~1);
    out[n++] = ToChar(params.window);
    out[n++] = ToChar(params.maxlx / 95);
    out[n++] = ToChar(params.maxlx % 95);
    return n;
}

InitParams ReadInit(const std::uint8_t* data, std::size_t length) {
    InitParams p;
    const int maxl = ReadNumber(data, length, 0, 0);
    p.maxl = maxl >= 10 && maxl <= kShortLongest ? maxl : 80;
    p.time = std::max(0, ReadNumber(data, length, 1, 5));
    p.npad = std::clamp(ReadNumber(data, length, 2, 0), 0, 94);
    p.padc = length > 3 ? Ctl(data[3]) : 0;
    const int eol = ReadNumber(data, length, 4, kCr);
    p.eol = eol >= 1 && eol < 32 ? static_cast<std::uint8_t>(eol) : kCr;
    p.qctl = length > 5 && IsPrefixCharacter(data[5]) ? data[5] : '#';
    p.qbin = length > 6 ? data[6] : 'N';
    const int chkt = length > 7 ? data[7] - '0' : 1;
    p.chkt = chkt >= 1 && chkt <= 3 ? chkt : 1;
    p.rept = length > 8 ? data[8] : ' ';
    std::size_t i = 9;
    p.capas = 0;
    if (i < length) {
        p.capas = std::max(0, UnChar(data[i]));
        while (i < length && (UnChar(data[i]) & 1) != 0) {
            ++i;
        }
        ++i;
    }
    p.window = std::max(1, ReadNumber(data, length, i, 1));
    if (i + 2 < length) {
        const int x = UnChar(data[i + 1]) * 95 + UnChar(data[i + 2]);
        p.maxlx = x > 0 ? x : 500;
    }
    return p;
}

bool IsPrefixCharacter(std::uint8_t c) {
    return (c >= 33 && c <= 62) || (c >= 96 && c <= 126);
}

InitParams AnswerInit(const InitParams& own, const InitParams& offered) {
    InitParams answer = own;
    if (IsPrefixCharacter(offered.qbin)) {
        answer.qbin = own.qbin == 'N' ? 'N' : 'Y';
    } else if (offered.qbin == 'Y' && IsPrefixCharacter(own.qbin)) {
        answer.qbin = own.qbin;
    } else {
        answer.qbin = 'N';
    }
    answer.chkt = offered.chkt;
    answer.rept =
        IsPrefixCharacter(own.rept) && IsPrefixCharacter(offered.rept) ? offered.rept : ' ';
    answer.capas = own.capas & offered.capas;
    answer.window = (answer.capas & kCapWindows) != 0 ? std::min(own.window, offered.window) : 1;
    return answer;
}

Session Agree(const InitParams& own, const InitParams& other) {
    Session s;
    std::uint8_t qbin = 0;
    if (IsPrefixCharacter(own.qbin) && (other.qbin == 'Y' || other.qbin == own.qbin)) {
        qbin = own.qbin;
    } else if (IsPrefixCharacter(other.qbin) && own.qbin == 'Y') {
        qbin = other.qbin;
    }
    std::uint8_t rept = 0;
    if (own.rept == other.rept && IsPrefixCharacter(own.rept) && own.rept != own.qctl &&
        own.rept != other.qctl && own.rept != qbin) {
        rept = own.rept;
    }
    s.out = Prefixing{own.qctl, qbin, rept};
    s.in = Prefixing{other.qctl, qbin, rept};
    // Other controls travel bare to a side that offers attribute packets (a bootloader's loader,
    // which takes only what every side must, does not, and wants every control prefixed),
    // unless its end of line or padding is one of them.
    s.out.bareControls = (other.capas & kCapAttributes) != 0 && NeverBare(other.eol) &&
                         (other.npad == 0 || NeverBare(other.padc));
    s.capas = own.capas & other.capas & (kCapLong | kCapWindows | kCapAttributes);
    s.window = (s.capas & kCapWindows) != 0
                   ? std::clamp(std::min(own.window, other.window), 1, kMaxWindow)
                   : 1;
    s.framing.check = own.chkt == other.chkt ? own.chkt : 1;
    s.framing.eol = other.eol;
    s.framing.npad = other.npad;
    s.framing.padc = other.padc;
    const int longest = (s.capas & kCapLong) != 0 ? std::min(other.maxlx, own.maxlx) : other.maxl;
    s.sendLength = std::clamp(longest, 20, kLongest);
    s.timeoutSeconds = other.time > 0 ? other.time : own.time;
    return s;
}

} // namespace tollan::kermit
