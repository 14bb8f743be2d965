// Block checks of the line protocols: the 8-bit additive checksum, CRC-16/XMODEM and the
// reflected CRC-32 used by ZModem. Engines hold a calculator through the base class and swap it
// at run time; the ZModem framing also folds single bytes in with the static update routines.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tollan {

// The base class is itself the additive checksum.
class BlockCheck {
public:
    BlockCheck() = default;
    virtual ~BlockCheck() = default;

    // The check over `length` bytes of `data`. The checksum ignores `initial`.
    virtual std::uint32_t Compute(const std::uint8_t* data, std::size_t length,
                                  std::uint32_t initial);

    std::uint8_t value() const { return value_; }
    int width() const { return width_; }

protected:
    explicit BlockCheck(int width) : width_(width) {}

private:
    std::uint8_t value_ = 0;
    int width_ = 8;
};

// CRC-16/XMODEM: polynomial 0x1021, not reflected, no final XOR.
class Crc16Check : public BlockCheck {
public:
    Crc16Check() : BlockCheck(16) {}
    std::uint32_t Compute(const std::uint8_t* data, std::size_t length,
                          std::uint32_t initial) override;
};

// Reflected CRC-32 (0xEDB88320) without the final complement: callers start from 0xFFFFFFFF and
// complement the register to get the published CRC-32.
class Crc32Check : public BlockCheck {
public:
    Crc32Check() : BlockCheck(32) {}
    std::uint32_t Compute(const std::uint8_t* data, std::size_t length,
                          std::uint32_t initial) override;
};

// The register after one more byte.
std::uint16_t Crc16Update(std::uint8_t byte, std::uint16_t crc);
std::uint32_t Crc32Update(std::uint8_t byte, std::uint32_t crc);

// The value a CRC-32 register holds after the data and its own complemented CRC (lowest byte
// first) have been run through it.
inline constexpr std::uint32_t kCrc32Residue = 0xDEBB20E3;

} // namespace tollan
