#include "link/comm_port.h"

#include <cstring>

#include "link/fault_report.h"

namespace tollan {
namespace {

// Counters of the port open table. One transfer runs at a time, so nothing guards it.
std::uint16_t openCounts[kPortOpenTableSize];

// Ends the process: the operation is abstract here.
[[noreturn]] void Abstract(int line) {
    ReportPureVirtualCall("COMLINK", line);
}

} // namespace

void LineSnapshot::SetField(int position, int value) {
    const int shift = 2 * (position % 4);
    std::uint8_t& byte = bytes[position / 4];
    byte = static_cast<std::uint8_t>((byte & ~(3 << shift)) | ((value & 3) << shift));
}

int LineSnapshot::FieldOf(int code) const {
    const int position = LineSnapshotPosition(code);
    return position < 0 ? -1 : Field(position);
}

int LineSnapshotPosition(int code) {
    for (int position = 0; position < 16; ++position) {
        if (kLineSnapshotCodes[position] == code) {
            return position;
        }
    }
    return -1;
}

std::uint16_t PortOpenCount(std::uint32_t portNumber) {
    return portNumber < kPortOpenTableSize ? openCounts[portNumber] : 0;
}

CommPort::CommPort(std::uint32_t portNumber) : portNumber_(portNumber) {}

CommPort::~CommPort() {
    if (raisedCount_ && portNumber_ < kPortOpenTableSize && openCounts[portNumber_] > 0) {
        --openCounts[portNumber_];
    }
}

int CommPort::TakeStatus() {
    const int status = status_;
    status_ = 0;
    return status;
}

int CommPort::CheckPortFree(std::uint32_t portNumber) {
    if (portNumber >= kPortOpenTableSize) {
        return LINK_NO_PORT;
    }
    return openCounts[portNumber] != 0 ? LINK_PORT_IN_USE : LINK_OK;
}

void CommPort::RaisePortCount() {
    if (portNumber_ < kPortOpenTableSize && !raisedCount_) {
        ++openCounts[portNumber_];
        raisedCount_ = true;
    }
}

void CommPort::FillLineSnapshot(LineSnapshot& snapshot) {
    for (int position = 0; position < 16; ++position) {
        snapshot.SetField(position, Signal(kLineSnapshotCodes[position], -1));
    }
}

int CommPort::TakeLineSnapshot(LineSnapshot& snapshot, std::uint32_t& errors,
                               std::uint32_t& modemStatus) {
    ReadModemStatus();
    FillLineSnapshot(snapshot);
    errors = 0;
    modemStatus = 0;
    return 0;
}

int CommPort::PutByteByWrite(std::uint8_t byte) {
    return Write(&byte, 1) == 1 ? 0 : Status();
}

int CommPort::PutStringByWrite(const char* text) {
    return Write(text, static_cast<int>(std::strlen(text)));
}

int CommPort::DiscardByReading(int count) {
    for (int i = 0; i < count; ++i) {
        if (GetByte() == LINK_NO_DATA) {
            return 0;
        }
    }
    return LINK_FAILED; // input may still be arriving
}

int CommPort::CheckFlowCodes(int input, int output) {
    switch (input) {
    case kFlowNone:
    case kFlowXonXoff:
    case kFlowDtr:
    case kFlowRts:
        break;
    case kFlowDsr:
        return SetStatus(LINK_UNSUPPORTED);
    default:
        SetStatus(LINK_BAD_INPUT_FLOW);
        return LINK_FAILED;
    }
    switch (output) {
    case kFlowNone:
    case kFlowXonXoff:
    case kFlowCts:
    case kFlowDsr:
        return 0;
    case kFlowCarrier:
        return SetStatus(LINK_UNSUPPORTED);
    default:
        return SetStatus(LINK_BAD_PARAMETER);
    }
}

int CommPort::CheckFormat(char parity, int dataBits, int stopBits) {
    if (parity != 'N' && parity != 'O' && parity != 'E' && parity != 'M' && parity != 'S') {
        return SetStatus(LINK_BAD_PARITY);
    }
    if (dataBits < 4 || dataBits > 8) {
        return SetStatus(LINK_BAD_DATA_BITS);
    }
    if (stopBits != 1 && stopBits != 2) {
        return SetStatus(LINK_BAD_STOP_BITS);
    }
    return 0;
}

// The abstract operations. The numbers are the ones the fault report has always used.
int CommPort::Idle() {
    Abstract(241);
}
int CommPort::ReadModemStatus() {
    Abstract(243);
}
void CommPort::Open(std::uint32_t) {
    Abstract(245);
}
int CommPort::OpenDevice() {
    Abstract(247);
}
int CommPort::Close() {
    Abstract(249);
}
QueueStatus& CommPort::GetQueueStatus(QueueStatus&, int) {
    Abstract(251);
}
int CommPort::SetQueues(std::uint32_t, std::uint32_t, std::uint32_t) {
    Abstract(255);
}
int CommPort::SetFlowControl(int, int) {
    Abstract(257);
}
int CommPort::GetFlowControl(int&, int&) {
    Abstract(259);
}
int CommPort::SetBreak(int) {
    Abstract(261);
}
int CommPort::Signal(int, int) {
    Abstract(263);
}
int CommPort::SetFormat(std::uint32_t, char, int, int) {
    Abstract(265);
}
void CommPort::GetFormat(std::uint32_t&, char&, int&, int&) {
    Abstract(267);
}
int CommPort::GetLineSnapshot(LineSnapshot&) {
    Abstract(269);
}
int CommPort::PutByte(std::uint8_t) {
    Abstract(271);
}
int CommPort::PutString(const char*) {
    Abstract(273);
}
int CommPort::Write(const void*, int) {
    Abstract(275);
}
int CommPort::SendImmediate(std::uint8_t) {
    Abstract(277);
}
int CommPort::GetByte() {
    Abstract(279);
}
int CommPort::Read(void*, int) {
    Abstract(281);
}
int CommPort::Purge(int, int) {
    Abstract(283);
}
void CommPort::Dump(const PrintLine&) {
    Abstract(285);
}

int CommPort::HoldRemote() {
    return LINK_UNSUPPORTED;
}
int CommPort::ReleaseRemote() {
    return LINK_UNSUPPORTED;
}

int CommPort::WaitForInput(int) {
    return Idle();
}

int CommPort::LoseLine(int error) {
    if (lineLost_ == 0) {
        lineLost_ = error != 0 ? error : -1;
        if (onLineLost_) {
            onLineLost_(lineLost_);
        }
    }
    return SetStatus(LINK_FAILED);
}

} // namespace tollan
