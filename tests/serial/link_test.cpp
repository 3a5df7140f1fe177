// The serial link over a real pseudo-terminal: opening and its result codes,
// exclusive use, the line settings it leaves, and bytes both ways.
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "serial/port_choices.h"
#include "tests/serial/pty_peer.h"

namespace vantri {
namespace {

using namespace std::chrono_literals;
using test::PtyPeer;

// The line settings and time-outs the Read and Write operations use.
std::int32_t OpenLikeTheOperations(const std::string& device, std::uint8_t parity = 0,
                                   std::uint8_t stopBits = 0, std::int32_t baud = 115200) {
    return OpenComPort(device, baud, parity, stopBits, 100, port::MaxDword, 200, 1, 1000);
}

// Whether another open of ours is refused, i.e. the link holds the port.
bool Held(const std::string& device) {
    port::Handle other = port::OpenDevice(device);
    if (other == port::InvalidHandle) {
        return true;
    }
    port::Close(other);
    return false;
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

TEST_F(Link, PortNumbersAndDevicesThatCannotBeOpenedGiveOne) {
    EXPECT_EQ(port::ComPortDevice(1), "/dev/ttyS0");
    EXPECT_EQ(port::ComPortDevice(12), "/dev/ttyS11");
    for (std::int16_t number : {0, -1, -32768}) {
        SCOPED_TRACE(number);
        EXPECT_EQ(port::ComPortDevice(number), "");
        EXPECT_EQ(OpenComPort(number, 115200, 0, 0, 100, port::MaxDword, 200, 1, 1000), 1);
        EXPECT_EQ(ComHandle, port::InvalidHandle);
    }

    EXPECT_EQ(OpenLikeTheOperations("/dev/vantri-no-such-port"), 1);
    EXPECT_TRUE(port::IsNoSuchDeviceError(port::LastError())) << port::LastError();
    const auto dir = std::filesystem::temp_directory_path();
    const auto file = dir / ("vantri-link-test-" + std::to_string(::getpid()));
    std::ofstream(file) << "not a port";
    for (const auto& device : {file.string(), dir.string(), std::string("/dev/null")}) {
        EXPECT_EQ(OpenLikeTheOperations(device), 1) << device;
        EXPECT_EQ(ComHandle, port::InvalidHandle);
    }
    std::filesystem::remove(file);
}

TEST_F(Link, HoldsThePortExclusivelyUntilClosed) {
    ASSERT_EQ(OpenLikeTheOperations(peer.Path()), 0);
    EXPECT_NE(ComHandle, port::InvalidHandle);
    EXPECT_EQ(port::OpenDevice(peer.Path()), port::InvalidHandle);
    EXPECT_TRUE(port::IsBusyError(port::LastError())) << port::LastError();
    // Opening again closes the open port first, else its own lock would refuse.
    EXPECT_EQ(OpenLikeTheOperations(peer.Path()), 0);

    // The tty is marked exclusive while held, and no longer once let go (a
    // pty keeps the mark past the close otherwise).
    int slave = peer.OpenSlave();
    ASSERT_GE(slave, 0);
#ifdef TIOCGEXCL
    int exclusive = 0;
    ASSERT_EQ(::ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
#endif
    EXPECT_EQ(CloseComPort(), 1);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
#ifdef TIOCGEXCL
    ASSERT_EQ(::ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
#endif
    EXPECT_FALSE(Held(peer.Path()));
    // A second close hands -1 to the platform, which closes nothing.
    EXPECT_EQ(CloseComPort(), 0);
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(EBADF));

    // A failed open still closes the open port first.
    ASSERT_EQ(OpenLikeTheOperations(peer.Path()), 0);
    EXPECT_EQ(OpenLikeTheOperations("/dev/vantri-no-such-port"), 1);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    EXPECT_FALSE(Held(peer.Path()));
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

TEST_F(Link, RefusedLineSettingsGiveThreeAndKeepThePortHeld) {
    // 1.5 stop bits and rates termios lacks are refused; a pty cannot do
    // parity and drops it quietly, which the read-back must not pass.
    struct Case {
        std::int32_t baud;
        std::uint8_t parity, stopBits;
    };
    for (Case c : {Case{12345, 0, 0}, Case{-1, 0, 0}, Case{115200, 0, 1}, Case{115200, 1, 0},
                   Case{115200, 2, 0}, Case{115200, 5, 0}, Case{115200, 0, 3}}) {
        SCOPED_TRACE(testing::Message() << c.baud << " " << int{c.parity} << int{c.stopBits});
        EXPECT_EQ(OpenLikeTheOperations(peer.Path(), c.parity, c.stopBits, c.baud), 3);
        EXPECT_NE(ComHandle, port::InvalidHandle);
        EXPECT_TRUE(Held(peer.Path()));
    }
    EXPECT_EQ(OpenLikeTheOperations(peer.Path(), 0, 2), 0);  // two stop bits are fine
}

TEST_F(Link, LeavesARaw8N1LineAndKeepsFlowControl) {
    // A fresh pty starts cooked (line editing, echo, CR/LF mapping, XON/XOFF,
    // signals); the link must leave a raw 8N1 line at 115200 with the port's
    // own hardware flow control and modem-line handling.
    int slave = peer.OpenSlave();
    ASSERT_GE(slave, 0);
    for (tcflag_t kept : {tcflag_t{CRTSCTS | HUPCL}, tcflag_t{CLOCAL}}) {
        SCOPED_TRACE(kept);
        termios t{};
        ASSERT_EQ(::tcgetattr(slave, &t), 0);
        t.c_iflag |= IXON | IXOFF | ICRNL;
        t.c_lflag |= ECHO | ICANON | ISIG;
        t.c_oflag |= OPOST;
        t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CRTSCTS | CLOCAL | HUPCL)) | kept;
        ::cfsetspeed(&t, B9600);
        ASSERT_EQ(::tcsetattr(slave, TCSANOW, &t), 0);

        ASSERT_EQ(OpenLikeTheOperations(peer.Path()), 0);
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
        EXPECT_EQ(CloseComPort(), 1);
    }
}

TEST_F(Link, TheInputQueueStartsEmpty) {
    ASSERT_GE(peer.OpenSlave(), 0);  // keeps the line alive before the open
    ASSERT_TRUE(peer.Send("left over"));
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(OpenComPort(peer.Path(), 115200, 0, 0, port::MaxDword, 0, 0, 0, 0), 0);
    EXPECT_EQ(InQueueCount(), 0);
    EXPECT_EQ(ReadBytes(16), "");
}

TEST_F(Link, EveryByteValueCrossesBothWaysUnchanged) {
    ASSERT_EQ(OpenComPort(peer.Path(), 115200, 0, 0, 100, 0, 2000, 1, 1000), 0);
    std::string all;  // byte 0 first: a C string would end the result there
    for (int i = 0; i < 256; ++i) {
        all.push_back(static_cast<char>(i));
    }
    ASSERT_TRUE(peer.Send(all));
    std::uint32_t error = 99;
    EXPECT_EQ(ReadBytes(256, &error), all);
    EXPECT_EQ(error, 0u);

    // 4096 bytes, every value 16 times, in one write.
    std::string block;
    for (int i = 0; i < 16; ++i) {
        block += all;
    }
    std::uint32_t written = 0;
    EXPECT_EQ(SendString(block, &written, &error), 1);
    EXPECT_EQ(written, 4096u);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(peer.Receive(4096, 2000ms), block);

    // An empty text is no write and no failure.
    error = 99;
    EXPECT_EQ(SendString("", &written, &error), 1);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(error, 0u);
    // Nothing more: no echo of what came in, no CR added to a LF.
    EXPECT_EQ(peer.Receive(1, 50ms), "");
}

TEST_F(Link, InQueueCountFollowsTheInputQueue) {
    ASSERT_EQ(OpenLikeTheOperations(peer.Path()), 0);
    ASSERT_TRUE(peer.Send("0123456789"));
    ASSERT_TRUE(test::WaitForQueued(10));
    std::uint32_t error = 99;
    EXPECT_EQ(ReadBytes(0, &error), "");
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(ReadBytes(-5), "");
    EXPECT_EQ(ReadBytes(4), "0123");
    EXPECT_EQ(InQueueCount(), 6);
    EXPECT_EQ(ReadBytes(6), "456789");
    EXPECT_EQ(InQueueCount(), 0);
}

TEST_F(Link, WithNoPortOpenCallsFailQuietly) {
    EXPECT_EQ(InQueueCount(), 0);
    std::uint32_t error = 0;
    EXPECT_EQ(ReadBytes(2, &error), "");
    EXPECT_EQ(error, static_cast<std::uint32_t>(EBADF));
    error = 0;
    EXPECT_EQ(SendString("x", nullptr, &error), 0);
    EXPECT_EQ(error, static_cast<std::uint32_t>(EBADF));
    EXPECT_FALSE(port::ErrorText(error).empty());
}

// A made-up system: its sysfs and /dev as udev and the drivers lay them out
// for an FTDI adapter, a CDC-ACM board, an adapter without a serial number,
// the console UART and a UART slot with no chip.
class FakeSystem {
  public:
    FakeSystem() {
        char name[] = "/tmp/vantri-ports-XXXXXX";
        root = ::mkdtemp(name);
        const std::string usb = "sys/devices/pci0000:00/0000:00:14.0/usb1/";
        Usb(usb + "1-2", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI");
        Tty("ttyUSB0", usb + "1-2/1-2:1.0/ttyUSB0");
        Link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");
        Usb(usb + "1-3", "2341", "0043", "Arduino (www.arduino.cc)", "", "85736323");
        Tty("ttyACM0", usb + "1-3/1-3:1.0");
        Link("dev/serial/by-id/usb-Arduino__www.arduino.cc__0043_85736323-if00", "../../ttyACM0");
        Usb(usb + "1-4", "1a86", "7523", "", "USB Serial", "");
        Tty("ttyUSB1", usb + "1-4/1-4:1.0/ttyUSB1");
        Tty("ttyS0", "sys/devices/platform/serial8250/ttyS0", "4");
        Tty("ttyS1", "sys/devices/platform/serial8250/ttyS1", "0");
        Tty("ttyUSB9", usb + "1-9/1-9:1.0/ttyUSB9", "", false);  // its node is gone
        Put("sys/class/tty/console/active", "ttyS0 tty0\n");
    }
    ~FakeSystem() { std::filesystem::remove_all(root); }
    std::filesystem::path root;

  private:
    void Put(const std::string& file, const std::string& text) {
        std::filesystem::create_directories((root / file).parent_path());
        std::ofstream(root / file) << text;
    }
    void Link(const std::string& link, const std::string& target) {
        std::filesystem::create_directories((root / link).parent_path());
        std::filesystem::create_directory_symlink(target, root / link);
    }
    void Usb(const std::string& dir, const char* vid, const char* pid, const std::string& maker,
             const std::string& product, const std::string& serial) {
        Put(dir + "/idVendor", std::string(vid) + "\n");
        Put(dir + "/idProduct", std::string(pid) + "\n");
        for (const auto& [file, text] :
             {std::pair{"manufacturer", maker}, {"product", product}, {"serial", serial}}) {
            if (!text.empty()) {
                Put(dir + "/" + file, text + "\n");
            }
        }
    }
    void Tty(const std::string& name, const std::string& device, const std::string& type = "",
             bool node = true) {
        std::filesystem::create_directories(root / device);
        Link("sys/class/tty/" + name + "/device", "../../../" + device.substr(4));
        if (!type.empty()) {
            Put("sys/class/tty/" + name + "/type", type + "\n");
        }
        if (node) {
            Put("dev/" + name, "");
        }
    }
};

TEST(Ports, ListsStableNamesUsbIdentityAndTheConsole) {
    FakeSystem system;
    struct Row {
        const char* name;
        const char* kernel;
        const char* vid;
        const char* pid;
        const char* maker;
        const char* product;
        const char* serial;
        bool console;
    };
    const Row expected[] = {
        {"/dev/serial/by-id/usb-Arduino__www.arduino.cc__0043_85736323-if00", "/dev/ttyACM0",
         "2341", "0043", "Arduino (www.arduino.cc)", "", "85736323", false},
        {"/dev/ttyS0", "/dev/ttyS0", "", "", "", "", "", true},
        {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "/dev/ttyUSB0", "0403",
         "6001", "FTDI", "FT232R USB UART", "A50285BI", false},
        {"/dev/ttyUSB1", "/dev/ttyUSB1", "1a86", "7523", "", "USB Serial", "", false},
    };
    const auto ports = port::ListPorts(system.root);
    ASSERT_EQ(ports.size(), std::size(expected));
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const Row& row = expected[i];
        const port::PortInfo& got = ports[i];
        SCOPED_TRACE(row.kernel);
        EXPECT_EQ(got.name, row.name);
        EXPECT_EQ(got.kernelName, row.kernel);
        EXPECT_EQ(got.vendorId, row.vid);
        EXPECT_EQ(got.productId, row.pid);
        EXPECT_EQ(got.manufacturer, row.maker);
        EXPECT_EQ(got.product, row.product);
        EXPECT_EQ(got.serialNumber, row.serial);
        EXPECT_EQ(got.console, row.console);
    }
    // The Comport box offers COM1 to COM9 by number, then these by name.
    std::vector<std::string> offered = {"1", "2", "3", "4", "5", "6", "7", "8", "9"};
    for (const Row& row : expected) {
        offered.push_back(row.name);
    }
    EXPECT_EQ(ComportChoices(ports), offered);
    // This machine's own ports: each a terminal device, listed once.
    std::set<std::string> seen;
    for (const auto& p : port::ListPorts()) {
        std::error_code ec;
        EXPECT_TRUE(std::filesystem::is_character_file(p.kernelName, ec)) << p.kernelName;
        EXPECT_TRUE(seen.insert(p.kernelName).second) << p.kernelName;
    }
}

}  // namespace
}  // namespace vantri
