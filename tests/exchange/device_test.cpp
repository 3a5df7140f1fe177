// The simulated device as a client sees it through the real serial link on
// a real pseudo-terminal: it handles what it receives strictly in order, as
// real firmware does, and its faults bend that the way real devices do.
// These are the behaviours the exchanges must be robust against, so each is
// pinned here by the bytes on the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
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

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class Device : public ::testing::Test {
  protected:
    // Starts the device with `faults` (as vantri-devsim takes them) and opens
    // its port as the exchanges do (unless `open` is false).
    void Start(const std::vector<std::string>& faults, sim::Options options = {},
               bool open = true) {
        std::string error;
        device_ = StartSimDevice(faults, options, error);
        ASSERT_NE(device_, nullptr) << error;
        ASSERT_TRUE(!open || OpenExchangePort(PortSetting{false, 0, device_->PortPath()}) == 0);
    }
    void TearDown() override { CloseComPort(); }

    static void Send(const std::string& bytes) {
        std::uint32_t written = 0;
        ASSERT_NE(SendString(bytes, &written), 0);
        ASSERT_EQ(written, bytes.size());
    }

    // The next `count` characters, read `step` at a time; fewer only if they
    // do not come within 20 s.  `seen` is told the count after every read.
    static std::string Receive(
        std::size_t count, std::size_t step = 8192,
        const std::function<void(std::size_t)>& seen = [](std::size_t) {}) {
        std::string text;
        test::Eventually([&] {
            for (std::string got = "x"; text.size() < count && !got.empty(); seen(text.size()))
                text += got =
                    ReadBytes(static_cast<std::int16_t>(std::min(step, count - text.size())));
            return text.size() == count;
        });
        return text;
    }

    std::unique_ptr<sim::Simulator> device_;
};

// What the client sends at once, and every character the device sends back
// for it, in order; then nothing that was asked for is still to come: after
// a write of a new buffer and a read request, the next characters are that
// buffer's.  At a line rate the client never has more characters than the
// line could have carried since the request, less the stall: a pause is not
// made up by sending faster afterwards, with or without an adapter that
// hands the bytes over in bursts.  Only an upper bound, which a busy machine
// can only make easier to meet: the device and the client can be late,
// never early.
TEST_F(Device, HandlesWhatItReceivesInOrder) {
    const std::string first = sim::DefaultBuffer();
    const std::string next = test::RandomBytes(4096, 1);
    const std::string requests = std::string(2048, kRead[0]) + std::string(2048, kWrite[0]);
    // An answer far larger than the pty holds keeps the device busy until the
    // client reads it, so all that the client sends meanwhile arrives while
    // it is busy.
    std::string huge = BinToHex(first);
    for (std::size_t i = 0; i < 1000000; ++i)
        huge.push_back(huge[i % 8192]);
    const std::string filler(sim::ReceiveBufferSize, '\x07');
    const std::vector<std::string> stall{"stall:4000:300"}, stallBursts{stall[0], "burst:256:16"};
    const struct {
        const char* name;
        std::vector<std::string> faults;
        std::string sent, answer;  // every character sent back
        int writes;                // buffers stored
        double minSeconds = 0;
        std::uint32_t lineRate = 0;  // with stall:4000:300 in `faults`
    } cases[] = {
        {"a write during an answer", {}, kRead + kWrite + next + kRead, BinToHex(first + next), 1},
        {"busy-drop: the second request is lost", {"busy-drop"}, kRead + kRead, BinToHex(first), 0},
        // 16 handovers, 15 gaps.
        {"burst: the answer in chunks", {"burst:512:20"}, kRead, BinToHex(first), 0, 0.3},
        {"a request beyond the receive buffer", {"extra:1000000"}, kRead + filler + kRead, huge, 0},
        {"request bytes as data after 0x06", {}, kWrite + requests + kRead, BinToHex(requests), 1},
        {"a stall at the line rate", stall, kRead, BinToHex(first), 0, 0.3, 115200},
        {"a stall at the line rate, in bursts", stallBursts, kRead, BinToHex(first), 0, 0.3,
         115200},
    };
    for (unsigned variant = 0; const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Options options;
        options.lineRate = c.lineRate;
        ASSERT_NO_FATAL_FAILURE(Start(c.faults, options));
        const auto start = Clock::now();
        ASSERT_NO_FATAL_FAILURE(Send(c.sent));
        double ahead = 0;  // the most characters beyond what the line could carry
        const auto paced = [&](std::size_t count) {
            const double quiet = count > 4000 ? 0.3 : 0;
            if (c.lineRate != 0)
                ahead =
                    std::max(ahead, count - c.lineRate / 10.0 * (SecondsSince(start) - quiet) - 1);
        };
        EXPECT_TRUE(Receive(c.answer.size(), c.lineRate != 0 ? 64 : 8192, paced) == c.answer);
        EXPECT_LE(ahead, 0);
        EXPECT_GE(SecondsSince(start), c.minSeconds);
        EXPECT_EQ(device_->WritesCompleted(), c.writes);
        const std::string marker = test::RandomBytes(4096, 1000 + ++variant);
        ASSERT_NO_FATAL_FAILURE(Send(kWrite + marker + kRead));
        EXPECT_TRUE(Receive(8192) == BinToHex(marker));
    }
}

// A link is taken over from a simulator that was killed (its link and lock
// file stay behind, its lock does not) or that kept no lock file; a line
// that hangs up takes its link along at once (the kernel may give its pty
// to the next program that asks), freeing the name for the next simulator.
// (A live simulator's link is refused: vantri-devsim's own test shows that.)
TEST_F(Device, ALinkLastsAsLongAsItsLine) {
    test::TempDir dir;
    sim::Options options;
    options.link = (dir / "port").string();
    fs::create_symlink("/dev/pts/999999", options.link);
    test::WriteFile(options.link + ".lock", "999999");
    ASSERT_NO_FATAL_FAILURE(Start({"hangup:1"}, options));
    ASSERT_EQ(fs::read_symlink(options.link), device_->PortPath());
    ASSERT_TRUE(fs::exists(options.link + ".lock"));
    ASSERT_NO_FATAL_FAILURE(Send(kRead));
    EXPECT_TRUE(test::Eventually([&] {
        std::error_code ec;
        return !fs::exists(fs::symlink_status(options.link, ec)) &&
               !fs::exists(options.link + ".lock", ec);
    }));
    EXPECT_TRUE(device_->HungUp());
    fs::create_symlink("/dev/pts/999999", options.link);  // and no lock file
    ASSERT_NO_FATAL_FAILURE(Start({}, options, false));   // while the first still runs
    EXPECT_EQ(fs::read_symlink(options.link), device_->PortPath());
}

// The device records and logs the line settings its clients set, with no
// byte sent: another program's first, then the exchanges' (a client may pass
// through other settings on its way, and those are logged too).
TEST_F(Device, RecordsTheSettingsItsClientsSet) {
    test::TempDir dir;
    sim::Options options;
    options.logFile = dir / "device.log";
    ASSERT_NO_FATAL_FAILURE(Start({}, options, false));
    const int fd = ::open(device_->PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    cfsetospeed(&t, B9600);
    t.c_cflag |= CSTOPB;
    t.c_iflag = (t.c_iflag & ~static_cast<tcflag_t>(IXON)) | IXOFF;
    EXPECT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    ::close(fd);
    const auto logged = [&](const std::string& settings) {
        return test::Eventually([&] {
            return test::ReadFile(options.logFile)
                       .find(" event line settings: " + settings + "\n") != std::string::npos;
        });
    };
    EXPECT_TRUE(logged("9600 8N2, flow control IXOFF")) << test::ReadFile(options.logFile);
    ASSERT_EQ(OpenExchangePort(PortSetting{false, 0, device_->PortPath()}), 0);
    EXPECT_TRUE(logged("115200 8N1, no flow control")) << test::ReadFile(options.logFile);
    EXPECT_TRUE(device_->LastLineSettings() == (sim::LineSettings{115200, 8, 1, 'N'}));
}

}  // namespace
}  // namespace vantri
