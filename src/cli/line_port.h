// The serial port behind the command's --line: a device path such as /dev/ttyUSB0 or /dev/pts/3
// on POSIX systems, a COM name such as COM3 on Windows; "-" (kStdioLine) the standard input and
// output.
#pragma once

#include <functional>
#include <string>

#include "cli/command_line.h"
#include "transfer/port_factory.h"

namespace tollan {

// `lost`, when given, hears from the port when the device goes away under a run (see
// CommPort::OnLineLost()).
PortFactory LinePortFactory(const std::string& line, std::function<void(int error)> lost = nullptr);

// Why `line` cannot be opened, in the system's words ("No such file or directory", "Permission
// denied", busy, not a terminal); asked once the port failed to open. Empty when it now opens.
std::string LineOpenProblem(const std::string& line);

} // namespace tollan
