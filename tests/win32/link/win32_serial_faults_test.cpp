// The Win32 serial port over a driver that behaves as Windows documents it where Wine's
// pseudo-terminals do not: held output, calls that fail at once, a device that vanishes, a
// configuration left by another program, a cancelled read that did deliver its byte; and the
// configuration the port gives the device for each format and flow control.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "link/comm_link.h"
#include "link/win32_serial_port.h"
#include "serial_driver_double.h"

namespace tollan {
namespace {

class Win32SerialFaultsTest : public testing::Test {
protected:
    std::unique_ptr<Win32SerialPort> Open() {
        auto port = std::make_unique<Win32SerialPort>(7, 4096, 2048, driver_.Calls());
        EXPECT_EQ(port->Status(), 0);
        return port;
    }

    SerialDriverDouble driver_;
};

TEST_F(Win32SerialFaultsTest, AWriteHeldToItsTimeOutReportsWhatWent) {
    struct Case {
        DWORD room;
        int taken, status;
    };
    // The request that timed out failed; the count says what went all the same.
    const Case cases[] = {{3, 3, LINK_WRITE_SHORT}, {MAXDWORD, 10, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.room);
        driver_.writeRoom = c.room;
        driver_.output.clear();
        auto port = Open();
        EXPECT_EQ(port->Write("0123456789", 10), c.taken);
        EXPECT_EQ(port->TakeStatus(), c.status);
        EXPECT_EQ(driver_.output, std::string("0123456789", c.taken));
    }
}

TEST_F(Win32SerialFaultsTest, AReadThatFailsAtOnceIsNotWaitedForAndACancelledOneKeepsItsByte) {
    auto port = Open();
    CommLink link(*port);
    driver_.input = {'a', 'b', 'c'};
    char buffer[4] = {};
    driver_.readFailsAtOnce = ERROR_OPERATION_ABORTED;
    EXPECT_EQ(port->Read(buffer, 3), 0);
    driver_.readFailsAtOnce = ERROR_OPERATION_ABORTED;
    EXPECT_EQ(port->GetByte(), LINK_NO_DATA);
    EXPECT_EQ(driver_.endlessWaits, 0);
    // Nothing was lost: the next reads take the bytes.
    EXPECT_EQ(link.ReadByte(0), 'a');
    EXPECT_EQ(port->Read(buffer, 3), 2);
    EXPECT_STREQ(buffer, "bc");
    // A wait that runs out cancels its read, which may have delivered its byte all the same.
    driver_.byteAtCancel = 'q';
    EXPECT_EQ(link.ReadByte(50), 'q');
}

TEST_F(Win32SerialFaultsTest, AVanishedDeviceEndsEveryWaitOnceWhatArrivedIsTaken) {
    struct Case {
        DWORD error;
        bool whileWaiting; // the device goes while a read waits for its first byte
    };
    // Whatever the error, the port loses the line: one before a read, one while a read waits
    // (an abort there is not a cancelled read).
    const Case cases[] = {{ERROR_ACCESS_DENIED, false}, {ERROR_OPERATION_ABORTED, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        driver_.goneError = 0;
        driver_.vanishOnWait = 0;
        driver_.input = {'a', 'b'};
        auto port = Open();
        CommLink link(*port);
        EXPECT_EQ(link.ReadByte(0), 'a');
        (c.whileWaiting ? driver_.vanishOnWait : driver_.goneError) = c.error;
        EXPECT_EQ(link.ReadByte(2000), 'b');
        EXPECT_EQ(link.ReadByte(2000), LINK_LINE_LOST);
        EXPECT_EQ(port->Idle(), LINK_LINE_LOST);
        EXPECT_EQ(link.Delay(2000), LINK_LINE_LOST);
        EXPECT_EQ(link.WriteByte('x'), LINK_LINE_LOST);
        std::uint16_t flags = 0;
        EXPECT_EQ(link.CheckLine(flags), LINK_LINE_LOST);
        EXPECT_EQ(port->LineLost(), static_cast<int>(c.error)); // told once, with the reason
    }
}

TEST_F(Win32SerialFaultsTest, OpenSetsEveryFieldTheRunDependsOnAndFormatAndFlowSetTheirs) {
    // Another program left every field set (handshakes, software flow control with its own
    // characters, input dropped while DSR is low, calls aborted on a line error...) but binary
    // mode and sending on while it held the other side.
    std::memset(&driver_.dcb, 0xFF, sizeof(DCB));
    driver_.dcb.fBinary = driver_.dcb.fTXContinueOnXoff = FALSE;
    auto port = Open();
    const DCB& set = driver_.dcb;
    using Fields = std::vector<DWORD>;
    EXPECT_EQ((Fields{set.fDsrSensitivity, set.fAbortOnError, set.fErrorChar, set.fNull,
                      set.fParity, set.fTXContinueOnXoff, set.fBinary,
                      static_cast<DWORD>(set.EvtChar), static_cast<DWORD>(set.XonChar),
                      static_cast<DWORD>(set.XoffChar), set.XonLim, set.XoffLim}),
              (Fields{0, 0, 0, 0, 0, 1, 1, 0, 0x11, 0x13, 1024, 128}));
    // The format and the flow control, as opened and then as each row sets them.
    const auto format = [&] {
        return Fields{set.BaudRate,     set.Parity,      set.ByteSize,    set.StopBits,
                      set.fInX,         set.fOutX,       set.fRtsControl, set.fDtrControl,
                      set.fOutxCtsFlow, set.fOutxDsrFlow};
    };
    EXPECT_EQ(format(), (Fields{19200, NOPARITY, 8, ONESTOPBIT, 0, 0, RTS_CONTROL_DISABLE,
                                DTR_CONTROL_ENABLE, 0, 0}));
    // Each row: the parity, stop bits and flow codes set, then the fields they must give (with
    // the speed and data bits set).
    const Fields cases[] = {
        {'E', 2, kFlowXonXoff, kFlowXonXoff, 9600, EVENPARITY, 7, TWOSTOPBITS, 1, 1,
         RTS_CONTROL_ENABLE, DTR_CONTROL_ENABLE, 0, 0},
        // Two stop bits with five data bits are one and a half.
        {'M', 2, kFlowRts, kFlowCts, 300, MARKPARITY, 5, ONE5STOPBITS, 0, 0, RTS_CONTROL_HANDSHAKE,
         DTR_CONTROL_ENABLE, 1, 0},
        {'S', 1, kFlowDtr, kFlowDsr, 115200, SPACEPARITY, 8, ONESTOPBIT, 0, 0, RTS_CONTROL_ENABLE,
         DTR_CONTROL_HANDSHAKE, 0, 1},
        {'N', 1, kFlowNone, kFlowNone, 1200, NOPARITY, 8, ONESTOPBIT, 0, 0, RTS_CONTROL_ENABLE,
         DTR_CONTROL_ENABLE, 0, 0},
        {'O', 1, kFlowXonXoff, kFlowCts, 57600, ODDPARITY, 6, ONESTOPBIT, 1, 0, RTS_CONTROL_ENABLE,
         DTR_CONTROL_ENABLE, 1, 0},
    };
    for (const Fields& c : cases) {
        const Fields fields(c.begin() + 4, c.end());
        SCOPED_TRACE(fields[0]);
        const auto number = [&](std::size_t i) { return static_cast<int>(c[i]); };
        ASSERT_EQ(port->SetFormat(c[4], static_cast<char>(c[0]), number(6), number(1)), 0);
        ASSERT_EQ(port->SetFlowControl(number(2), number(3)), 0);
        EXPECT_EQ(format(), fields);
    }
    // Refused values leave the device, and the flow codes the port reports, as the last row.
    EXPECT_EQ(port->SetFormat(1200, 'N', 8, 3), LINK_BAD_STOP_BITS);
    EXPECT_EQ(port->SetFlowControl(0, 15), LINK_UNSUPPORTED);
    EXPECT_EQ(format(), Fields(cases[4].begin() + 4, cases[4].end()));
    int input, output;
    port->GetFlowControl(input, output);
    EXPECT_EQ(std::make_pair(input, output), std::make_pair(kFlowXonXoff, kFlowCts));
}

TEST_F(Win32SerialFaultsTest, OpenFailuresSayWhy) {
    const std::pair<DWORD, int> cases[] = {
        {ERROR_FILE_NOT_FOUND, LINK_NO_PORT},    // no such device
        {ERROR_ACCESS_DENIED, LINK_PORT_IN_USE}, // another program has it open
        {ERROR_DEVICE_NOT_CONNECTED, LINK_LINE_LOST},
        {ERROR_INVALID_FUNCTION, LINK_FAILED},
    };
    for (const auto& [error, code] : cases) {
        driver_.openError = error;
        EXPECT_EQ(Win32SerialPort(7, 4096, 2048, driver_.Calls()).Status(), code) << error;
    }
}

} // namespace
} // namespace tollan
