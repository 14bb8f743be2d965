// The POSIX serial port over a real pseudo-terminal pair that each test makes with socat and
// ends by its PID. A pseudo-terminal has no modem lines, no line errors, no transmit queue and no
// real speed, and forces eight data bits without parity: those parts are checked as far as the
// port's own records and the device's settings go.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "link/comm_link.h"
#include "link/posix_serial_port.h"
#include "support/port_readings.h"

extern char** environ;

namespace tollan {
namespace {

namespace fs = std::filesystem;

class PtyPairTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tollan-link-pty.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        a_ = dir_ + "/a";
        b_ = dir_ + "/b";
        std::string ends[] = {"pty,raw,echo=0,link=" + a_, "pty,raw,echo=0,link=" + b_};
        char* argv[] = {const_cast<char*>("socat"), ends[0].data(), ends[1].data(), nullptr};
        ASSERT_EQ(posix_spawnp(&socat_, "socat", nullptr, nullptr, argv, environ), 0);
        for (int i = 0; i < 400 && !(fs::exists(a_) && fs::exists(b_)); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        ASSERT_TRUE(fs::exists(a_) && fs::exists(b_)) << "socat made no pseudo-terminals";
    }

    void TearDown() override {
        if (socat_ > 0) {
            kill(socat_, SIGTERM);
            waitpid(socat_, nullptr, 0);
        }
        fs::remove_all(dir_);
    }

    // The device's terminal settings, through the port's descriptor or another opener's.
    static termios SettingsOf(int fd) {
        termios t{};
        EXPECT_EQ(tcgetattr(fd, &t), 0);
        return t;
    }
    termios SettingsOf(const std::string& path) {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const termios t = SettingsOf(fd);
        close(fd);
        return t;
    }

    static bool WaitForInput(CommPort& port, std::uint32_t count) {
        QueueStatus record;
        for (int i = 0; i < 2000 && port.GetQueueStatus(record, kQueueReceive).receiveCount < count;
             ++i) {
            (void)port.Idle(); // only paces the loop
        }
        return record.receiveCount >= count;
    }

    std::string dir_, a_, b_;
    pid_t socat_ = 0;
};

using test::FlowOf;
using test::FormatOf;

TEST_F(PtyPairTest, OpensRawAtTheDefaultFormatAndRestoresOnClose) {
    const termios before = SettingsOf(a_);
    ASSERT_NE(cfgetospeed(&before), B19200);
    {
        PosixSerialPort port(a_);
        ASSERT_EQ(port.Status(), 0);
        const termios t = SettingsOf(port.Descriptor());
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u); // raw otherwise: the interoperability runs
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | CRTSCTS), tcflag_t{CLOCAL | CREAD});
        EXPECT_EQ(cfgetospeed(&t), B19200);
        EXPECT_EQ(t.c_cc[VMIN] | t.c_cc[VTIME], 0);
        EXPECT_EQ(FormatOf(port), std::make_tuple(19200u, 'N', 8, 1));
        // Modem lines fail softly: outputs are remembered, inputs read as off. DTR 0, RTS 1,
        // break 0, DSR 0 | CTS, RI, DCD 0 | no line errors.
        EXPECT_EQ(port.Signal(kSignalDtr, 0), 0);
        LineSnapshot snapshot;
        EXPECT_EQ(port.GetLineSnapshot(snapshot), 0);
        EXPECT_EQ(std::make_tuple(snapshot.bytes[0], snapshot.bytes[1], snapshot.bytes[3]),
                  std::make_tuple(0x04, 0x00, 0x00));
        EXPECT_EQ(port.Status(), 0);
    }
    const termios after = SettingsOf(a_);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
}

TEST_F(PtyPairTest, FormatReachesTheDeviceOrIsRefused) {
    PosixSerialPort port(a_);
    ASSERT_EQ(port.SetFormat(9600, 'O', 7, 2), 0);
    termios t = SettingsOf(port.Descriptor());
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(cfgetispeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & (CSTOPB | PARODD), tcflag_t{CSTOPB | PARODD}); // the pty drops PARENB
    EXPECT_EQ(port.SetFormat(12345, 'N', 8, 1), LINK_BAD_SPEED);
    EXPECT_EQ(port.SetFormat(9600, 'N', 8, 3), LINK_BAD_STOP_BITS);
    EXPECT_EQ(FormatOf(port), std::make_tuple(9600u, 'O', 7, 2));
    ASSERT_EQ(port.SetFormat(115200, 'S', 5, 2), 0);
    t = SettingsOf(port.Descriptor());
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(FormatOf(port), std::make_tuple(115200u, 'S', 5, 1)); // one and a half
}

TEST_F(PtyPairTest, FlowControlCodesReachTermios) {
    PosixSerialPort port(a_);
    struct Case {
        int input, output;
        tcflag_t iflag, cflag; // of IXON | IXOFF and of CRTSCTS
    };
    const Case cases[] = {
        {kFlowXonXoff, kFlowXonXoff, IXON | IXOFF, 0},
        {kFlowNone, kFlowNone, 0, 0},
        {kFlowNone, kFlowCts, 0, CRTSCTS},
        {kFlowNone, kFlowXonXoff, IXON, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.input << " " << c.output);
        ASSERT_EQ(port.SetFlowControl(c.input, c.output), 0);
        const termios t = SettingsOf(port.Descriptor());
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), c.iflag);
        EXPECT_EQ(t.c_cflag & CRTSCTS, c.cflag);
    }
    // Handshakes termios cannot express change nothing.
    EXPECT_EQ(port.SetFlowControl(kFlowDtr, kFlowNone), LINK_UNSUPPORTED);
    EXPECT_EQ(port.SetFlowControl(kFlowNone, kFlowDsr), LINK_UNSUPPORTED);
    EXPECT_EQ(FlowOf(port), std::make_pair(kFlowNone, kFlowXonXoff));
    EXPECT_EQ(SettingsOf(port.Descriptor()).c_iflag & (IXON | IXOFF), tcflag_t{IXON});
}

TEST_F(PtyPairTest, BytesBothWaysAShortWriteAndPurgesByReading) {
    PosixSerialPort a(a_);
    PosixSerialPort b(b_);
    CommLink la(a);
    CommLink lb(b);
    EXPECT_EQ(lb.ReadByte(0), LINK_NO_DATA);
    // Only what fits the transmit queue (2048) is offered (the interoperability runs check the
    // bytes of long streams over these pairs).
    const std::vector<std::uint8_t> data(3000, 'd');
    EXPECT_EQ(a.Write(data.data(), 3000), 2048);
    EXPECT_EQ(a.TakeStatus(), LINK_WRITE_SHORT);
    ASSERT_TRUE(WaitForInput(b, 2048));
    EXPECT_EQ(b.Purge(PurgeDirection::kInput, 4096), 0);
    EXPECT_EQ(lb.ReadByte(100), LINK_NO_DATA);

    EXPECT_EQ(lb.WriteByte(0x00), 0);
    EXPECT_EQ(b.PutString("\xff\r\n"), 3);
    EXPECT_EQ(b.SendImmediate('!'), 0);
    for (int byte : {0x00, 0xFF, 0x0D, 0x0A, 0x21}) {
        EXPECT_EQ(la.ReadByte(2000), byte);
    }

    ASSERT_EQ(a.PutString("abcdefghijklmnopqrst"), 20);
    ASSERT_TRUE(WaitForInput(b, 20));
    EXPECT_EQ(b.Purge(PurgeDirection::kInput, 10), LINK_FAILED); // input left after 10 bytes
    EXPECT_EQ(lb.InputCount(), 10); // counted whether buffered by the port or by the driver
    EXPECT_EQ(b.GetByte(), 'k');
    EXPECT_EQ(b.Purge(PurgeDirection::kInput, 0), 0);
    EXPECT_EQ(b.GetByte(), LINK_NO_DATA);
    EXPECT_EQ(a.Purge(PurgeDirection::kOutput, 0), 0);
}

TEST_F(PtyPairTest, ALostLineEndsEveryWaitOnceWhatArrivedIsTaken) {
    PosixSerialPort a(a_);
    PosixSerialPort b(b_);
    CommLink lb(b);
    ASSERT_EQ(a.PutString("ab"), 2);
    ASSERT_TRUE(WaitForInput(b, 2));
    EXPECT_EQ(lb.ReadByte(0), 'a');
    kill(socat_, SIGKILL); // the other end of the pseudo-terminal goes at once: a hang-up
    waitpid(std::exchange(socat_, 0), nullptr, 0);
    EXPECT_EQ(lb.ReadByte(2000), 'b');
    // The same code as the Win32 port's for a device that has gone.
    EXPECT_EQ(lb.ReadByte(2000), LINK_LINE_LOST);
    EXPECT_EQ(b.Idle(), LINK_LINE_LOST);
    EXPECT_EQ(lb.Delay(2000), LINK_LINE_LOST);
    EXPECT_EQ(lb.WriteByte('x'), LINK_LINE_LOST);
    std::uint16_t flags = 0;
    EXPECT_EQ(lb.CheckLine(flags), LINK_LINE_LOST);
    EXPECT_NE(b.LineLost(), 0);
}

TEST_F(PtyPairTest, OpenTableAndMissingDevices) {
    PosixSerialPort first(a_);
    ASSERT_EQ(first.Status(), 0);
    EXPECT_EQ(PosixSerialPort(a_).Status(), LINK_PORT_IN_USE);
    EXPECT_EQ(PosixSerialPort(fs::canonical(a_).string()).Status(), LINK_PORT_IN_USE);
    EXPECT_EQ(PosixSerialPort(b_).Status(), 0);
    EXPECT_EQ(PosixSerialPort(dir_ + "/nothing").Status(), LINK_NO_PORT);
    std::ofstream(dir_ + "/plain") << "x";
    EXPECT_EQ(PosixSerialPort(dir_ + "/plain").Status(), LINK_NO_PORT);
    EXPECT_EQ(PosixSerialPort(dir_ + "/plain").Status(), LINK_NO_PORT); // nothing left held
}

} // namespace
} // namespace tollan
