// The serial link over a real pseudo-terminal: opening and its result codes,
// exclusive use, the line settings it leaves, and bytes both ways.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "serial/zrkCommModule.h"
#include "tests/serial/pty_peer.h"

namespace vantri {
namespace {

using namespace std::chrono_literals;
using test::PtyPeer;

constexpr std::uint32_t MaxDword = port::MaxDword;

// The line settings and time-outs the Read and Write operations use.
std::int32_t OpenLikeTheOperations(const std::string& device, std::uint8_t parity = 0,
                                   std::uint8_t stopBits = 0, std::int32_t baud = 115200) {
    return OpenComPort(device, baud, parity, stopBits, 100, MaxDword, 200, 1, 1000);
}

// Waits until the link's input queue holds `count` bytes; the pty moves
// them across on a kernel worker, a moment after the far end wrote them.
bool WaitForQueued(int count) {
    auto end = std::chrono::steady_clock::now() + 2s;
    while (InQueueCount() < count) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return InQueueCount() == count;
}

std::string AllByteValues() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<char>(i));
    }
    return bytes;
}

class Link : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Ok()) << "no pseudo-terminal";
        ASSERT_EQ(ComHandle, port::InvalidHandle);
    }
    void TearDown() override { CloseComPort(); }

    PtyPeer peer;
};

TEST_F(Link, NumberedPortsMapToTtySAndOthersNameNothing) {
    EXPECT_EQ(ComPortName(3), "COM3");
    EXPECT_EQ(ComPortName(12), "COM12");
    EXPECT_EQ(ComPortName(-1), "COM-1");
    EXPECT_EQ(port::ComPortDevice(1), "/dev/ttyS0");
    EXPECT_EQ(port::ComPortDevice(12), "/dev/ttyS11");
    EXPECT_EQ(port::ComPortDevice(0), "");
    EXPECT_EQ(port::ComPortDevice(-1), "");

    for (std::int16_t number : {0, -1, -32768}) {
        EXPECT_EQ(OpenComPort(number, 115200, 0, 0, 100, MaxDword, 200, 1, 1000), 1) << number;
        EXPECT_EQ(ComHandle, port::InvalidHandle);
    }
}

TEST_F(Link, AMissingOrNonTerminalDeviceGivesOne) {
    auto dir = std::filesystem::temp_directory_path();
    auto file = dir / ("vantri-link-test-" + std::to_string(::getpid()));
    std::ofstream(file) << "not a port";

    EXPECT_EQ(OpenLikeTheOperations("/dev/vantri-no-such-port"), 1);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    EXPECT_TRUE(port::IsNoSuchDeviceError(port::LastError())) << port::LastError();

    EXPECT_EQ(OpenLikeTheOperations(file.string()), 1);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    EXPECT_EQ(OpenLikeTheOperations(dir.string()), 1);
    EXPECT_EQ(OpenLikeTheOperations("/dev/null"), 1);  // a character device, not a tty
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    std::filesystem::remove(file);
}

TEST_F(Link, OpensAPtyAndClosesOnce) {
    ASSERT_EQ(OpenLikeTheOperations(peer.Path()), 0);
    EXPECT_NE(ComHandle, port::InvalidHandle);

    EXPECT_EQ(CloseComPort(), 1);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    // The second close hands -1 to the platform, which closes nothing.
    EXPECT_EQ(CloseComPort(), 0);
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(EBADF));
    EXPECT_EQ(ComHandle, port::InvalidHandle);
}

TEST_F(Link, APortInUseCannotBeOpenedAgain) {
    ASSERT_EQ(OpenLikeTheOperations(peer.Path()), 0);
    // Another handle of ours.
    EXPECT_EQ(port::OpenDevice(peer.Path()), port::InvalidHandle);
    EXPECT_TRUE(port::IsBusyError(port::LastError())) << port::LastError();
    // The tty itself is marked exclusive while the link holds it, and no
    // longer once it lets go (a pty keeps the mark past the close otherwise).
    int slave = peer.OpenSlave();
    ASSERT_GE(slave, 0);
#ifdef TIOCGEXCL
    int exclusive = 0;
    ASSERT_EQ(::ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
#endif
    EXPECT_EQ(CloseComPort(), 1);
#ifdef TIOCGEXCL
    ASSERT_EQ(::ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
#endif
    port::Handle again = port::OpenDevice(peer.Path());
    EXPECT_NE(again, port::InvalidHandle);
    EXPECT_TRUE(port::Close(again));
}

TEST_F(Link, APortHeldByAnotherProgramGivesOne) {
    // Another open file description with the lock is what another program
    // holding the port looks like, whoever runs the test (root passes
    // TIOCEXCL, not the lock).
    int other = ::open(peer.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(OpenLikeTheOperations(peer.Path()), 1);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    ::close(other);
    EXPECT_EQ(OpenLikeTheOperations(peer.Path()), 0);
}

TEST_F(Link, OpeningWhileOpenClosesTheOpenPortFirst) {
    ASSERT_EQ(OpenLikeTheOperations(peer.Path()), 0);
    // Had the first port not been closed, its lock would refuse this open.
    EXPECT_EQ(OpenLikeTheOperations(peer.Path()), 0);

    // Closed first even when the new open fails.
    EXPECT_EQ(OpenLikeTheOperations("/dev/vantri-no-such-port"), 1);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    port::Handle free = port::OpenDevice(peer.Path());
    EXPECT_NE(free, port::InvalidHandle);
    EXPECT_TRUE(port::Close(free));
}

TEST_F(Link, RefusedLineSettingsGiveThreeAndKeepThePortHeld) {
    // 1.5 stop bits and rates termios lacks are refused; a pty cannot do
    // parity and drops it quietly, which must not pass for success.
    struct Case {
        std::int32_t baud;
        std::uint8_t parity, stopBits;
    };
    for (Case c : {Case{12345, 0, 0}, Case{-1, 0, 0}, Case{115200, 0, 1}, Case{115200, 1, 0},
                   Case{115200, 2, 0}, Case{115200, 5, 0}, Case{115200, 0, 3}}) {
        EXPECT_EQ(OpenLikeTheOperations(peer.Path(), c.parity, c.stopBits, c.baud), 3)
            << c.baud << " " << int{c.parity} << " " << int{c.stopBits};
        EXPECT_NE(ComHandle, port::InvalidHandle);
        EXPECT_EQ(port::OpenDevice(peer.Path()), port::InvalidHandle);  // still held
    }
    // The next open closes the held port before opening.
    EXPECT_EQ(OpenLikeTheOperations(peer.Path()), 0);
    EXPECT_EQ(OpenLikeTheOperations(peer.Path(), 0, 2), 0);  // two stop bits are fine
    EXPECT_EQ(CloseComPort(), 1);
}

// A fresh pty starts cooked (line editing, echo, CR/LF mapping, XON/XOFF,
// signals); the link must leave a raw 8N1 line at 115200 with the port's
// own hardware flow control and modem-line handling.
void ExpectRawLineKeeping(int slave, tcflag_t kept) {
    termios t{};
    ASSERT_EQ(::tcgetattr(slave, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), B115200);
    EXPECT_EQ(::cfgetispeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_EQ(t.c_cflag & (CRTSCTS | CLOCAL | HUPCL), kept);
    EXPECT_EQ(t.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(Link, LeavesARaw8N1LineAndKeepsFlowControl) {
    int slave = peer.OpenSlave();
    ASSERT_GE(slave, 0);
    for (tcflag_t kept : {tcflag_t{CRTSCTS | HUPCL}, tcflag_t{CLOCAL}}) {
        termios t{};
        ASSERT_EQ(::tcgetattr(slave, &t), 0);
        t.c_iflag |= IXON | IXOFF | ICRNL;
        t.c_lflag |= ECHO | ICANON | ISIG;
        t.c_oflag |= OPOST;
        t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CLOCAL | HUPCL);
        t.c_cflag |= kept;
        ::cfsetspeed(&t, B9600);
        ASSERT_EQ(::tcsetattr(slave, TCSANOW, &t), 0);

        ASSERT_EQ(OpenLikeTheOperations(peer.Path()), 0);
        ExpectRawLineKeeping(slave, kept);

        port::LineSettings line;
        ASSERT_TRUE(port::GetLineSettings(ComHandle, line));
        EXPECT_EQ(line.BaudRate, 115200u);
        EXPECT_EQ(line.ByteSize, 8);
        EXPECT_EQ(line.Parity, port::NoParity);
        EXPECT_EQ(line.StopBits, port::OneStopBit);
        EXPECT_EQ(CloseComPort(), 1);
    }
}

TEST_F(Link, QueuesStartEmpty) {
    ASSERT_GE(peer.OpenSlave(), 0);  // keeps the line alive before the open
    ASSERT_TRUE(peer.Send("left over"));
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(OpenComPort(peer.Path(), 115200, 0, 0, MaxDword, 0, 0, 0, 0), 0);
    EXPECT_EQ(InQueueCount(), 0);
    EXPECT_EQ(ReadBytes(16), "");
}

TEST_F(Link, EveryByteValueCrossesBothWaysUnchanged) {
    ASSERT_EQ(OpenComPort(peer.Path(), 115200, 0, 0, 100, 0, 2000, 1, 1000), 0);
    const std::string all = AllByteValues();

    ASSERT_TRUE(peer.Send(all));
    std::uint32_t error = 99;
    EXPECT_EQ(ReadBytes(256, &error), all);
    EXPECT_EQ(error, 0u);

    std::uint32_t written = 0;
    EXPECT_EQ(SendString(all, &written, &error), 1);
    EXPECT_EQ(written, 256u);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(peer.Receive(256, 2000ms), all);
    // Nothing more: no echo of what came in, no CR added to a LF.
    EXPECT_EQ(peer.Receive(1, 50ms), "");
}

TEST_F(Link, ByteZeroStaysInsideAResult) {
    ASSERT_EQ(OpenLikeTheOperations(peer.Path()), 0);
    const std::string sent("\0A\0", 3);
    ASSERT_TRUE(peer.Send(sent));
    EXPECT_EQ(ReadBytes(3), sent);
}

TEST_F(Link, SendStringWritesExactlyTheText) {
    ASSERT_EQ(OpenLikeTheOperations(peer.Path()), 0);
    std::uint32_t written = 0;
    EXPECT_EQ(SendString("\x05", &written), 1);
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(peer.Receive(2, 100ms), "\x05");

    std::string block(4096, '\x5a');
    EXPECT_EQ(SendString(block, &written), 1);
    EXPECT_EQ(written, 4096u);
    EXPECT_EQ(peer.Receive(8192, 300ms), block);

    // An empty text is no write and no failure.
    std::uint32_t error = 99;
    EXPECT_EQ(SendString("", &written, &error), 1);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(peer.Receive(1, 50ms), "");
}

TEST_F(Link, ReadBytesOfNothingReadsNothing) {
    ASSERT_EQ(OpenLikeTheOperations(peer.Path()), 0);
    ASSERT_TRUE(peer.Send("xy"));
    ASSERT_TRUE(WaitForQueued(2));
    std::uint32_t error = 99;
    EXPECT_EQ(ReadBytes(0, &error), "");
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(ReadBytes(-5), "");
    EXPECT_EQ(InQueueCount(), 2);  // untouched
    EXPECT_EQ(ReadBytes(2), "xy");
}

TEST_F(Link, InQueueCountFollowsTheInputQueue) {
    EXPECT_EQ(InQueueCount(), 0);  // no port

    ASSERT_EQ(OpenLikeTheOperations(peer.Path()), 0);
    EXPECT_EQ(InQueueCount(), 0);
    ASSERT_TRUE(peer.Send("0123456789"));
    EXPECT_TRUE(WaitForQueued(10));
    EXPECT_EQ(ReadBytes(4), "0123");
    EXPECT_EQ(InQueueCount(), 6);
    EXPECT_EQ(ReadBytes(6), "456789");
    EXPECT_EQ(InQueueCount(), 0);
}

TEST_F(Link, WithNoPortOpenCallsFailQuietly) {
    std::uint32_t error = 0;
    EXPECT_EQ(ReadBytes(2, &error), "");
    EXPECT_EQ(error, static_cast<std::uint32_t>(EBADF));
    EXPECT_EQ(SendString("x", nullptr, &error), 0);
    EXPECT_EQ(error, static_cast<std::uint32_t>(EBADF));
    EXPECT_FALSE(port::ErrorText(error).empty());
}

TEST(Ports, ListsEachTerminalDeviceOnce) {
    auto ports = port::ListPorts();
    std::set<std::string> seen;
    for (const auto& p : ports) {
        std::error_code ec;
        EXPECT_TRUE(std::filesystem::is_character_file(p.name, ec)) << p.name;
        EXPECT_TRUE(seen.insert(p.name).second) << p.name;
    }
}

}  // namespace
}  // namespace vantri
