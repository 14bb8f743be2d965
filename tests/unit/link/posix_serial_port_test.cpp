// The POSIX serial port over a real pseudo-terminal pair: each test starts
//   socat pty,raw,echo=0,link=DIR/a pty,raw,echo=0,link=DIR/b
// and ends it by its PID. What a pseudo-terminal cannot show: it has no modem lines (TIOCMGET
// and TIOCMSET fail, so DTR, RTS, CTS, DSR, RI and DCD cannot be observed, and carrier detect
// is tested on the in-memory pair instead), no line errors (no TIOCGICOUNT), no transmit queue
// (TIOCOUTQ stays 0), no real speed, and it forces eight data bits without parity whatever the
// port asks for. Those parts are checked as far as the port's own records go.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "comm_link.h"
#include "posix_serial_port.h"
#include "tick_count.h"

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
        const std::string first = "pty,raw,echo=0,link=" + a_;
        const std::string second = "pty,raw,echo=0,link=" + b_;
        char* argv[] = {const_cast<char*>("socat"), const_cast<char*>(first.c_str()),
                        const_cast<char*>(second.c_str()), nullptr};
        ASSERT_EQ(posix_spawnp(&socat_, "socat", nullptr, nullptr, argv, environ), 0)
            << "socat is needed for these tests";
        for (int i = 0; i < 200 && !(fs::exists(a_) && fs::exists(b_)); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        ASSERT_TRUE(fs::exists(a_) && fs::exists(b_)) << "socat made no pseudo-terminals";
    }

    void TearDown() override {
        if (socat_ > 0) {
            kill(socat_, SIGTERM);
            int status = 0;
            waitpid(socat_, &status, 0);
        }
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // The device's terminal settings as another opener sees them.
    termios SettingsOf(const std::string& path) {
        termios t{};
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(tcgetattr(fd, &t), 0);
        close(fd);
        return t;
    }

    // Reads from `port` until `count` bytes have come or a second has passed without any.
    static std::vector<std::uint8_t> ReadAll(CommLink& link, std::size_t count) {
        std::vector<std::uint8_t> got;
        while (got.size() < count) {
            const int c = link.ReadByte(1000);
            if (c < 0) {
                break;
            }
            got.push_back(static_cast<std::uint8_t>(c));
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
            port.Idle();
        }
        return true;
    }

    std::string dir_, a_, b_;
    pid_t socat_ = 0;
};

TEST_F(PtyPairTest, OpensRawAtTheDefaultFormatAndRestoresOnClose) {
    const termios before = SettingsOf(a_);
    ASSERT_NE(cfgetospeed(&before), B19200);
    {
        PosixSerialPort port(a_);
        ASSERT_EQ(port.Status(), 0);
        ASSERT_TRUE(port.IsOpen());
        termios t{};
        ASSERT_EQ(tcgetattr(port.Descriptor(), &t), 0);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_NE(t.c_cflag & CLOCAL, 0u);
        EXPECT_NE(t.c_cflag & CREAD, 0u);
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(cfgetospeed(&t), B19200);
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_cc[VTIME], 0);
        std::uint32_t speed;
        char parity;
        int dataBits, stopBits;
        port.GetFormat(speed, parity, dataBits, stopBits);
        EXPECT_EQ(speed, 19200u);
        EXPECT_EQ(parity, 'N');
        EXPECT_EQ(dataBits, 8);
        EXPECT_EQ(stopBits, 1);
    }
    const termios after = SettingsOf(a_);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
}

TEST_F(PtyPairTest, FormatReachesTheDeviceOrIsRefused) {
    PosixSerialPort port(a_);
    ASSERT_EQ(port.Status(), 0);
    ASSERT_EQ(port.SetFormat(9600, 'O', 7, 2), 0);
    termios t{};
    tcgetattr(port.Descriptor(), &t);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(cfgetispeed(&t), B9600);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_NE(t.c_cflag & PARODD, 0u); // the pty keeps this flag but forces CS8 without PARENB

    EXPECT_EQ(port.SetFormat(12345, 'N', 8, 1), LINK_BAD_SPEED);
    EXPECT_EQ(port.SetFormat(9600, 'n', 8, 1), LINK_BAD_PARITY);
    EXPECT_EQ(port.SetFormat(9600, 'N', 4, 1), LINK_BAD_DATA_BITS);
    EXPECT_EQ(port.SetFormat(9600, 'N', 8, 3), LINK_BAD_STOP_BITS);
    EXPECT_EQ(port.TakeStatus(), LINK_BAD_STOP_BITS);
    std::uint32_t speed;
    char parity;
    int dataBits, stopBits;
    port.GetFormat(speed, parity, dataBits, stopBits);
    EXPECT_EQ(speed, 9600u);
    EXPECT_EQ(parity, 'O');
    EXPECT_EQ(dataBits, 7);
    EXPECT_EQ(stopBits, 2);

    ASSERT_EQ(port.SetFormat(115200, 'S', 5, 2), 0);
    tcgetattr(port.Descriptor(), &t);
    EXPECT_EQ(cfgetospeed(&t), B115200);
    port.GetFormat(speed, parity, dataBits, stopBits);
    EXPECT_EQ(parity, 'S');
    EXPECT_EQ(dataBits, 5);
    EXPECT_EQ(stopBits, 1); // one and a half
}

TEST_F(PtyPairTest, FlowControlCodesReachTermios) {
    PosixSerialPort port(a_);
    ASSERT_EQ(port.Status(), 0);
    termios t{};
    ASSERT_EQ(port.SetFlowControl(kFlowXonXoff, kFlowXonXoff), 0);
    tcgetattr(port.Descriptor(), &t);
    EXPECT_NE(t.c_iflag & IXON, 0u);
    EXPECT_NE(t.c_iflag & IXOFF, 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);

    ASSERT_EQ(port.SetFlowControl(kFlowRts, kFlowCts), 0);
    tcgetattr(port.Descriptor(), &t);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);

    ASSERT_EQ(port.SetFlowControl(kFlowNone, kFlowXonXoff), 0);
    tcgetattr(port.Descriptor(), &t);
    EXPECT_NE(t.c_iflag & IXON, 0u);
    EXPECT_EQ(t.c_iflag & IXOFF, 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);

    // Handshakes termios cannot express, and codes nobody knows, change nothing.
    EXPECT_EQ(port.SetFlowControl(kFlowDtr, kFlowNone), LINK_UNSUPPORTED);
    EXPECT_EQ(port.SetFlowControl(kFlowNone, kFlowDsr), LINK_UNSUPPORTED);
    EXPECT_EQ(port.SetFlowControl(2, kFlowNone), LINK_FAILED);
    EXPECT_EQ(port.TakeStatus(), LINK_BAD_INPUT_FLOW);
    int input, output;
    port.GetFlowControl(input, output);
    EXPECT_EQ(input, kFlowNone);
    EXPECT_EQ(output, kFlowXonXoff);
    tcgetattr(port.Descriptor(), &t);
    EXPECT_NE(t.c_iflag & IXON, 0u);

    ASSERT_EQ(port.SetFlowControl(kFlowNone, kFlowNone), 0);
    tcgetattr(port.Descriptor(), &t);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
}

TEST_F(PtyPairTest, BytesBothWaysWithQueueCounts) {
    PosixSerialPort a(a_);
    PosixSerialPort b(b_);
    ASSERT_EQ(a.Status(), 0);
    ASSERT_EQ(b.Status(), 0);
    CommLink la(a);
    CommLink lb(b);
    EXPECT_EQ(lb.ReadByte(0), LINK_NO_DATA);
    EXPECT_EQ(la.WriteBlock("0123456789", 10), 10);
    ASSERT_TRUE(WaitForInput(b, 10));
    EXPECT_EQ(lb.InputCount(), 10);
    EXPECT_EQ(lb.ReadByte(100), '0');
    EXPECT_EQ(lb.InputCount(), 9); // counted whether buffered by the port or by the driver
    char rest[16] = {};
    EXPECT_EQ(b.Read(rest, 4), 4);
    EXPECT_EQ(std::string(rest, 4), "1234");
    EXPECT_EQ(lb.InputCount(), 5);
    EXPECT_EQ(la.OutputCount(), 0);

    EXPECT_EQ(lb.WriteByte(0x00), 0);
    EXPECT_EQ(b.PutString("\xff\r\n"), 3);
    EXPECT_EQ(b.SendImmediate('!'), 0);
    EXPECT_EQ(la.ReadByte(1000), 0x00);
    EXPECT_EQ(la.ReadByte(1000), 0xFF);
    EXPECT_EQ(la.ReadByte(1000), '\r');
    EXPECT_EQ(la.ReadByte(1000), '\n');
    EXPECT_EQ(la.ReadByte(1000), '!');
}

TEST_F(PtyPairTest, PurgesDiscardInput) {
    PosixSerialPort a(a_);
    PosixSerialPort b(b_);
    std::vector<std::uint8_t> data(20);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>('a' + i);
    }
    a.Write(data.data(), 3);
    ASSERT_TRUE(WaitForInput(b, 3));
    EXPECT_EQ(b.Purge(0, 10), 0);
    a.Write(data.data(), 20);
    ASSERT_TRUE(WaitForInput(b, 20));
    EXPECT_EQ(b.Purge(0, 10), LINK_FAILED);
    EXPECT_EQ(b.GetByte(), 'k');
    EXPECT_EQ(b.Purge(0, 0), 0);
    QueueStatus record;
    EXPECT_EQ(b.GetQueueStatus(record, kQueueAll).receiveCount, 0u);
    EXPECT_EQ(b.GetByte(), LINK_NO_DATA);
    EXPECT_EQ(a.Purge(1, 0), 0);
}

TEST_F(PtyPairTest, LargeBlockCrossesIntact) {
    PosixSerialPort a(a_);
    PosixSerialPort b(b_);
    CommLink la(a);
    CommLink lb(b);
    ASSERT_EQ(la.SetTransmitQueue(4096), 0);
    std::vector<std::uint8_t> data(300000);
    std::uint32_t x = 99;
    for (auto& byte : data) {
        x = x * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(x >> 24);
    }
    std::vector<std::uint8_t> got;
    got.reserve(data.size());
    std::size_t sent = 0;
    std::uint8_t chunk[1024];
    const std::uint32_t deadline = TickCount() + 20000;
    while (got.size() < data.size() && !TickReached(TickCount(), deadline)) {
        if (sent < data.size()) {
            const int n = static_cast<int>(std::min<std::size_t>(4096, data.size() - sent));
            sent += static_cast<std::size_t>(la.WriteBlock(data.data() + sent, n));
        }
        int n;
        while ((n = b.Read(chunk, sizeof chunk)) > 0) {
            got.insert(got.end(), chunk, chunk + n);
        }
        lb.Idle();
    }
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

TEST_F(PtyPairTest, WritePastTheQueueIsShort) {
    PosixSerialPort a(a_, 4096, 100);
    const std::vector<std::uint8_t> data(300, 'q');
    EXPECT_EQ(a.Write(data.data(), 300), 100);
    EXPECT_EQ(a.TakeStatus(), LINK_WRITE_SHORT);
    EXPECT_EQ(a.PutByte('r'), 0);
    EXPECT_EQ(a.Status(), 0);
}

TEST_F(PtyPairTest, WaitingGivesUpTheProcessor) {
    PosixSerialPort a(a_);
    CommLink link(a);
    const std::clock_t cpuBefore = std::clock();
    const std::uint32_t start = TickCount();
    EXPECT_EQ(link.ReadByte(300), LINK_NO_DATA);
    EXPECT_GE(TickCount() - start, 300u);
    EXPECT_EQ(link.Delay(200), 0);
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    EXPECT_LT(cpuMs, 150.0) << "the wait spun";
}

TEST_F(PtyPairTest, ReadByteWakesWhenAByteArrives) {
    PosixSerialPort a(a_);
    PosixSerialPort b(b_);
    CommLink link(a);
    std::thread sender([&b] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        b.PutByte('w');
    });
    const std::uint32_t start = TickCount();
    EXPECT_EQ(link.ReadByte(5000), 'w');
    EXPECT_LT(TickCount() - start, 2000u);
    sender.join();
}

TEST_F(PtyPairTest, OpenTableByPathAndByNumber) {
    PosixSerialPort first(a_);
    ASSERT_EQ(first.Status(), 0);
    PosixSerialPort again(a_);
    EXPECT_EQ(again.Status(), LINK_PORT_IN_USE);
    EXPECT_FALSE(again.IsOpen());
    // The same device under its own name.
    PosixSerialPort resolved(fs::canonical(a_).string());
    EXPECT_EQ(resolved.Status(), LINK_PORT_IN_USE);

    {
        PosixSerialPort numbered(9, b_);
        ASSERT_EQ(numbered.Status(), 0);
        EXPECT_EQ(numbered.PortNumber(), 9u);
        EXPECT_EQ(PortOpenCount(9), 1);
        PosixSerialPort sameNumber(9, b_);
        EXPECT_EQ(sameNumber.Status(), LINK_PORT_IN_USE);
    }
    EXPECT_EQ(PortOpenCount(9), 0);
    PosixSerialPort free(b_);
    EXPECT_EQ(free.Status(), 0);
}

TEST_F(PtyPairTest, MissingDeviceAndNonTerminalAreNoPorts) {
    PosixSerialPort missing(dir_ + "/nothing");
    EXPECT_FALSE(missing.IsOpen());
    CommLink link(missing);
    std::uint16_t flags = 0xFFFF;
    EXPECT_EQ(link.CheckLine(flags), LINK_NO_PORT);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(link.CheckLine(flags), 0);

    const std::string file = dir_ + "/plain";
    std::ofstream(file) << "x";
    PosixSerialPort plain(file);
    EXPECT_EQ(plain.Status(), LINK_NO_PORT);
    // A failed open holds nothing in the open table.
    PosixSerialPort plainAgain(file);
    EXPECT_EQ(plainAgain.Status(), LINK_NO_PORT);
}

TEST_F(PtyPairTest, ModemLinesFailSoftly) {
    PosixSerialPort port(a_);
    ASSERT_EQ(port.Status(), 0);
    // No modem lines on a pty: the outputs are remembered, the inputs read as off.
    EXPECT_EQ(port.Signal(kSignalDtr, 0), 0);
    EXPECT_EQ(port.Signal(kSignalRts, -1), 1);
    for (int code : {kSignalCts, kSignalDsr, kSignalRing, kSignalCarrier}) {
        EXPECT_EQ(port.Signal(code, -1), 0) << code;
    }
    EXPECT_EQ(port.ReadModemStatus(), 0);
    EXPECT_EQ(port.Signal(16, -1), 2);
    LineSnapshot snapshot;
    EXPECT_EQ(port.GetLineSnapshot(snapshot), 0);
    EXPECT_EQ(snapshot.bytes[0], 0x04); // DTR 0, RTS 1
    EXPECT_EQ(snapshot.bytes[3], 0x00);
    EXPECT_EQ(port.SetBreak(-1), 0);
    EXPECT_EQ(port.Status(), 0);
}

TEST_F(PtyPairTest, DumpGivesSixLines) {
    PosixSerialPort port(a_);
    std::vector<std::string> lines;
    port.Dump([&lines](const char* line) { lines.emplace_back(line); });
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].rfind("Port type: POSIX termios  BaudRate: 19200 ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[4], "XoffLim: 128   Device: " + a_);
    EXPECT_EQ(lines[5].rfind("RX sz/ct:  4096/0      TX sz/ct:  2048/0", 0), 0u) << lines[5];
}

} // namespace
} // namespace tollan
