#include "cli/line_port.h"

#include "link/posix_serial_port.h"

namespace tollan {

PortFactory LinePortFactory(const std::string& line) {
    return [line](std::uint32_t receiveSize, std::uint32_t transmitSize) {
        return std::shared_ptr<CommPort>(
            std::make_shared<PosixSerialPort>(line, receiveSize, transmitSize));
    };
}

} // namespace tollan
