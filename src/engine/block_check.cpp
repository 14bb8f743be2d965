#include "engine/block_check.h"

#include <array>

namespace tollan {
namespace {

constexpr std::array<std::uint32_t, 256> MakeCrc16Table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) : (crc << 1);
        }
        table[i] = crc & 0xFFFF;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? ((crc >> 1) ^ 0xEDB88320u) : (crc >> 1);
        }
        table[i] = crc;
    }
    return table;
}

constexpr auto kCrc16Table = MakeCrc16Table();
constexpr auto kCrc32Table = MakeCrc32Table();

// Tables for eight bytes a step: row k gives the CRC-32 of a byte followed by k zero bytes.
constexpr std::array<std::array<std::uint32_t, 256>, 8> MakeCrc32Rows() {
    std::array<std::array<std::uint32_t, 256>, 8> rows{};
    rows[0] = MakeCrc32Table();
    for (int k = 1; k < 8; ++k) {
        for (int i = 0; i < 256; ++i) {
            const std::uint32_t previous = rows[k - 1][i];
            rows[k][i] = (previous >> 8) ^ rows[0][previous & 0xFF];
        }
    }
    return rows;
}

constexpr auto kCrc32Rows = MakeCrc32Rows();

static_assert(kCrc16Table[1] == 0x1021);
static_assert(kCrc32Table[1] == 0x77073096);

} // namespace

std::uint32_t BlockCheck::Compute(const std::uint8_t* data, std::size_t length, std::uint32_t) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) {
        sum = static_cast<std::uint8_t>(sum + data[i]);
    }
    value_ = sum;
    return sum;
}

std::uint32_t Crc16Check::Compute(const std::uint8_t* data, std::size_t length,
                                  std::uint32_t initial) {
    std::uint32_t crc = initial & 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc = ((crc << 8) ^ kCrc16Table[((crc >> 8) ^ data[i]) & 0xFF]) & 0xFFFF;
    }
    return crc;
}

std::uint32_t Crc32Check::Compute(const std::uint8_t* data, std::size_t length,
                                  std::uint32_t initial) {
    std::uint32_t crc = initial;
    // Eight bytes a step, then the rest one by one; the same result as byte by byte.
    for (; length >= 8; data += 8, length -= 8) {
        crc ^= static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
               static_cast<std::uint32_t>(data[2]) << 16 |
               static_cast<std::uint32_t>(data[3]) << 24;
        crc = kCrc32Rows[7][crc & 0xFF] ^ kCrc32Rows[6][(crc >> 8) & 0xFF] ^
              kCrc32Rows[5][(crc >> 16) & 0xFF] ^ kCrc32Rows[4][crc >> 24] ^
              kCrc32Rows[3][data[4]] ^ kCrc32Rows[2][data[5]] ^ kCrc32Rows[1][data[6]] ^
              kCrc32Rows[0][data[7]];
    }
    for (std::size_t i = 0; i < length; ++i) {
        crc = (crc >> 8) ^ kCrc32Table[(crc ^ data[i]) & 0xFF];
    }
    return crc;
}

std::uint16_t Crc16Update(std::uint8_t byte, std::uint16_t crc) {
    return static_cast<std::uint16_t>(kCrc16Table[((crc >> 8) ^ byte) & 0xFF] ^ (crc << 8));
}

std::uint32_t Crc32Update(std::uint8_t byte, std::uint32_t crc) {
    return kCrc32Table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

} // namespace tollan
