// Kermit packets on the wire, apart from any engine: the frame (mark, length, sequence, type,
// data, block check; long packets with their header check), the three block checks, the
// prefixing of data (control prefix, 8th-bit prefix, repeat counts), and the Send-Init
// parameters with the rules by which both sides arrive at the same session settings.
//
// Every field but the data is a printable character: a number n travels as n + 32 (ToChar) and
// a control character c as c ^ 64 (Ctl).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tollan::kermit {

inline constexpr std::uint8_t kMark = 0x01; // Ctrl-A starts every packet
inline constexpr std::uint8_t kCr = 0x0D;
// The longest packet either side may ask for (long packets: 95 * 94 + 94, kept to what peers
// offer), and the longest short one.
inline constexpr int kLongest = 9024;
inline constexpr int kShortLongest = 94;

inline constexpr std::uint8_t ToChar(int n) {
    return static_cast<std::uint8_t>(n + 32);
}
inline constexpr int UnChar(std::uint8_t c) {
    return c - 32;
}
inline constexpr std::uint8_t Ctl(std::uint8_t c) {
    return static_cast<std::uint8_t>(c ^ 64);
}

// The Kermit CRC: CCITT polynomial, reflected (0x8408), register starting at 0.
std::uint16_t KermitCrc(const std::uint8_t* data, std::size_t length);

// The block check of `type` (1: 6-bit folded sum, 2: 12-bit sum, 3: CRC in three characters)
// over `length` bytes, written as `type` printable characters to `out`.
void WriteBlockCheck(int type, const std::uint8_t* data, std::size_t length, std::uint8_t* out);

// The prefixes of one direction. qbin and rept are 0 when the session does without them. With
// bareControls, the control characters that no line, modem, flow control or terminal program
// acts on go unprefixed, and DEL (a receiver takes any byte inside a packet as it is); the
// others and 0xFF keep their prefix. Agree sets it for a peer that offers attribute packets.
struct Prefixing {
    std::uint8_t qctl = '#';
    std::uint8_t qbin = 0;
    std::uint8_t rept = 0;
    bool bareControls = false;
};

// Encodes bytes of `src` into `dest` while whole encoded units fit in `room`: a byte with its
// prefixes, or a run of up to 94 equal bytes as a repeat count. Returns the number of source
// bytes taken; `written` receives the encoded length.
std::size_t EncodeData(const Prefixing& prefixing, const std::uint8_t* src, std::size_t length,
                       std::uint8_t* dest, std::size_t room, std::size_t& written);

// Decodes `src` from `position` into `out` while the next unit fits in `room` (at least 94
// bytes of room always makes progress); `position` is advanced past what was decoded. Returns
// the bytes produced, or -1 for data that ends inside a prefixed unit.
long DecodeData(const Prefixing& prefixing, const std::uint8_t* src, std::size_t length,
                std::size_t& position, std::uint8_t* out, std::size_t room);

// How packets to the other side are framed: its block check, and the padding and end-of-line
// character it asked for.
struct Framing {
    int check = 1;
    std::uint8_t eol = kCr;
    int npad = 0;
    std::uint8_t padc = 0;
};

// Room a packet with `dataLength` data bytes needs in BuildPacket's output.
inline constexpr std::size_t PacketRoom(std::size_t dataLength, const Framing& framing) {
    return static_cast<std::size_t>(framing.npad) + dataLength + 12;
}

// Writes the whole packet (padding, mark, header, data, block check, end of line); a packet
// whose length field cannot hold it becomes a long one. Returns its length. A Send-Init always
// goes with block check 1, whatever `framing` says (so does its answer: the caller's framing).
std::size_t BuildPacket(std::uint8_t* out, int seq, std::uint8_t type, const std::uint8_t* data,
                        std::size_t length, const Framing& framing);

// Gathers packets from the bytes of the line, one byte at a time, into an area the caller owns.
// A mark always starts a new packet, so a packet cut short is dropped at the next one.
class PacketReader {
public:
    enum class Result { kMore, kPacket, kBad };

    PacketReader(std::uint8_t* area, std::size_t size) : area_(area), size_(size) {}

    // The block check expected of packets other than a Send-Init (always 1) and an error
    // packet (any check is taken).
    void SetCheck(int type) { check_ = type; }
    // Bit 8 is taken off every byte (a 7-bit line, or a peer that sends parity).
    void SetStripParity(bool on) { strip_ = on; }
    // Forgets a packet half gathered.
    void Restart() { state_ = State::kHunt; }

    Result Feed(std::uint8_t byte);

    // The packet after kPacket.
    int Seq() const { return seq_; }
    std::uint8_t Type() const { return type_; }
    const std::uint8_t* Data() const { return data_; }
    std::size_t Length() const { return length_; }

private:
    enum class State { kHunt, kLength, kBody };

    Result Finish();

    std::uint8_t* area_;
    std::size_t size_;
    State state_ = State::kHunt;
    int check_ = 1;
    bool strip_ = false;
    std::size_t have_ = 0; // bytes gathered after the mark
    std::size_t need_ = 0; // bytes the packet has after the mark, once known
    int seq_ = 0;
    std::uint8_t type_ = 0;
    const std::uint8_t* data_ = nullptr;
    std::size_t length_ = 0;
};

// Capability bits of the Send-Init's CAPAS field.
inline constexpr int kCapLong = 2;
inline constexpr int kCapWindows = 4;
inline constexpr int kCapAttributes = 8;
// The largest window a Send-Init may agree on.
inline constexpr int kMaxWindow = 31;

// The Send-Init fields, as one side states them. A field the other side leaves out takes the
// protocol's default (ReadInit).
struct InitParams {
    int maxl = 80; // longest short packet it takes
    int time = 5;  // seconds the other side waits for it before trying again
    int npad = 0;  // padding characters it wants before each packet
    std::uint8_t padc = 0;
    std::uint8_t eol = kCr;
    std::uint8_t qctl = '#';
    std::uint8_t qbin = 'N'; // 'Y' will prefix if asked, 'N' will not, or the prefix it asks for
    int chkt = 1;
    std::uint8_t rept = ' '; // a repeat prefix, or ' ' for none
    int capas = 0;
    int window = 1;
    int maxlx = 500; // longest long packet it takes, when kCapLong is offered
};

// Writes the fields as the data of a Send-Init or of its answer; returns the length.
std::size_t WriteInit(const InitParams& params, std::uint8_t* out);
InitParams ReadInit(const std::uint8_t* data, std::size_t length);

// The receiver's answer to a Send-Init `offered`, from what it can do (`own`): an 8th-bit
// prefix, a block check and a repeat prefix only as the sender offered them.
InitParams AnswerInit(const InitParams& own, const InitParams& offered);

// What a session runs with, agreed from both sides' fields: each side computes it from its own
// and the other's and arrives at the same prefixes, check and capabilities.
struct Session {
    Prefixing out;      // prefixing of the data this side sends
    Prefixing in;       // and of the data it receives
    Framing framing;    // how its packets go out
    int sendLength = 0; // longest packet it may send
    int timeoutSeconds = 5;
    int capas = 0;
    int window = 1; // packets out at once (kCapWindows), 1 to kMaxWindow
};
Session Agree(const InitParams& own, const InitParams& other);

// The prefix characters an 8th-bit or repeat prefix may be.
bool IsPrefixCharacter(std::uint8_t c);

} // namespace tollan::kermit
