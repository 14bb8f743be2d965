// The Win32 serial port under Wine, on COM5 (port number 4), whose other end is COM6: the test
// runner joins the two through a pseudo-terminal pair. A pseudo-terminal under Wine refuses
// EscapeCommFunction and GetCommModemStatus (error 50), reports cbOutQue as 0 and ignores the
// speed, so DTR and RTS cannot be seen from the other end, CTS, DSR, RI and DCD always read as
// off, the transmit queue never fills, and line errors never happen. The port must fail softly
// there; the modem-line logic itself is tested on the in-memory pair.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "comm_link.h"
#include "line_control.h"
#include "tick_count.h"
#include "win32_serial_port.h"

namespace tollan {
namespace {

constexpr std::uint32_t kCom5 = 4;
constexpr std::uint32_t kCom6 = 5;

class Win32SerialPortTest : public testing::Test {
protected:
    void SetUp() override {
        port_ = std::make_unique<Win32SerialPort>(kCom5, 4096, 2048);
        ASSERT_EQ(port_->Status(), 0) << "COM5 did not open";
        peer_ = std::make_unique<Win32SerialPort>(kCom6, 4096, 2048);
        ASSERT_EQ(peer_->Status(), 0) << "COM6 did not open";
        // Bytes left in the pseudo-terminals by an earlier test.
        Sleep(20);
        port_->Purge(0, 0);
        peer_->Purge(0, 0);
    }

    // Reads from `port` until `count` bytes have come or two seconds have passed.
    static std::vector<std::uint8_t> Receive(CommPort& port, std::size_t count) {
        std::vector<std::uint8_t> got;
        std::uint8_t chunk[512];
        const std::uint32_t deadline = TickCount() + 2000;
        while (got.size() < count && !TickReached(TickCount(), deadline)) {
            const int n = port.Read(
                chunk, static_cast<int>(std::min<std::size_t>(sizeof chunk, count - got.size())));
            got.insert(got.end(), chunk, chunk + n);
            if (n == 0) {
                Sleep(1);
            }
        }
        return got;
    }

    static bool WaitForInput(CommPort& port, std::uint32_t count) {
        const std::uint32_t deadline = TickCount() + 2000;
        QueueStatus record;
        while (port.GetQueueStatus(record, kQueueReceive).receiveCount < count) {
            if (TickReached(TickCount(), deadline)) {
                return false;
            }
            Sleep(1);
        }
        return true;
    }

    std::unique_ptr<Win32SerialPort> port_;
    std::unique_ptr<Win32SerialPort> peer_;
};

TEST_F(Win32SerialPortTest, OpensConfiguredForImmediateReads) {
    EXPECT_TRUE(port_->IsOpen());
    EXPECT_EQ(port_->PortNumber(), kCom5);
    EXPECT_EQ(PortOpenCount(kCom5), 1);
    const DCB& dcb = *port_->Configuration();
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    // Opened with RTS disabled, then raised by the constructor's Signal.
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.XonLim, 1024);
    EXPECT_EQ(dcb.XoffLim, 128);
    EXPECT_EQ(port_->Signal(kSignalDtr, -1), 1);
    EXPECT_EQ(port_->Signal(kSignalRts, -1), 1);

    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(port_->Handle(), &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 5u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 10u);

    DCB device{};
    device.DCBlength = sizeof device;
    ASSERT_TRUE(GetCommState(port_->Handle(), &device));
    EXPECT_EQ(device.BaudRate, 19200u);
}

TEST_F(Win32SerialPortTest, SecondOpenOfANumberIsRefusedWithoutTouchingTheDevice) {
    {
        Win32SerialPort second(kCom5, 4096, 2048);
        EXPECT_EQ(second.Status(), LINK_PORT_IN_USE);
        EXPECT_FALSE(second.IsOpen());
        EXPECT_EQ(PortOpenCount(kCom5), 1);
    }
    EXPECT_EQ(PortOpenCount(kCom5), 1);
    EXPECT_EQ(port_->PutString("still"), 5);
    EXPECT_EQ(Receive(*peer_, 5), std::vector<std::uint8_t>({'s', 't', 'i', 'l', 'l'}));
}

TEST_F(Win32SerialPortTest, ClosingLowersTheCountSoTheNumberOpensAgain) {
    port_.reset();
    EXPECT_EQ(PortOpenCount(kCom5), 0);
    port_ = std::make_unique<Win32SerialPort>(kCom5, 4096, 2048);
    EXPECT_EQ(port_->Status(), 0);
    EXPECT_EQ(PortOpenCount(kCom5), 1);
}

TEST_F(Win32SerialPortTest, MissingPortFailsThroughTheLineCheck) {
    Win32SerialPort missing(40, 4096, 2048); // COM41
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(PortOpenCount(40), 0);
    CommLink link(missing);
    EXPECT_EQ(link.GetLineControl(), nullptr);
    std::uint16_t flags = 0xFFFF;
    EXPECT_EQ(link.CheckLine(flags), LINK_FAILED);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(link.CheckLine(flags), 0);
}

TEST_F(Win32SerialPortTest, FormatEdgeCases) {
    ASSERT_EQ(port_->SetFormat(9600, 'E', 7, 2), 0);
    const DCB& dcb = *port_->Configuration();
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);

    EXPECT_EQ(port_->SetFormat(1200, 'n', 8, 1), LINK_BAD_PARITY);
    EXPECT_EQ(port_->TakeStatus(), LINK_BAD_PARITY);
    EXPECT_EQ(port_->SetFormat(1200, 'N', 9, 1), LINK_BAD_DATA_BITS);
    EXPECT_EQ(port_->SetFormat(1200, 'N', 8, 3), LINK_BAD_STOP_BITS);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.Parity, EVENPARITY);

    std::uint32_t speed;
    char parity;
    int dataBits, stopBits;
    ASSERT_EQ(port_->SetFormat(300, 'M', 5, 2), 0);
    EXPECT_EQ(dcb.StopBits, ONE5STOPBITS);
    port_->GetFormat(speed, parity, dataBits, stopBits);
    EXPECT_EQ(speed, 300u);
    EXPECT_EQ(parity, 'M');
    EXPECT_EQ(dataBits, 5);
    EXPECT_EQ(stopBits, 1);

    ASSERT_EQ(port_->SetFormat(115200, 'S', 8, 1), 0);
    EXPECT_EQ(dcb.Parity, SPACEPARITY);
    ASSERT_EQ(port_->SetFormat(57600, 'O', 6, 1), 0);
    port_->GetFormat(speed, parity, dataBits, stopBits);
    EXPECT_EQ(parity, 'O');
    EXPECT_EQ(dataBits, 6);
}

TEST_F(Win32SerialPortTest, FlowControlCodes) {
    const DCB& dcb = *port_->Configuration();
    ASSERT_EQ(port_->SetFlowControl(kFlowXonXoff, kFlowXonXoff), 0);
    EXPECT_EQ(dcb.fInX, 1u);
    EXPECT_EQ(dcb.fOutX, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);

    ASSERT_EQ(port_->SetFlowControl(kFlowRts, kFlowCts), 0);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_EQ(dcb.fOutxCtsFlow, 1u);

    ASSERT_EQ(port_->SetFlowControl(kFlowDtr, kFlowDsr), 0);
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 1u);

    ASSERT_EQ(port_->SetFlowControl(kFlowNone, kFlowNone), 0);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);

    // Refused codes leave the configuration and the remembered codes alone.
    ASSERT_EQ(port_->SetFlowControl(kFlowXonXoff, kFlowCts), 0);
    EXPECT_EQ(port_->SetFlowControl(2, 0), LINK_FAILED);
    EXPECT_EQ(port_->TakeStatus(), LINK_BAD_INPUT_FLOW);
    EXPECT_EQ(port_->SetFlowControl(0, 15), LINK_UNSUPPORTED);
    EXPECT_EQ(port_->SetFlowControl(13, 0), LINK_UNSUPPORTED);
    EXPECT_EQ(port_->SetFlowControl(0, 7), LINK_BAD_PARAMETER);
    EXPECT_EQ(port_->TakeStatus(), LINK_BAD_PARAMETER);
    EXPECT_EQ(dcb.fInX, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
    int input, output;
    EXPECT_EQ(port_->GetFlowControl(input, output), 0);
    EXPECT_EQ(input, kFlowXonXoff);
    EXPECT_EQ(output, kFlowCts);
}

TEST_F(Win32SerialPortTest, QueueSizesAndLimits) {
    const DCB& dcb = *port_->Configuration();
    ASSERT_EQ(port_->SetQueues(0, 0, 4096), 0);
    QueueStatus record;
    port_->GetQueueStatus(record, kQueueAll);
    EXPECT_EQ(record.receiveValid, 1u);
    EXPECT_EQ(record.transmitValid, 1u);
    EXPECT_EQ(record.receiveSize, 4096u);
    EXPECT_EQ(record.transmitSize, 4096u);
    EXPECT_EQ(dcb.XonLim, 1024);
    EXPECT_EQ(dcb.XoffLim, 128);

    ASSERT_EQ(port_->SetQueues(1024, 50, 0), 0);
    port_->GetQueueStatus(record, kQueueAll);
    EXPECT_EQ(record.receiveSize, 1024u);
    EXPECT_EQ(record.transmitSize, 4096u);
    EXPECT_EQ(dcb.XonLim, 256);
    EXPECT_EQ(dcb.XoffLim, 50);
    // Sizes are 16-bit.
    ASSERT_EQ(port_->SetQueues(0x10000 + 512, 0, 0), 0);
    EXPECT_EQ(port_->GetQueueStatus(record, kQueueAll).receiveSize, 512u);
}

TEST_F(Win32SerialPortTest, WriteOffersOnlyWhatFitsTheTransmitQueue) {
    std::vector<std::uint8_t> data(3000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7);
    }
    EXPECT_EQ(port_->Write(data.data(), 3000), 2048);
    EXPECT_EQ(port_->TakeStatus(), LINK_WRITE_SHORT);
    const std::vector<std::uint8_t> got = Receive(*peer_, 3000);
    EXPECT_EQ(got, std::vector<std::uint8_t>(data.begin(), data.begin() + 2048));
    // Whatever fits is taken without a complaint.
    EXPECT_EQ(port_->Write(data.data(), 2048), 2048);
    EXPECT_EQ(port_->Status(), 0);
    EXPECT_EQ(Receive(*peer_, 2048).size(), 2048u);
}

TEST_F(Win32SerialPortTest, ReadTakesOnlyWhatIsWaiting) {
    std::uint8_t buffer[16];
    EXPECT_EQ(port_->Read(buffer, 16), 0);
    EXPECT_EQ(port_->GetByte(), LINK_NO_DATA);
    EXPECT_EQ(port_->Status(), 0);

    EXPECT_EQ(peer_->PutString("abc"), 3);
    ASSERT_TRUE(WaitForInput(*port_, 3));
    EXPECT_EQ(port_->Read(buffer, 16), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "abc");
    EXPECT_EQ(port_->Read(buffer, 16), 0);
}

TEST_F(Win32SerialPortTest, BytesBothWaysThroughLinks) {
    CommLink link(*port_);
    CommLink peer(*peer_);
    EXPECT_EQ(link.ReadByte(0), LINK_NO_DATA);
    for (int byte : {0x00, 0x11, 0x13, 0x7F, 0xFF}) {
        EXPECT_EQ(link.WriteByte(static_cast<std::uint8_t>(byte)), 0);
        EXPECT_EQ(peer.ReadByte(2000), byte);
        EXPECT_EQ(peer.WriteByte(static_cast<std::uint8_t>(byte ^ 0x55)), 0);
        EXPECT_EQ(link.ReadByte(2000), byte ^ 0x55);
    }
    EXPECT_EQ(peer_->SendImmediate('!'), 0);
    EXPECT_EQ(link.ReadByte(2000), '!');
    const std::uint32_t start = TickCount();
    EXPECT_EQ(link.ReadByte(100), LINK_NO_DATA);
    EXPECT_GE(TickCount() - start, 100u);
}

TEST_F(Win32SerialPortTest, LinkSetsUpAndRestoresTheLine) {
    ASSERT_EQ(port_->SetFlowControl(kFlowXonXoff, kFlowXonXoff), 0);
    {
        CommLink link(*port_);
        EXPECT_EQ(port_->Configuration()->BaudRate, 9600u);
        EXPECT_EQ(port_->Configuration()->fInX, 0u);
        std::uint16_t flags = 0xFFFF;
        EXPECT_EQ(link.CheckLine(flags), 0);
        EXPECT_EQ(flags, 0);
        EXPECT_EQ(link.GetLineControl()->Carrier(), 0); // no modem lines on a pty
    }
    EXPECT_EQ(port_->Configuration()->BaudRate, 19200u);
    EXPECT_EQ(port_->Configuration()->fInX, 1u);
    EXPECT_EQ(port_->Configuration()->fOutX, 1u);
}

TEST_F(Win32SerialPortTest, PurgeByReadingAndAtOnce) {
    std::vector<std::uint8_t> data(20);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>('a' + i);
    }
    peer_->Write(data.data(), 3);
    ASSERT_TRUE(WaitForInput(*port_, 3));
    EXPECT_EQ(port_->Purge(0, 10), 0);
    EXPECT_EQ(port_->GetByte(), LINK_NO_DATA);

    peer_->Write(data.data(), 20);
    ASSERT_TRUE(WaitForInput(*port_, 20));
    EXPECT_EQ(port_->Purge(0, 10), LINK_FAILED);
    QueueStatus record;
    EXPECT_EQ(port_->GetQueueStatus(record, kQueueAll).receiveCount, 10u);
    EXPECT_EQ(port_->GetByte(), 'k');
    EXPECT_EQ(port_->Purge(0, 0), 0);
    EXPECT_EQ(port_->GetQueueStatus(record, kQueueAll).receiveCount, 0u);
    EXPECT_EQ(port_->Purge(1, 0), 0);
}

TEST_F(Win32SerialPortTest, SignalsFailSoftlyOnAPseudoTerminal) {
    // DTR and RTS are remembered even though the device refuses the escapes.
    EXPECT_EQ(port_->Signal(kSignalDtr, 0), 0);
    EXPECT_EQ(port_->Configuration()->fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(port_->Signal(kSignalDtr, -1), 0);
    EXPECT_EQ(port_->ModemLine(1), 0);
    EXPECT_EQ(port_->ModemLine(2), 1);
    LineSnapshot snapshot;
    EXPECT_EQ(port_->GetLineSnapshot(snapshot), 0);
    EXPECT_EQ(snapshot.FieldOf(kSignalDtr), 0);
    EXPECT_EQ(snapshot.FieldOf(kSignalRts), 1);
    EXPECT_EQ(port_->Signal(kSignalRts, 0), 0);
    EXPECT_EQ(port_->Configuration()->fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(port_->Signal(kSignalDtr, 1), 1);

    for (int code : {kSignalCts, kSignalDsr, kSignalRing, kSignalCarrier}) {
        EXPECT_EQ(port_->Signal(code, -1), 0) << code;
    }
    EXPECT_EQ(port_->ReadModemStatus(), 0);
    for (int code = 17; code <= 20; ++code) {
        EXPECT_EQ(port_->Signal(code, -1), 0) << code;
    }
    for (int code : {kSignalOverrun, kSignalParityError, kSignalFramingError, kSignalBreakReceived,
                     kSignalReceiveOverflow}) {
        EXPECT_EQ(port_->Signal(code, -1), 0) << code;
    }
    EXPECT_EQ(port_->Signal(16, -1), 2);
    EXPECT_EQ(port_->Signal(5, 1), 2);

    // Break works on a pty (without effect); the query makes no device call.
    EXPECT_EQ(port_->SetBreak(-1), 0);
    EXPECT_EQ(port_->Signal(kSignalBreakState, 1), 1);
    EXPECT_EQ(port_->SetBreak(-1), 1);
    EXPECT_EQ(port_->SetBreak(0), 0);
    EXPECT_EQ(port_->Status(), 0);

    EXPECT_EQ(port_->HoldRemote(), LINK_UNSUPPORTED);
    EXPECT_EQ(port_->ReleaseRemote(), LINK_UNSUPPORTED);
}

TEST_F(Win32SerialPortTest, EventCharacterAndMask) {
    EXPECT_EQ(port_->SetEventChar('~'), 1);
    EXPECT_EQ(port_->Configuration()->EvtChar, '~');
    EXPECT_EQ(port_->SetEventMask(EV_RXCHAR), 0);
    DWORD mask = 0;
    EXPECT_EQ(port_->GetEventMask(mask), 0);
    EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR));
    EXPECT_EQ(port_->SetEventMask(0), 0);
}

TEST_F(Win32SerialPortTest, DumpDescribesTheConfiguration) {
    // Opening keeps the flow flags the device had; an earlier test may have left XON/XOFF on.
    ASSERT_EQ(port_->SetFlowControl(kFlowNone, kFlowNone), 0);
    std::vector<std::string> lines;
    port_->Dump([&lines](const char* line) { lines.emplace_back(line); });
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Port type: MS Win32  BaudRate: 19200   ByteSize: 8  Parity: 0");
    EXPECT_EQ(lines[1], "StopBits: 0  fBinary: 1  fRtsControl: 1");
    EXPECT_EQ(lines[2], "Parity: " + std::to_string(port_->Configuration()->fParity) +
                            "  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 1  OutX: 0  InX: 0");
    EXPECT_EQ(lines[3], "Null: 0  XonChar: 11  XoffChar: 13");
    EXPECT_EQ(lines[4], "XonLim: 1024  XoffLim: 128   EofChr: 00  EvtChr: 00");
    EXPECT_EQ(lines[5], "RX sz/ct:  4096/0      TX sz/ct:  2048/0      BLOCK SENT:0  "
                        "BLOCK RECEIVED:0");
}

TEST(Win32SerialPortErrors, LastErrorMapsToLinkCodes) {
    struct Case {
        LONG error;
        int code;
    };
    const Case cases[] = {
        {IE_BADID, LINK_NO_PORT},
        {IE_OPEN, LINK_PORT_IN_USE},
        {IE_NOPEN, LINK_NO_PORT},
        {IE_MEMORY, LINK_NO_MEMORY},
        {IE_DEFAULT, LINK_BAD_PARAMETER},
        {IE_HARDWARE, LINK_NO_PORT},
        {IE_BYTESIZE, LINK_BAD_DATA_BITS},
        {IE_BAUDRATE, LINK_BAD_SPEED},
        {-6, LINK_FAILED},
        {ERROR_ACCESS_DENIED, LINK_FAILED},
        {ERROR_FILE_NOT_FOUND, LINK_FAILED},
        {0, LINK_FAILED},
    };
    Win32SerialPort missing(41, 4096, 2048);
    for (const Case& c : cases) {
        SetLastError(static_cast<DWORD>(c.error));
        EXPECT_EQ(missing.MapLastError(), c.code) << c.error;
    }
}

} // namespace
} // namespace tollan
