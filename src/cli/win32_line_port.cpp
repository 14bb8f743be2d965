#include "cli/line_port.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>

#include "link/win32_serial_port.h"
#include "link/win32_stdio_port.h"

namespace tollan {

namespace {

// The port number of "COM3" or "\\.\COM3" (1 for COM1); 0 when the name is no COM name.
unsigned long ComNumber(std::string name) {
    if (name.rfind("\\\\.\\", 0) == 0) {
        name.erase(0, 4);
    }
    if (name.size() < 4) {
        return 0;
    }
    for (int i = 0; i < 3; ++i) {
        name[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
    }
    if (name.compare(0, 3, "COM") != 0) {
        return 0;
    }
    char* end = nullptr;
    unsigned long number = std::strtoul(name.c_str() + 3, &end, 10);
    return end != nullptr && *end == '\0' ? number : 0;
}

} // namespace

PortFactory LinePortFactory(const std::string& line, std::function<void(int error)> lost) {
    if (line == kStdioLine) {
        return [lost](std::uint32_t, std::uint32_t) {
            auto port = std::make_shared<Win32StdioPort>();
            port->OnLineLost(lost);
            return std::shared_ptr<CommPort>(port);
        };
    }
    unsigned long number = ComNumber(line);
    return [number, lost](std::uint32_t receiveSize,
                          std::uint32_t transmitSize) -> std::shared_ptr<CommPort> {
        if (number == 0) {
            return nullptr;
        }
        auto port = std::make_shared<Win32SerialPort>(static_cast<std::uint32_t>(number - 1),
                                                      receiveSize, transmitSize);
        port->OnLineLost(lost);
        return port;
    };
}

std::string LineOpenProblem(const std::string& line) {
    const unsigned long number = ComNumber(line);
    if (number == 0) {
        return "not a COM port name (COM1, COM2, ...)";
    }
    const std::string device = "\\\\.\\COM" + std::to_string(number);
    HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return {};
    }
    const DWORD error = GetLastError();
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "no such device";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return "busy, or access denied: another program may have the port open";
    default:
        return "the system refused to open the port (error " + std::to_string(error) + ")";
    }
}

} // namespace tollan
