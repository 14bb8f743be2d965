// The Win32 serial port under Wine, on COM5 (port number 4), whose other end is COM6: the test
// runner joins the two through a pseudo-terminal pair. There Wine refuses the modem-line calls,
// reports no transmit queue and ignores the speed, so the port must fail softly; the modem-line
// logic itself is tested on the in-memory pair.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <numeric>
#include <thread>
#include <tuple>
#include <vector>

#include "link/comm_link.h"
#include "link/win32_serial_port.h"

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
        // The flow flags the device had are kept on opening; an earlier test may have set some.
        ASSERT_EQ(port_->SetFlowControl(kFlowNone, kFlowNone), 0);
        // Bytes an earlier test left in the pseudo-terminals are purged until both ends have
        // stayed quiet for five looks in a row.
        for (int quiet = 0, looks = 0; quiet < 5 && looks < 500; ++looks) {
            Sleep(10);
            QueueStatus a, b;
            const bool arrived = port_->GetQueueStatus(a, kQueueReceive).receiveCount != 0 ||
                                 peer_->GetQueueStatus(b, kQueueReceive).receiveCount != 0;
            quiet = arrived ? 0 : quiet + 1;
            ASSERT_EQ(port_->Purge(PurgeDirection::kInput, 0), 0);
            ASSERT_EQ(peer_->Purge(PurgeDirection::kInput, 0), 0);
        }
    }

    static bool WaitForInput(CommPort& port, std::uint32_t count) {
        QueueStatus record;
        for (int i = 0; i < 2000 && port.GetQueueStatus(record, kQueueReceive).receiveCount < count;
             ++i) {
            Sleep(1);
        }
        return record.receiveCount >= count;
    }

    const DCB& Dcb() const { return port_->Configuration(); }

    std::unique_ptr<Win32SerialPort> port_;
    std::unique_ptr<Win32SerialPort> peer_;
};

TEST_F(Win32SerialPortTest, OpenTableAndMissingPort) {
    EXPECT_EQ(Win32SerialPort(kCom5, 4096, 2048).Status(), LINK_PORT_IN_USE);
    EXPECT_EQ(PortOpenCount(kCom5), 1);
    EXPECT_EQ(port_->PutByte('s'), 0); // the refused open left the device alone
    CommLink peer(*peer_);
    EXPECT_EQ(peer.ReadByte(2000), 's');
    port_.reset();
    EXPECT_EQ(PortOpenCount(kCom5), 0);
    EXPECT_EQ(Win32SerialPort(kCom5, 4096, 2048).Status(), 0);

    EXPECT_EQ(Win32SerialPort(40, 4096, 2048).Status(), LINK_NO_PORT); // COM41
    EXPECT_EQ(PortOpenCount(40), 0);
}

TEST_F(Win32SerialPortTest, BytesBothWaysAndAShortWrite) {
    CommLink link(*port_);
    CommLink peer(*peer_);
    EXPECT_EQ(link.ReadByte(0), LINK_NO_DATA);
    for (int byte : {0x00, 0x11, 0x13, 0x7F, 0xFF}) {
        EXPECT_EQ(link.WriteByte(static_cast<std::uint8_t>(byte)), 0);
        EXPECT_EQ(peer.ReadByte(2000), byte);
        EXPECT_EQ(peer.WriteByte(static_cast<std::uint8_t>(byte ^ 0x55)), 0);
        EXPECT_EQ(link.ReadByte(2000), byte ^ 0x55);
    }
    std::vector<std::uint8_t> data(3000);
    std::iota(data.begin(), data.end(), 0);
    // Only what fits the transmit queue is offered.
    EXPECT_EQ(port_->Write(data.data(), 3000), 2048);
    EXPECT_EQ(port_->TakeStatus(), LINK_WRITE_SHORT);
    std::vector<std::uint8_t> got;
    for (int c; got.size() < 3000 && (c = peer.ReadByte(500)) >= 0;) {
        got.push_back(static_cast<std::uint8_t>(c));
    }
    EXPECT_TRUE(got == std::vector<std::uint8_t>(data.begin(), data.begin() + 2048));
}

TEST_F(Win32SerialPortTest, PurgeByReadingAndAtOnce) {
    ASSERT_EQ(peer_->PutString("abcdefghijklmnopqrst"), 20);
    ASSERT_TRUE(WaitForInput(*port_, 20));
    EXPECT_EQ(port_->Purge(PurgeDirection::kInput, 10), LINK_FAILED); // input left after 10 bytes
    EXPECT_EQ(port_->GetByte(), 'k');
    EXPECT_EQ(port_->Purge(PurgeDirection::kInput, 0), 0);
    EXPECT_EQ(port_->GetByte(), LINK_NO_DATA);
    EXPECT_EQ(port_->Purge(PurgeDirection::kOutput, 0), 0);
}

// The processor time this process has used, in milliseconds.
double ProcessCpuMs() {
    FILETIME t[4]{}; // created, ended, kernel, user
    GetProcessTimes(GetCurrentProcess(), &t[0], &t[1], &t[2], &t[3]);
    const auto ms = [](FILETIME f) {
        return static_cast<double>(ULARGE_INTEGER{{f.dwLowDateTime, f.dwHighDateTime}}.QuadPart) /
               10000.0;
    };
    return ms(t[2]) + ms(t[3]);
}

TEST_F(Win32SerialPortTest, WaitsBlockOnAQuietLineAndEndWithTheFirstByte) {
    CommLink link(*port_);
    // A quiet line: a read waits out its time without using the processor.
    const double cpu = ProcessCpuMs();
    const DWORD start = GetTickCount();
    EXPECT_EQ(link.ReadByte(1500), LINK_NO_DATA);
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 1400u);
    EXPECT_LT(ProcessCpuMs() - cpu, 0.05 * waited) << "the wait spun";
    // Idle slices too.
    const double idleCpu = ProcessCpuMs();
    const DWORD idleStart = GetTickCount();
    while (GetTickCount() - idleStart < 500) {
        EXPECT_EQ(port_->Idle(), 0);
    }
    EXPECT_LT(ProcessCpuMs() - idleCpu, 25.0) << "Idle() spun";

    // A byte that comes during the wait ends it at once, and nothing is lost around it.
    std::thread writer([this] {
        Sleep(300);
        static_cast<void>(peer_->PutString("xyz")); // the reads below check what arrived
    });
    const DWORD byteStart = GetTickCount();
    EXPECT_EQ(link.ReadByte(5000), 'x');
    EXPECT_LT(GetTickCount() - byteStart, 2000u);
    writer.join();
    ASSERT_TRUE(WaitForInput(*port_, 2));
    char rest[4] = {};
    EXPECT_EQ(port_->Read(rest, 3), 2);
    EXPECT_STREQ(rest, "yz");
}

TEST_F(Win32SerialPortTest, SignalsFailSoftlyOnAPseudoTerminal) {
    // DTR and RTS are remembered even though the device refuses the escapes.
    EXPECT_EQ(port_->Signal(kSignalDtr, 0), 0);
    EXPECT_EQ(Dcb().fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    LineSnapshot snapshot;
    EXPECT_EQ(port_->GetLineSnapshot(snapshot), 0);
    // DTR 0, RTS 1, break 0, DSR 0 | CTS, RI, DCD 0 | no line errors
    EXPECT_EQ(std::make_tuple(snapshot.bytes[0], snapshot.bytes[1], snapshot.bytes[3]),
              std::make_tuple(0x04, 0x00, 0x00));
    EXPECT_EQ(port_->Signal(kSignalBreakState, 1), 1);
    EXPECT_EQ(port_->SetBreak(-1), 1);
    EXPECT_EQ(port_->SetBreak(0), 0);
    EXPECT_EQ(port_->Status(), 0);
}

} // namespace
} // namespace tollan
