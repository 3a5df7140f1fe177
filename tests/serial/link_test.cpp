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

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "serial/port_choices.h"
#include "serial/zrkCommModule.h"
#include "tests/common/files.h"

namespace vantri {
namespace {

using Clock = std::chrono::steady_clock;
// Whether a wait begun at `start` that should take `expected` ms ended in
// time: never early; late by what a loaded machine's wake-up costs, never by
// a unit error.
testing::AssertionResult InTime(Clock::time_point start, double expected) {
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const bool inTime = ms >= expected && ms < 3 * expected + 400;
    return (inTime ? testing::AssertionSuccess() : testing::AssertionFailure()) << ms << " ms";
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
        std::string got;
        char c = 0;
        for (pollfd p{master, POLLIN, 0};
             got.size() < count && ::poll(&p, 1, ms) > 0 && ::read(master, &c, 1) == 1;)
            got += c;
        return got;
    }
    // The line settings and time-outs the Read and Write operations use.
    std::int32_t Open(const std::string& device, std::uint32_t interval = 100,
                      std::uint32_t constant = 2000) {
        return OpenComPort(device, 115200, 0, 0, interval, 0, constant, 1, 1000);
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
    int exclusive = 0;
    EXPECT_TRUE(::ioctl(slave, TIOCGEXCL, &exclusive) == 0 && exclusive == 1);
    EXPECT_EQ(CloseComPort(), 1);
    EXPECT_TRUE(::ioctl(slave, TIOCGEXCL, &exclusive) == 0 && exclusive == 0);
    EXPECT_FALSE(Held(path));
    // A failed open still closes the open port first.
    ASSERT_EQ(Open(path), 0);
    EXPECT_EQ(Open("/dev/vantri-no-such-port"), 1);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    EXPECT_FALSE(Held(path));
}

// The link does the exchanges' line and time-outs only: other settings are
// refused at their step, as invalid, and the port stays held.
TEST_F(Link, OtherSettingsAreRefusedAtTheirStep) {
    // One of baud, parity, stop bits and the five time-outs changed: which,
    // to what (parity 2: even; stop bits 2: two), the step refused.
    const std::int64_t cases[][3] = {{3, 0xFFFFFFFF, 4}, {6, 0xFFFFFFFF, 4}, {0, 9600, 3},
                                     {1, 2, 3},          {2, 2, 3},          {4, 10, 4}};
    for (const auto& [at, value, step] : cases) {  // the port stays held, as it was
        std::int64_t a[] = {115200, 0, 0, 100, 0, 2000, 1, 1000};
        a[at] = value;
        EXPECT_EQ(OpenComPort(path, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]), step) << at;
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
    EXPECT_EQ(ReadBytes(6, &error), all.substr(0, 6));
    EXPECT_EQ(ReadBytes(256, &error), all.substr(6));
    EXPECT_EQ(error, 0u);
    std::uint32_t written = 0;
    EXPECT_TRUE(SendString(all, &written, &error) == 1 && written == 256) << written;
    EXPECT_EQ(Receive(256, 2000), all);
    // Nothing more: no echo of what came in, no CR added to a LF.
    EXPECT_EQ(Receive(1, 50), "");
    CloseComPort();
    EXPECT_TRUE(ReadBytes(2, &error).empty() && SendString("x", nullptr, &error) == 0);
    EXPECT_EQ(error, static_cast<std::uint32_t>(EBADF));  // no port open
}

TEST_F(Link, ReadsEndAsTheTimeOutRulesSay) {
    struct Case {
        const char* rule;
        int interval, constant, first, gap;  // the far end sends at `first` ms, then every `gap`
        std::string far;                     // all of it read, of 10 asked for
        double ms;                           // when the read ends
    };
    const Case cases[] = {
        {"interval restarts at each byte", 150, 0, 0, 50, "12345", 200 + 150},
        {"interval does not bound the first byte", 100, 0, 300, 0, "a", 400},
        {"total, nothing comes", 100, 200, 0, 0, "", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        ASSERT_EQ(Open(path, c.interval, c.constant), 0);
        const auto start = Clock::now();
        std::jthread far([&] {  // the far end, timed from the read's start
            for (std::size_t i = 0; i < c.far.size(); ++i) {
                std::this_thread::sleep_until(start +
                                              std::chrono::milliseconds(c.first + c.gap * i));
                Send(c.far.substr(i, 1));
            }
        });
        std::uint32_t error = 99;
        EXPECT_EQ(ReadBytes(10, &error), c.far);
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
// for an FTDI adapter (its identity two folders above its tty), the console
// UART, a UART slot with no chip and a port whose node is gone.
TEST(Ports, ListsStableNamesUsbIdentityAndTheConsole) {
    const test::TempDir root;
    // In the folder `dir`: files "name=text" and links "name>target", ";" between.
    const auto put = [&](const std::string& dir, const std::string& entries) {
        std::istringstream in(entries);
        for (std::string entry; std::getline(in, entry, ';');) {
            const std::size_t at = entry.find_first_of("=>");
            const auto path = root / dir / entry.substr(0, at);
            std::filesystem::create_directories(path.parent_path());
            if (entry[at] == '>')
                std::filesystem::create_symlink(entry.substr(at + 1), path);
            else
                test::WriteFile(path, entry.substr(at + 1));
        }
    };
    const std::string usb = "devices/pci0000:00/usb1/1-2", uart = "devices/platform/serial8250";
    put("sys/" + usb,
        "idVendor=0403;idProduct=6001;manufacturer=FTDI;product=FT232R USB UART;"
        "serial=A50285BI;1-2:1.0/ttyUSB0/uevent=");
    // A CDC-ACM board: its tty is the interface itself, one folder below the
    // identity, and it has no product text.
    put("sys/devices/pci0000:00/usb1/1-3",
        "idVendor=2341;idProduct=0043;manufacturer=Arduino (www.arduino.cc);serial=85736323;"
        "1-3:1.0/uevent=");
    put("sys/" + uart, "uevent=");
    put("sys/class/tty", "ttyUSB0/device>../../../" + usb + "/1-2:1.0/ttyUSB0;ttyS0/type=4;" +
                             "ttyS0/device>../../../" + uart +
                             ";ttyS1/type=0;ttyS1/device>../../../" + uart +
                             ";ttyUSB9/device>../../../" + usb + ";console/active=ttyS0 tty0" +
                             ";ttyACM0/device>../../../devices/pci0000:00/usb1/1-3/1-3:1.0");
    put("dev",
        "ttyUSB0=;ttyS0=;ttyS1=;ttyACM0=;serial/by-id/"
        "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0>../../ttyUSB0");
    const auto ports = port::ListPorts(root.path);
    std::vector<std::string> got;
    for (const auto& p : ports)
        got.push_back(p.name + " = " + p.kernelName + " " + p.vendorId + ":" + p.productId + " " +
                      p.manufacturer + "|" + p.product + "|" + p.serialNumber +
                      (p.console ? " console" : ""));
    EXPECT_EQ(got, (std::vector<std::string>{
                       "/dev/ttyACM0 = /dev/ttyACM0 2341:0043 Arduino (www.arduino.cc)||85736323",
                       "/dev/ttyS0 = /dev/ttyS0 : || console",
                       "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 = "
                       "/dev/ttyUSB0 0403:6001 FTDI|FT232R USB UART|A50285BI"}));
    // The Comport box offers COM1 to COM9 by number, then these by name.
    const auto offered = ComportChoices(ports);
    ASSERT_EQ(offered.size(), 12u);
    EXPECT_EQ(offered[0] + offered[8] + offered[9] + offered[11],
              "19" + ports[0].name + ports[2].name);
}

}  // namespace
}  // namespace vantri
