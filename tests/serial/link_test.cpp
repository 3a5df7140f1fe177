// The serial link over a real pseudo-terminal: opening and its result codes,
// exclusive use, the line it leaves, bytes both ways, the Windows time-out
// rules measured, a lost device; and the port list of a made-up sysfs tree.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "serial/port_choices.h"
#include "serial/zrkCommModule.h"
#include "tests/common/files.h"

namespace vantri {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
// Whether a wait begun at `start` that should take `expected` ms ended in
// time: never early; late by what a loaded machine's wake-up costs, never by
// a unit error.
testing::AssertionResult InTime(Clock::time_point start, double expected) {
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return (ms >= expected && ms < 3 * expected + 400 ? testing::AssertionSuccess()
                                                      : testing::AssertionFailure())
           << ms << " ms";
}

// Waits until the link's input queue holds `count` bytes: the pty moves them
// across on a kernel worker, a moment after the far end wrote them.
bool WaitForQueued(int count) {
    return test::Eventually([&] { return InQueueCount() >= count; }) && InQueueCount() == count;
}

// Whether another open of ours is refused, i.e. the link holds the port.
bool Held(const std::string& device) {
    const port::Handle other = port::OpenDevice(device);
    return other == port::InvalidHandle || (port::Close(other), false);
}

// The device: the master of a fresh pseudo-terminal, whose port side (path)
// the link opens like any serial port.  Writing to the master is the device
// sending.
class Link : public ::testing::Test {
  protected:
    void SetUp() override {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0 &&
                    ::ptsname_r(master, name, sizeof name) == 0);
        path = name;
        // The port side held by the test too, to look at its termios and
        // exclusive mark, and to keep the line and its queue alive across a close.
        slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    void TearDown() override {
        CloseComPort();
        ::close(master);
        ::close(slave);
    }
    bool Send(const std::string& bytes) {
        return ::write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // What the port side sent, up to `count` bytes, each wait at most `ms`.
    std::string Receive(std::size_t count, int ms) {
        std::string got(count, '\0');
        std::size_t n = 0;
        for (pollfd p{master, POLLIN, 0}; n<count&& ::poll(&p, 1, ms)> 0;) {
            const ssize_t more = ::read(master, got.data() + n, count - n);
            n += static_cast<std::size_t>(std::max<ssize_t>(more, 0));
        }
        return got.substr(0, n);
    }
    // The line settings and time-outs the Read and Write operations use.
    std::int32_t Open(const std::string& device, std::uint32_t interval = 100,
                      std::uint32_t constant = 2000, std::uint32_t writeConstant = 1000) {
        return OpenComPort(device, 115200, 0, 0, interval, 0, constant, 1, writeConstant);
    }

    int master = -1, slave = -1;
    std::string path;
};

TEST_F(Link, WhatCannotBeOpenedGivesOne) {
    EXPECT_EQ(port::ComPortDevice(12), "/dev/ttyS11");
    for (std::int16_t number : {0, -1, -32768})
        EXPECT_EQ(OpenComPort(number, 115200, 0, 0, 100, 0, 200, 1, 1000), 1) << number;
    const test::TempDir dir;
    test::WriteFile(dir / "file", "not a port");
    for (const auto& device : {(dir / "file").string(), dir.path.string(), std::string("/dev/null"),
                               std::string("/dev/vantri-no-such-port")}) {
        EXPECT_EQ(Open(device), 1) << device;
        EXPECT_EQ(ComHandle, port::InvalidHandle);
    }
    EXPECT_TRUE(port::IsNoSuchDeviceError(port::LastError())) << port::LastError();
}

TEST_F(Link, HoldsThePortExclusivelyUntilClosed) {
    // Another open file description with the lock is what another program
    // holding the port looks like, whoever runs the test (root passes
    // TIOCEXCL, not the lock).
    int other = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Open(path), 1);
    ::close(other);
    ASSERT_EQ(Open(path), 0);
    EXPECT_EQ(port::OpenDevice(path), port::InvalidHandle);
    EXPECT_TRUE(port::IsBusyError(port::LastError())) << port::LastError();
    EXPECT_EQ(Open(path), 0);  // opening again closes the open port first
    // The tty is marked exclusive while held, and no longer once let go (a
    // pty keeps the mark past the close otherwise).
    int held = 0, released = 1;
    ASSERT_EQ(::ioctl(slave, TIOCGEXCL, &held), 0);
    EXPECT_EQ(CloseComPort(), 1);
    ASSERT_EQ(::ioctl(slave, TIOCGEXCL, &released), 0);
    EXPECT_EQ(std::pair(held, released), std::pair(1, 0));
    EXPECT_FALSE(Held(path));
    EXPECT_EQ(CloseComPort(), 0);  // nothing left to close
    // A failed open still closes the open port first.
    ASSERT_EQ(Open(path), 0);
    EXPECT_EQ(Open("/dev/vantri-no-such-port"), 1);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    EXPECT_FALSE(Held(path));
}

// The link does the exchanges' line and time-outs only: other settings are
// refused at their step, as invalid, and the port stays held.
TEST_F(Link, OtherSettingsAreRefusedAtTheirStep) {
    // Baud, parity, stop bits, the five time-outs, the step refused.
    const std::uint32_t cases[][9] = {
        {9600, 0, 0, 100, 0, 2000, 1, 1000, 3},
        {115200, 2, 0, 100, 0, 2000, 1, 1000, 3},  // even parity
        {115200, 0, 2, 100, 0, 2000, 1, 1000, 3},  // two stop bits
        {115200, 0, 0, 100, 10, 2000, 1, 1000, 4},
        {115200, 0, 0, port::MaxDword, 0, 0, 0, 0, 4},
        {115200, 0, 0, 100, 0, 2000, port::MaxDword, 1000, 4},
    };
    for (const auto& c : cases) {  // the port stays held, as it was
        EXPECT_EQ(OpenComPort(path, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]),
                  static_cast<std::int32_t>(c[8]))
            << c[0] << " " << c[1] << c[2];
        EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(EINVAL));
        EXPECT_TRUE(Held(path));
    }
}

// A fresh pty starts cooked: bytes crossing unchanged show the line raw.
// The port's own hardware flow control and modem handling stay as they were.
TEST_F(Link, Leaves115200And8N1AndKeepsFlowControl) {
    for (tcflag_t kept : {tcflag_t{CRTSCTS | HUPCL}, tcflag_t{CLOCAL}}) {
        termios t{};
        ASSERT_EQ(::tcgetattr(slave, &t), 0);
        t.c_cflag = (t.c_cflag & ~tcflag_t{CRTSCTS | CLOCAL | HUPCL | CSIZE}) | kept | CS7 | CSTOPB;
        ::cfsetspeed(&t, B9600);
        ASSERT_EQ(::tcsetattr(slave, TCSANOW, &t), 0);
        ASSERT_EQ(Open(path), 0);
        ASSERT_EQ(::tcgetattr(slave, &t), 0);
        EXPECT_TRUE(::cfgetispeed(&t) == B115200 && ::cfgetospeed(&t) == B115200);
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CREAD | CRTSCTS | CLOCAL | HUPCL),
                  CS8 | CREAD | kept);
        EXPECT_EQ(CloseComPort(), 1);
    }
}

TEST_F(Link, EveryByteValueCrossesBothWaysUnchanged) {
    ASSERT_EQ(Open(path), 0);
    ASSERT_TRUE(Send("left over") && WaitForQueued(9));
    ASSERT_EQ(Open(path), 0);
    EXPECT_EQ(InQueueCount(), 0);  // what came before the open is dropped
    std::string all;               // byte 0 first: a C string would end the result there
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    ASSERT_TRUE(Send(all) && WaitForQueued(256));
    std::uint32_t error = 99;
    EXPECT_EQ(ReadBytes(0, &error) + ReadBytes(-5), KeyBytes());
    EXPECT_EQ(ReadBytes(6, &error), all.substr(0, 6));
    EXPECT_EQ(InQueueCount(), 250);
    EXPECT_EQ(ReadBytes(256, &error), all.substr(6));
    EXPECT_EQ(error, 0u);
    std::uint32_t written = 0;
    EXPECT_EQ(SendString(all, &written, &error), 1);
    EXPECT_EQ(written, 256u);
    EXPECT_EQ(Receive(256, 2000), all);
    EXPECT_EQ(SendString("", &written, &error), 1);  // no write and no failure
    EXPECT_EQ(written + error, 0u);
    // Nothing more: no echo of what came in, no CR added to a LF.
    EXPECT_EQ(Receive(1, 50), "");
    CloseComPort();
    EXPECT_EQ(std::string(ReadBytes(2, &error)) + std::to_string(SendString("x", nullptr, &error)),
              "0");
    EXPECT_EQ(error, static_cast<std::uint32_t>(EBADF));  // no port open
}

TEST_F(Link, ReadsEndAsTheTimeOutRulesSay) {
    struct Case {
        const char* rule;
        std::uint32_t interval, constant;
        std::string queued;  // waiting in the input queue before the read
        std::vector<std::pair<std::chrono::milliseconds, std::string>> far;  // sent during the read
        std::string text;                                                    // of 10 asked for
        double ms;                                                           // when the read ends
    };
    const decltype(Case::far) fiveBytes{
        {0ms, "1"}, {50ms, "2"}, {100ms, "3"}, {150ms, "4"}, {200ms, "5"}};
    const Case cases[] = {
        {"interval after a byte", 100, 0, "a", {}, "a", 100},
        {"interval restarts at each byte", 150, 0, "", fiveBytes, "12345", 200 + 150},
        {"interval does not bound the first byte", 100, 0, "", {{300ms, "a"}}, "a", 400},
        {"total, nothing comes", 100, 200, "", {}, "", 200},
        {"all zero waits for every byte", 0, 0, "abcdefghi", {{300ms, "j"}}, "abcdefghij", 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        ASSERT_EQ(Open(path, c.interval, c.constant, 0), 0);
        ASSERT_TRUE(Send(c.queued) && WaitForQueued(static_cast<int>(c.queued.size())));
        const auto start = Clock::now();
        std::jthread far([&] {  // the far end, timed from the read's start
            for (const auto& [at, bytes] : c.far) {
                std::this_thread::sleep_until(start + at);
                Send(bytes);
            }
        });
        std::uint32_t error = 99;
        EXPECT_EQ(ReadBytes(10, &error), c.text);
        EXPECT_TRUE(InTime(start, c.ms));
        EXPECT_EQ(error, 0u);  // a time-out is no error
    }
}

TEST_F(Link, AWriteThatTimesOutSucceedsShort) {
    ASSERT_EQ(OpenComPort(path, 115200, 0, 0, 100, 0, 0, 0, 200), 0);
    // Nobody reads the far end, so the pty's buffers fill and the rest of
    // the write waits for the time-out.
    std::uint32_t written = 0, error = 99;
    const auto start = Clock::now();
    EXPECT_EQ(SendString(std::string(1 << 20, 'w'), &written, &error), 1);
    EXPECT_TRUE(InTime(start, 200));
    EXPECT_TRUE(written > 0 && written < (1 << 20) && error == 0) << written << " " << error;
}

// A made-up system: its sysfs and /dev as udev and the drivers lay them out
// for an FTDI adapter, a CDC-ACM board, an adapter without a serial number,
// the console UART, a UART slot with no chip and a port whose node is gone.
TEST(Ports, ListsStableNamesUsbIdentityAndTheConsole) {
    const test::TempDir root;
    // Writes a file; "" names none.
    const auto put = [&](const std::string& file, const std::string& text) {
        std::filesystem::create_directories((root / file).parent_path());
        test::WriteFile(file.empty() ? root / ".none" : root / file, text);
    };
    const std::string usb = "devices/pci0000:00/0000:00:14.0/usb1/1-";
    const struct {
        std::string name, device, type, byId;
        bool node;
        std::string adapter;             // the USB device's folder, with
        std::array<std::string, 5> ids;  // these id files ("": one it lacks)
    } ttys[] = {
        // clang-format off
        {"ttyUSB0", usb + "2/1-2:1.0/ttyUSB0", "", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
         true, usb + "2", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"}},
        {"ttyACM0", usb + "3/1-3:1.0", "", "usb-Arduino__www.arduino.cc__0043_85736323-if00", true,
         usb + "3", {"2341", "0043", "Arduino (www.arduino.cc)", "", "85736323"}},
        {"ttyUSB1", usb + "4/1-4:1.0/ttyUSB1", "", "", true, usb + "4",
         {"1a86", "7523", "", "USB Serial", ""}},
        {"ttyS0", "devices/platform/serial8250/ttyS0", "4", "", true, "", {}},
        {"ttyS1", "devices/platform/serial8250/ttyS1", "0", "", true, "", {}},
        {"ttyUSB9", usb + "9/1-9:1.0/ttyUSB9", "", "", false, "", {}},
        // clang-format on
    };
    const char* idFiles[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
    std::filesystem::create_directories(root / "dev/serial/by-id");
    for (const auto& t : ttys) {
        std::filesystem::create_directories(root / ("sys/" + t.device));
        put("sys/class/tty/" + t.name + "/type", t.type + "\n");
        std::filesystem::create_directory_symlink("../../../" + t.device,
                                                  root / ("sys/class/tty/" + t.name + "/device"));
        if (!t.byId.empty())
            std::filesystem::create_symlink("../../" + t.name,
                                            root / ("dev/serial/by-id/" + t.byId));
        put(t.node ? "dev/" + t.name : "", "");
        for (int i = 0; i < 5; ++i)
            put(t.ids[i].empty() ? "" : "sys/" + t.adapter + "/" + idFiles[i], t.ids[i] + "\n");
    }
    put("sys/class/tty/console/active", "ttyS0 tty0\n");
    const auto ports = port::ListPorts(root.path);
    std::vector<std::string> got;
    for (const auto& p : ports)
        got.push_back(p.name + " = " + p.kernelName + " " + p.vendorId + ":" + p.productId + " " +
                      p.manufacturer + "|" + p.product + "|" + p.serialNumber +
                      (p.console ? " console" : ""));
    EXPECT_EQ(got, (std::vector<std::string>{
                       "/dev/serial/by-id/usb-Arduino__www.arduino.cc__0043_85736323-if00 = "
                       "/dev/ttyACM0 2341:0043 Arduino (www.arduino.cc)||85736323",
                       "/dev/ttyS0 = /dev/ttyS0 : || console",
                       "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 = "
                       "/dev/ttyUSB0 0403:6001 FTDI|FT232R USB UART|A50285BI",
                       "/dev/ttyUSB1 = /dev/ttyUSB1 1a86:7523 |USB Serial|",
                   }));
    // The Comport box offers COM1 to COM9 by number, then these by name.
    const auto offered = ComportChoices(ports);
    ASSERT_EQ(offered.size(), 13u);
    EXPECT_EQ(offered[0] + offered[8] + offered[9] + offered[12],
              "19" + ports[0].name + ports[3].name);
}

}  // namespace
}  // namespace vantri
