// The Kermit packet reader on any byte stream, with the block check, the parity stripping and
// the prefixes (bare controls too) taken from the first byte; then each packet's data decoded,
// encoded again and decoded back, and read as Send-Init fields and agreed on.
#include "engine/kermit_packet.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tollan;
    using namespace tollan::kermit;
    if (size == 0) {
        return 0;
    }
    const std::uint8_t choice = data[0];
    static std::uint8_t area[kLongest + 16];
    PacketReader reader(area, sizeof area);
    reader.SetCheck(1 + (choice & 3) % 3);
    reader.SetStripParity((choice & 4) != 0);
    const Prefixing prefixing{'#', (choice & 8) != 0 ? std::uint8_t{'&'} : std::uint8_t{0},
                              (choice & 16) != 0 ? std::uint8_t{'~'} : std::uint8_t{0},
                              (choice & 32) != 0};
    static std::uint8_t decoded[4096];
    static std::uint8_t encoded[4096 * 4];
    static std::uint8_t again[4096];
    for (std::size_t i = 1; i < size; ++i) {
        if (reader.Feed(data[i]) != PacketReader::Result::kPacket) {
            continue;
        }
        Require(reader.Seq() >= 0 && reader.Seq() < 64);
        Require(reader.Data() >= area && reader.Data() + reader.Length() <= area + sizeof area);
        std::size_t position = 0;
        const long n = DecodeData(prefixing, reader.Data(), reader.Length(), position, decoded,
                                  sizeof decoded);
        Require(n >= -1 && n <= static_cast<long>(sizeof decoded));
        Require(position <= reader.Length());
        if (n > 0) {
            std::size_t written = 0;
            const std::size_t taken = EncodeData(prefixing, decoded, static_cast<std::size_t>(n),
                                                 encoded, sizeof encoded, written);
            Require(taken == static_cast<std::size_t>(n) && written <= sizeof encoded);
            std::size_t back = 0;
            const long m = DecodeData(prefixing, encoded, written, back, again, sizeof again);
            Require(m == n && back == written && std::memcmp(again, decoded, m) == 0);
            if (prefixing.qbin != 0) {
                Require(std::none_of(encoded, encoded + written,
                                     [](std::uint8_t c) { return c >= 0x80 || c == kMark; }));
            }
            // Bare controls never include the mark or a line end, with or without bit 8.
            Require(std::none_of(encoded, encoded + written, [](std::uint8_t c) {
                return (c & 0x7F) == kMark || (c & 0x7F) == kCr || (c & 0x7F) == '\n';
            }));
        }
        const InitParams other = ReadInit(reader.Data(), reader.Length());
        InitParams own;
        own.capas = kCapLong | kCapWindows | kCapAttributes;
        own.window = kMaxWindow;
        const Session s = Agree(own, other);
        Require(s.framing.check >= 1 && s.framing.check <= 3);
        Require(s.sendLength >= 20 && s.sendLength <= kLongest);
        Require(s.framing.npad >= 0 && s.framing.npad <= 94);
        Require(s.window >= 1 && s.window <= kMaxWindow);
    }
    return 0;
}
