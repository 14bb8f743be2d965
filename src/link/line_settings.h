// Changes a port's line settings (speed, parity, data bits, stop bits) for as long as it lives:
// it remembers what the port had when attached and puts that back when destroyed.
#pragma once

#include <cstdint>

namespace tollan {

class CommLink;
class CommPort;

class LineSettings {
public:
    // Both sets start at 1200 N 8 1. With a link, attaches to it at once.
    explicit LineSettings(CommLink* link = nullptr);
    // With a port, applies the remembered set again.
    virtual ~LineSettings();

    LineSettings(const LineSettings&) = delete;
    LineSettings& operator=(const LineSettings&) = delete;

    // Takes the link's port, remembers its current format, then applies the current set.
    void Attach(CommLink& link);
    // Sends the current set to the port: 0, or LINK_FAILED when there is no port or the port
    // refused it.
    [[nodiscard]] int Apply();
    // Sets and applies all four; Apply()'s result.
    [[nodiscard]] int Set(std::uint32_t speed, char parity, int dataBits, int stopBits);
    // Sets and applies a new speed; when the port refuses it, the old speed is kept.
    [[nodiscard]] int SetSpeed(std::uint32_t speed);

    std::uint32_t Speed() const { return speed_; }
    char Parity() const { return parity_; }
    int DataBits() const { return dataBits_; }
    int StopBits() const { return stopBits_; }

private:
    std::uint32_t speed_ = 1200;
    char parity_ = 'N';
    int dataBits_ = 8;
    int stopBits_ = 1;
    std::uint32_t savedSpeed_ = 1200;
    char savedParity_ = 'N';
    int savedDataBits_ = 8;
    int savedStopBits_ = 1;
    CommPort* port_ = nullptr;
};

} // namespace tollan
