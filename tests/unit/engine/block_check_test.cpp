#include "block_check.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

namespace tollan {
namespace {

std::vector<std::uint8_t> RandomBlock(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) {
        b = static_cast<std::uint8_t>(gen());
    }
    return v;
}

TEST(BlockCheck, PublishedCheckValuesAndChecksumWrap) {
    constexpr std::string_view digits = "123456789";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(digits.data());
    EXPECT_EQ(Crc16Check().Compute(bytes, digits.size(), 0), 0x31C3u);
    EXPECT_EQ(~Crc32Check().Compute(bytes, digits.size(), 0xFFFFFFFF), 0xCBF43926u);
    EXPECT_EQ(BlockCheck().Compute(bytes, digits.size(), 0), 0xDDu);

    // The checksum is the byte sum modulo 256 and ignores the initial value.
    std::vector<std::uint8_t> block(128, 0x80);
    block[0] = 0x81;
    EXPECT_EQ(BlockCheck().Compute(block.data(), block.size(), 0x55), 1u);
}

// The byte routines agree with the block ones, and a block computed in two pieces (the second
// starting from the first's result) gives the same value as in one.
TEST(BlockCheck, BlockAndByteRoutinesAgreeAndChain) {
    Crc16Check crc16;
    Crc32Check crc32;
    for (std::size_t n : {0u, 1u, 127u, 1024u, 8193u}) {
        const auto block = RandomBlock(n, static_cast<unsigned>(n));
        std::uint16_t r16 = 0;
        std::uint32_t r32 = 0xFFFFFFFF;
        for (auto b : block) {
            r16 = Crc16Update(b, r16);
            r32 = Crc32Update(b, r32);
        }
        EXPECT_EQ(crc16.Compute(block.data(), n, 0), r16) << n;
        EXPECT_EQ(crc32.Compute(block.data(), n, 0xFFFFFFFF), r32) << n;
        const std::size_t half = n / 2;
        const auto first16 = crc16.Compute(block.data(), half, 0);
        EXPECT_EQ(crc16.Compute(block.data() + half, n - half, first16), r16) << n;
        const auto first32 = crc32.Compute(block.data(), half, 0xFFFFFFFF);
        EXPECT_EQ(crc32.Compute(block.data() + half, n - half, first32), r32) << n;
    }
}

// How a receiver checks a ZModem header or subpacket: fold the received CRC bytes in too.
TEST(BlockCheck, ReceivedCrcBytesLeaveTheResidue) {
    for (unsigned seed = 0; seed < 20; ++seed) {
        const auto block = RandomBlock(5 + seed * 37, seed);
        const auto crc = Crc16Check().Compute(block.data(), block.size(), 0);
        const std::uint32_t sent = ~Crc32Check().Compute(block.data(), block.size(), 0xFFFFFFFF);
        std::uint16_t r16 = 0;
        std::uint32_t r32 = 0xFFFFFFFF;
        for (auto b : block) {
            r16 = Crc16Update(b, r16);
            r32 = Crc32Update(b, r32);
        }
        r16 = Crc16Update(static_cast<std::uint8_t>(crc >> 8), r16);
        r16 = Crc16Update(static_cast<std::uint8_t>(crc), r16);
        EXPECT_EQ(r16, 0u);
        for (int i = 0; i < 4; ++i) {
            r32 = Crc32Update(static_cast<std::uint8_t>(sent >> (8 * i)), r32);
        }
        EXPECT_EQ(r32, kCrc32Residue);
    }
}

} // namespace
} // namespace tollan
