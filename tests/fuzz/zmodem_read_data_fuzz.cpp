// ReadData on any byte stream, after a header of the format the first byte chooses; and, when
// its top bit is set, a round trip instead: the rest of the input as one subpacket written by
// SendData and read back by ReadData must come back unchanged.
#include <algorithm>
#include <cstring>

#include "fuzz.h"

namespace {

using namespace tollan;

void Decode(const std::uint8_t* data, std::size_t size, bool crc32) {
    FuzzEngine engine(data, size);
    engine.SetHeaderFormat(crc32 ? ZBIN32 : ZBIN);
    for (int reads = 0; engine.Code() == 0; ++reads) {
        Require(reads <= static_cast<int>(size));
        const int end = engine.ReadData();
        const int length = engine.Status()->blockLength_;
        Require(length >= 0 && length <= ZModemEngine::kReceiveSize);
        if (end >= 0) {
            Require(end >= ZCRCE && end <= ZCRCW);
        } else if (engine.Code() == 0) {
            Require(end == TE_BAD_CRC16 || end == TE_BAD_CRC32 || end == LINK_WRITE_SHORT ||
                    end == LINK_NO_DATA);
        }
    }
    Require(RunCode(engine.Code()));
}

void RoundTrip(const std::uint8_t* data, std::size_t size, int choice) {
    const bool crc32 = choice & 1;
    const int end = ZCRCE + ((choice >> 1) & 3); // ZCRCE, ZCRCG, ZCRCQ or ZCRCW
    const int length = static_cast<int>(std::min<std::size_t>(size, ZModemEngine::kDataSize));

    FuzzEngine writer(nullptr, 0);
    writer.SetPeerFlags(crc32 ? CANFC32 : 0);
    std::copy_n(data, length, writer.DataBuffer());
    Require(writer.SendData(length, end) >= 0);

    const std::vector<std::uint8_t>& line = writer.port.Written();
    FuzzEngine reader(line.data(), line.size());
    reader.SetHeaderFormat(crc32 ? ZBIN32 : ZBIN);
    Require(reader.ReadData() == end);
    Require(reader.Status()->blockLength_ == length);
    Require(length == 0 || std::memcmp(reader.DataBuffer(), data, length) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    if (data[0] & 0x80) {
        RoundTrip(data + 1, size - 1, data[0]);
    } else {
        Decode(data + 1, size - 1, data[0] & 1);
    }
    return 0;
}
