#include "block_check.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string_view>
#include <vector>

namespace tollan {
namespace {

const std::uint8_t* Bytes(std::string_view s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

std::vector<std::uint8_t> RandomBlock(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) {
        b = static_cast<std::uint8_t>(gen());
    }
    return v;
}

TEST(BlockCheck, PublishedCheckValues) {
    constexpr std::string_view digits = "123456789";
    BlockCheck sum;
    Crc16Check crc16;
    Crc32Check crc32;
    EXPECT_EQ(crc16.Compute(Bytes(digits), digits.size(), 0), 0x31C3u);
    EXPECT_EQ(~crc32.Compute(Bytes(digits), digits.size(), 0xFFFFFFFF), 0xCBF43926u);
    EXPECT_EQ(sum.Compute(Bytes(digits), digits.size(), 0), (0x31u + 0x39u) * 9 / 2 % 256);
    EXPECT_EQ(sum.width(), 8);
    EXPECT_EQ(crc16.width(), 16);
    EXPECT_EQ(crc32.width(), 32);
}

TEST(BlockCheck, ChecksumWrapsAndIgnoresInitial) {
    std::vector<std::uint8_t> block(128, 0x80);
    BlockCheck sum;
    EXPECT_EQ(sum.Compute(block.data(), block.size(), 0x55), 0u);
    block[0] = 0x81;
    EXPECT_EQ(sum.Compute(block.data(), block.size(), 0), 1u);
    EXPECT_EQ(sum.value(), 1u);
    EXPECT_EQ(sum.Compute(nullptr, 0, 7), 0u);
}

TEST(BlockCheck, CalculatorsSwapThroughTheBase) {
    // XModem holds its calculator by the base pointer and swaps it between CRC and checksum.
    const auto block = RandomBlock(128, 1);
    std::unique_ptr<BlockCheck> check = std::make_unique<Crc16Check>();
    const std::uint32_t crc = check->Compute(block.data(), block.size(), 0);
    EXPECT_LE(crc, 0xFFFFu);
    check = std::make_unique<BlockCheck>();
    EXPECT_LE(check->Compute(block.data(), block.size(), 0), 0xFFu);
    check = std::make_unique<Crc16Check>();
    EXPECT_EQ(check->Compute(block.data(), block.size(), 0), crc);
}

TEST(BlockCheck, BlockAndByteRoutinesAgreeAndChain) {
    Crc16Check crc16;
    Crc32Check crc32;
    for (std::size_t n : {0u, 1u, 2u, 127u, 128u, 1024u, 8193u}) {
        const auto block = RandomBlock(n, static_cast<unsigned>(n));
        std::uint16_t r16 = 0;
        std::uint32_t r32 = 0xFFFFFFFF;
        for (auto b : block) {
            r16 = Crc16Update(b, r16);
            r32 = Crc32Update(b, r32);
        }
        EXPECT_EQ(crc16.Compute(block.data(), n, 0), r16) << n;
        EXPECT_EQ(crc32.Compute(block.data(), n, 0xFFFFFFFF), r32) << n;

        // A block computed in two pieces, the second starting from the first's result.
        const std::size_t half = n / 2;
        const auto first16 = crc16.Compute(block.data(), half, 0);
        EXPECT_EQ(crc16.Compute(block.data() + half, n - half, first16), r16) << n;
        const auto first32 = crc32.Compute(block.data(), half, 0xFFFFFFFF);
        EXPECT_EQ(crc32.Compute(block.data() + half, n - half, first32), r32) << n;
    }
}

TEST(BlockCheck, Crc16InitialUsesOnlyTheLowHalf) {
    const auto block = RandomBlock(64, 9);
    Crc16Check crc16;
    EXPECT_EQ(crc16.Compute(block.data(), block.size(), 0xABCD1234),
              crc16.Compute(block.data(), block.size(), 0x1234));
}

TEST(BlockCheck, ReceivedCrcBytesLeaveTheResidue) {
    // How a receiver checks a ZModem header or subpacket: fold the received CRC bytes in too.
    for (unsigned seed = 0; seed < 20; ++seed) {
        const auto block = RandomBlock(5 + seed * 37, seed);
        Crc16Check crc16;
        const auto crc = crc16.Compute(block.data(), block.size(), 0);
        std::uint16_t r16 = 0;
        for (auto b : block) {
            r16 = Crc16Update(b, r16);
        }
        r16 = Crc16Update(static_cast<std::uint8_t>(crc >> 8), r16);
        r16 = Crc16Update(static_cast<std::uint8_t>(crc), r16);
        EXPECT_EQ(r16, 0u);

        Crc32Check crc32;
        const std::uint32_t sent = ~crc32.Compute(block.data(), block.size(), 0xFFFFFFFF);
        std::uint32_t r32 = 0xFFFFFFFF;
        for (auto b : block) {
            r32 = Crc32Update(b, r32);
        }
        for (int i = 0; i < 4; ++i) {
            r32 = Crc32Update(static_cast<std::uint8_t>(sent >> (8 * i)), r32);
        }
        EXPECT_EQ(r32, kCrc32Residue);
    }
}

TEST(BlockCheck, SingleBitErrorsAreCaught) {
    auto block = RandomBlock(1024, 42);
    Crc16Check crc16;
    Crc32Check crc32;
    const auto good16 = crc16.Compute(block.data(), block.size(), 0);
    const auto good32 = crc32.Compute(block.data(), block.size(), 0xFFFFFFFF);
    for (std::size_t bit = 0; bit < block.size() * 8; bit += 61) {
        block[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        EXPECT_NE(crc16.Compute(block.data(), block.size(), 0), good16) << bit;
        EXPECT_NE(crc32.Compute(block.data(), block.size(), 0xFFFFFFFF), good32) << bit;
        block[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    }
}

} // namespace
} // namespace tollan
