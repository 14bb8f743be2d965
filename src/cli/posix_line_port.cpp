#include "cli/line_port.h"

#include "link/posix_serial_port.h"
#include "link/posix_stdio_port.h"

namespace tollan {

PortFactory LinePortFactory(const std::string& line) {
    if (line == kStdioLine) {
        return [](std::uint32_t, std::uint32_t) {
            return std::shared_ptr<CommPort>(std::make_shared<PosixStdioPort>());
        };
    }
    return [line](std::uint32_t receiveSize, std::uint32_t transmitSize) {
        return std::shared_ptr<CommPort>(
            std::make_shared<PosixSerialPort>(line, receiveSize, transmitSize));
    };
}

} // namespace tollan
