#include "link/stdio_port.h"

#include <cstdio>

namespace tollan {
namespace {

// The modem lines a stdio line reports: CTS, DSR and carrier detect, all up.
constexpr std::uint32_t kLinesUp = 0x10 | 0x20 | 0x80;

} // namespace

void StdioPort::Open(std::uint32_t) {}

int StdioPort::Idle() {
    return IdleSlice(InputBuffered(), [this](int ms) { return WaitForInput(ms); });
}

int StdioPort::ReadModemStatus() {
    modemStatus_ = kLinesUp;
    return static_cast<int>(modemStatus_);
}

int StdioPort::OpenDevice() {
    return LINK_OK;
}

int StdioPort::SetQueues(std::uint32_t, std::uint32_t, std::uint32_t) {
    return LINK_OK;
}

int StdioPort::SetFlowControl(int input, int output) {
    const int checked = CheckFlowCodes(input, output);
    if (checked != 0) {
        return checked;
    }
    KeepFlow(input, output);
    FlowControlChanged();
    return LINK_OK;
}

int StdioPort::GetFlowControl(int& input, int& output) {
    return ReportFlow(input, output);
}

int StdioPort::SetBreak(int) {
    return 0;
}

int StdioPort::Signal(int code, int) {
    switch (code) {
    case kSignalDtr:
    case kSignalRts:
    case kSignalCts:
    case kSignalDsr:
    case kSignalCarrier:
        return 1;
    case kSignalBreakState:
    case kSignalRing:
    case kSignalOverrun:
    case kSignalParityError:
    case kSignalFramingError:
    case kSignalBreakReceived:
    case kSignalReceiveOverflow:
    case kSignalReserved17:
    case kSignalReserved18:
    case kSignalReserved19:
    case kSignalReserved20:
        return 0;
    default:
        return 2;
    }
}

int StdioPort::SetFormat(std::uint32_t speed, char parity, int dataBits, int stopBits) {
    const int checked = CheckFormat(parity, dataBits, stopBits);
    if (checked != 0) {
        return checked;
    }
    speed_ = speed;
    parity_ = parity;
    dataBits_ = dataBits;
    stopBits_ = stopBits;
    return LINK_OK;
}

void StdioPort::GetFormat(std::uint32_t& speed, char& parity, int& dataBits, int& stopBits) {
    speed = speed_;
    parity = parity_;
    dataBits = dataBits_;
    stopBits = stopBits_;
}

int StdioPort::GetLineSnapshot(LineSnapshot& snapshot) {
    return TakeLineSnapshot(snapshot, errors_, modemStatus_);
}

int StdioPort::PutByte(std::uint8_t byte) {
    return PutByteByWrite(byte);
}

int StdioPort::PutString(const char* text) {
    return PutStringByWrite(text);
}

void StdioPort::Dump(const PrintLine& printLine) {
    char line[128];
    std::snprintf(line, sizeof line, "Port type: standard input and output  BaudRate: %-6u",
                  static_cast<unsigned>(speed_));
    printLine(line);
}

int StdioPort::SendImmediate(std::uint8_t byte) {
    return Write(&byte, 1) == 1 ? 0 : LINK_FAILED;
}

int StdioPort::GetByte() {
    return BufferedByte();
}

int StdioPort::Read(void* buffer, int length) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    int count = 0;
    while (count < length) {
        const int c = GetByte();
        if (c < 0) {
            break;
        }
        bytes[count++] = static_cast<std::uint8_t>(c);
    }
    return count;
}

int StdioPort::Purge(PurgeDirection direction, int count) {
    if (direction == PurgeDirection::kOutput) {
        DropOutput();
        return LINK_OK;
    }
    inputNext_ = inputEnd_;
    int taken = 0;
    while (GetByte() >= 0) {
        if (count > 0 && ++taken >= count) {
            return LINK_FAILED;
        }
    }
    return LINK_OK;
}

} // namespace tollan
