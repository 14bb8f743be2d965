#include "engine/block_check.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace tollan {
namespace {

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

// The byte routines agree with the block ones, a block computed in two pieces gives the value
// of one piece, and folding in the CRC bytes as a receiver does leaves the residue.
TEST(BlockCheck, ByteRoutinesChainingAndResidue) {
    for (std::size_t n : {0u, 1u, 127u, 1024u, 8193u}) {
        std::vector<std::uint8_t> block(n);
        for (std::size_t i = 0; i < n; ++i) {
            block[i] = static_cast<std::uint8_t>(i * 131 + n);
        }
        std::uint16_t r16 = 0;
        std::uint32_t r32 = 0xFFFFFFFF;
        for (auto b : block) {
            r16 = Crc16Update(b, r16);
            r32 = Crc32Update(b, r32);
        }
        const std::size_t half = n / 2;
        const auto first16 = Crc16Check().Compute(block.data(), half, 0);
        EXPECT_EQ(Crc16Check().Compute(block.data() + half, n - half, first16), r16) << n;
        const auto first32 = Crc32Check().Compute(block.data(), half, 0xFFFFFFFF);
        EXPECT_EQ(Crc32Check().Compute(block.data() + half, n - half, first32), r32) << n;
        const std::uint32_t sent = ~r32;
        const auto high = Crc16Update(static_cast<std::uint8_t>(r16 >> 8), r16);
        EXPECT_EQ(Crc16Update(static_cast<std::uint8_t>(r16), high), 0u) << n;
        for (int i = 0; i < 4; ++i) {
            r32 = Crc32Update(static_cast<std::uint8_t>(sent >> (8 * i)), r32);
        }
        EXPECT_EQ(r32, kCrc32Residue) << n;
    }
}

} // namespace
} // namespace tollan
