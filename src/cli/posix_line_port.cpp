#include "cli/line_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

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

std::string LineOpenProblem(const std::string& line) {
    const int fd = open(line.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::generic_category().message(errno);
    }
    std::string problem;
    if (!isatty(fd)) {
        problem = "not a terminal (a serial line is one)";
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        problem = "busy: another program has the line open";
    }
    close(fd);
    return problem;
}

} // namespace tollan
