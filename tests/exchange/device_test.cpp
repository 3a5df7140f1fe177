// The simulated device as a client sees it through the real serial link on
// a real pseudo-terminal: it handles what it receives strictly in order, as
// real firmware does, and its faults bend that the way real devices do.
// These are the behaviours the exchanges must be robust against, so each is
// pinned here by the bytes on the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "image/hexfileHandle.h"
#include "serial/exchange.h"
#include "serial/zrkCommModule.h"
#include "sim/devsim.h"
#include "tests/common/files.h"
#include "tests/common/sim_device.h"

namespace vantri {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kRead(1, static_cast<char>(ReadRequest));
const std::string kWrite(1, static_cast<char>(WriteRequest));

// 4096 bytes with no request byte in them, the same for the same `variant`.
std::string PlainBuffer(unsigned variant) {
    std::string bytes = test::RandomBytes(4096, variant);
    for (char& b : bytes) {
        if (b == kRead[0] || b == kWrite[0]) {
            b = 0x07;
        }
    }
    return bytes;
}

// "" when `got` is `want`, else where they part (the texts are too long to
// print whole).
std::string Mismatch(const std::string& got, const std::string& want) {
    if (got == want) {
        return "";
    }
    const auto at = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first;
    return "got " + std::to_string(got.size()) + " characters, not " + std::to_string(want.size()) +
           "; the first difference at " + std::to_string(at - got.begin());
}

class Device : public ::testing::Test {
  protected:
    // Starts the device with `faults` (as vantri-devsim takes them) and opens
    // its port as the exchanges do.
    void Start(const std::vector<std::string>& faults, sim::Options options = {}) {
        std::string error;
        device_ = StartSimDevice(faults, options, error);
        ASSERT_NE(device_, nullptr) << error;
        ASSERT_EQ(OpenExchangePort(PortSetting{false, 0, device_->PortPath()}), 0);
    }
    void TearDown() override { CloseComPort(); }

    static void Send(const std::string& bytes) {
        std::uint32_t written = 0;
        ASSERT_NE(SendString(bytes, &written), 0);
        ASSERT_EQ(written, bytes.size());
    }

    // The next `count` characters from the device, reading `step` at a time;
    // fewer only if they do not come within 20 s.  `seen` is told the count
    // after every read.
    template <typename F>
    static std::string Receive(std::size_t count, std::size_t step, F seen) {
        std::string text;
        test::Eventually([&] {
            while (text.size() < count) {
                const std::string got =
                    ReadBytes(static_cast<std::int16_t>(std::min(step, count - text.size())));
                if (got.empty()) {
                    return false;
                }
                text += got;
                seen(text.size());
            }
            return true;
        });
        return text;
    }
    static std::string Receive(std::size_t count) {
        return Receive(count, 8192, [](std::size_t) {});
    }

    // Nothing that was asked for is still to come: after a write of a new
    // buffer and a read request, the next characters are that buffer's.
    void ExpectNothingMoreToCome(unsigned variant) {
        const std::string marker = PlainBuffer(1000 + variant);
        ASSERT_NO_FATAL_FAILURE(Send(kWrite + marker + kRead));
        EXPECT_EQ(Mismatch(Receive(8192), BinToHex(marker)), "");
    }

    std::unique_ptr<sim::Simulator> device_;
};

// What the client sends at once, and every character the device sends back
// for it, in order, before it falls quiet.
TEST_F(Device, HandlesWhatItReceivesInOrder) {
    const std::string first = sim::DefaultBuffer();
    const std::string next = PlainBuffer(1);
    const std::string requestBytes = std::string(2048, kRead[0]) + std::string(2048, kWrite[0]);
    // An answer far larger than the pty holds keeps the device busy until the
    // client reads it, so all that the client sends meanwhile arrives while
    // it is busy.
    std::string huge = BinToHex(first);
    for (std::size_t i = 0; i < 1000000; ++i) {
        huge.push_back(huge[i % 8192]);
    }
    const std::string filler(sim::ReceiveBufferSize, '\x07');
    struct Case {
        const char* name;
        std::vector<std::string> faults;
        std::string sent;
        std::string answer;  // every character sent back
        int writes;          // buffers stored
        double minSeconds = 0;
    };
    const Case cases[] = {
        // A write request during an answer: the write starts after it.
        {"a write during an answer", {}, kRead + kWrite + next + kRead, BinToHex(first + next), 1},
        {"busy-drop: the second request is lost", {"busy-drop"}, kRead + kRead, BinToHex(first), 0},
        // 16 handovers, 15 gaps.
        {"burst: the answer in chunks", {"burst:512:20"}, kRead, BinToHex(first), 0, 0.3},
        // The receive buffer full: the request behind it is lost.
        {"a request beyond the receive buffer", {"extra:1000000"}, kRead + filler + kRead, huge, 0},
        // After 0x06 the next 4096 bytes are data, request bytes included.
        {"request bytes as data", {}, kWrite + requestBytes + kRead, BinToHex(requestBytes), 1},
    };
    unsigned variant = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Start(c.faults));
        const auto start = Clock::now();
        ASSERT_NO_FATAL_FAILURE(Send(c.sent));
        EXPECT_EQ(Mismatch(Receive(c.answer.size()), c.answer), "");
        EXPECT_GE(std::chrono::duration<double>(Clock::now() - start).count(), c.minSeconds);
        EXPECT_EQ(device_->WritesCompleted(), c.writes);
        ExpectNothingMoreToCome(++variant);
    }
}

// At a line rate the client never has more characters than the line could
// have carried since the request, less any pause of the line itself: a
// stall is not made up by sending faster afterwards, with or without an
// adapter that hands the bytes over in bursts.  Only an upper bound, which
// a busy machine can only make easier to meet: the device and the client
// can be late, never early.
TEST_F(Device, TheLineNeverRunsAheadOfItsRate) {
    constexpr std::uint32_t kRate = 115200;
    constexpr std::size_t kStallAt = 4000;
    constexpr double kStallSeconds = 0.3;
    const std::vector<std::string> cases[] = {
        {"stall:4000:300"},
        {"stall:4000:300", "burst:256:16"},
    };
    for (const auto& faults : cases) {
        SCOPED_TRACE(faults.back());
        sim::Options options;
        options.lineRate = kRate;
        ASSERT_NO_FATAL_FAILURE(Start(faults, options));
        const auto start = Clock::now();
        ASSERT_NO_FATAL_FAILURE(Send(kRead));
        std::size_t ahead = 0;  // the most characters beyond the bound
        const std::string answer = Receive(8192, 64, [&](std::size_t count) {
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            double bound = kRate / 10.0 * seconds;
            if (count > kStallAt) {
                bound = kRate / 10.0 * (seconds - kStallSeconds);
            }
            ahead =
                std::max(ahead, count > bound + 1 ? count - static_cast<std::size_t>(bound) : 0);
        });
        EXPECT_EQ(Mismatch(answer, BinToHex(sim::DefaultBuffer())), "");
        EXPECT_EQ(ahead, 0u);
    }
}

// A link is taken over from a simulator that was killed (its link and lock
// file stay behind, its lock does not) or that kept no lock file.  (A live
// simulator's link is refused: vantri-devsim's own test shows that.)
TEST(DeviceLink, IsTakenOverFromADeadSimulator) {
    for (const bool lockFile : {true, false}) {
        SCOPED_TRACE(lockFile ? "a killed simulator's link" : "a link with no lock file");
        test::TempDir dir;
        sim::Options options;
        options.link = (dir / "port").string();
        fs::create_symlink("/dev/pts/999999", options.link);
        if (lockFile) {
            test::WriteFile(options.link + ".lock", "999999");
        }
        std::string error;
        const auto device = sim::Simulator::Start(options, error);
        ASSERT_NE(device, nullptr) << error;
        EXPECT_EQ(fs::read_symlink(options.link), device->PortPath());
        EXPECT_TRUE(fs::exists(options.link + ".lock"));
    }
}

// A line that hangs up takes its link along at once (the kernel may give
// its pty to the next program that asks), and frees the name for the next
// simulator.
TEST_F(Device, AHungUpLineTakesItsLinkAlong) {
    test::TempDir dir;
    sim::Options options;
    options.link = (dir / "port").string();
    ASSERT_NO_FATAL_FAILURE(Start({"hangup:1"}, options));
    ASSERT_EQ(fs::read_symlink(options.link), device_->PortPath());
    ASSERT_NO_FATAL_FAILURE(Send(kRead));
    EXPECT_TRUE(test::Eventually([&] {
        std::error_code ec;
        return !fs::exists(fs::symlink_status(options.link, ec)) &&
               !fs::exists(options.link + ".lock", ec);
    }));
    EXPECT_TRUE(device_->HungUp());
    std::string error;
    const auto next = sim::Simulator::Start(options, error);
    ASSERT_NE(next, nullptr) << error;
    EXPECT_EQ(fs::read_symlink(options.link), next->PortPath());
}

// The device records the line settings its clients set, as it sees them:
// another program's first, then those the exchanges open the port with.
TEST(DeviceLine, RecordsTheSettingsItsClientsSet) {
    test::TempDir dir;
    sim::Options options;
    options.logFile = dir / "device.log";
    std::string error;
    const auto device = sim::Simulator::Start(options, error);
    ASSERT_NE(device, nullptr) << error;
    struct Case {
        const char* name;
        void (*set)(termios&);  // on a handle of the test's own; nullptr: OpenExchangePort
        sim::LineSettings seen;
        const char* text;
    };
    const Case cases[] = {
        {"9600 baud, two stop bits, every flow control",
         [](termios& t) {
             cfsetispeed(&t, B9600);
             cfsetospeed(&t, B9600);
             t.c_cflag |= CSTOPB | CRTSCTS;
             t.c_iflag |= IXON | IXOFF;
         },
         {9600, 8, 2, 'N', true, true, true},
         "9600 8N2, flow control RTS/CTS IXON IXOFF"},
        {"19200 baud, one stop bit, IXOFF only",
         [](termios& t) {
             cfsetispeed(&t, B19200);
             cfsetospeed(&t, B19200);
             t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS);
             t.c_iflag &= ~static_cast<tcflag_t>(IXON);
         },
         {19200, 8, 1, 'N', false, false, true},
         "19200 8N1, flow control IXOFF"},
        {"the exchanges' port",
         nullptr,
         {115200, 8, 1, 'N', false, false, false},
         "115200 8N1, no flow control"},
    };
    std::vector<std::string> expectedLog;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.set == nullptr) {
            ASSERT_EQ(OpenExchangePort(PortSetting{false, 0, device->PortPath()}), 0);
        } else {
            const int fd = ::open(device->PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            ASSERT_GE(fd, 0);
            termios t{};
            ASSERT_EQ(::tcgetattr(fd, &t), 0);
            c.set(t);
            EXPECT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
            ::close(fd);
        }
        EXPECT_TRUE(test::Eventually([&] { return device->LastLineSettings() == c.seen; }))
            << sim::LineSettingsText(device->LastLineSettings());
        EXPECT_EQ(sim::LineSettingsText(device->LastLineSettings()), c.text);
        expectedLog.push_back(std::string(" event line settings: ") + c.text + "\n");
    }
    CloseComPort();
    // Each logged, in order (a client may pass through other settings on
    // its way, and those are logged too).
    const std::string log = test::ReadFile(options.logFile);
    std::size_t at = 0;
    for (const std::string& line : expectedLog) {
        at = log.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << log;
    }
}

}  // namespace
}  // namespace vantri
