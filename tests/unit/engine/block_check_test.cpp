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
    // The checksum is the byte sum modulo 256: 477 for these digits.
    EXPECT_EQ(BlockCheck().Compute(bytes, digits.size(), 0), 0xDDu);
}

// The byte routines agree with the block ones on a long block, also when the block is computed
// in two pieces that split an eight-byte step.
TEST(BlockCheck, ByteRoutinesAndChaining) {
    std::vector<std::uint8_t> block(8193);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 131 + i / 256);
    }
    std::uint16_t r16 = 0;
    std::uint32_t r32 = 0xFFFFFFFF;
    for (auto b : block) {
        r16 = Crc16Update(b, r16);
        r32 = Crc32Update(b, r32);
    }
    constexpr std::size_t kHalf = 4099;
    const auto first16 = Crc16Check().Compute(block.data(), kHalf, 0);
    EXPECT_EQ(Crc16Check().Compute(block.data() + kHalf, block.size() - kHalf, first16), r16);
    const auto first32 = Crc32Check().Compute(block.data(), kHalf, 0xFFFFFFFF);
    EXPECT_EQ(Crc32Check().Compute(block.data() + kHalf, block.size() - kHalf, first32), r32);
}

} // namespace
} // namespace tollan
