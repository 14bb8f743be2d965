#include "cli/line_port.h"

#include "link/posix_serial_port.h"
#include "link/posix_stdio_port.h"

namespace tollan {

PortFactory LinePortFactory(const std::string& line, std::function<void(int error)> lost) {
    if (line == kStdioLine) {
        return [lost](std::uint32_t, std::uint32_t) {
            auto port = std::make_shared<PosixStdioPort>();
            port->OnLineLost(lost);
            return std::shared_ptr<CommPort>(port);
        };
    }
    return [line, lost](std::uint32_t receiveSize, std::uint32_t transmitSize) {
        auto port = std::make_shared<PosixSerialPort>(line, receiveSize, transmitSize);
        port->OnLineLost(lost);
        return std::shared_ptr<CommPort>(port);
    };
}

} // namespace tollan
