// The Windows time-out rules on a real pseudo-terminal, measured, and a lost
// device ending a read or write at once.  The far end plays its part on a
// thread, on a schedule.  Bounds allow for a loaded machine: a time-out may
// end late by up to Slack, never early.
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/serial/pty_peer.h"

namespace vantri {
namespace {

using namespace std::chrono_literals;
using test::Clock;
using test::MsSince;
using test::PtyPeer;

constexpr std::uint32_t MaxDword = port::MaxDword;
constexpr double Slack = 150;  // ms
constexpr double AtOnce = 50;  // ms

using Steps = std::vector<std::pair<std::chrono::milliseconds, std::string>>;

// The far end's part: at each offset from now, send these bytes (an empty
// text closes the master: the device goes away).
class Schedule {
  public:
    Schedule(PtyPeer& peer, Steps steps)
        : start_(Clock::now()), thread_([&peer, steps = std::move(steps), start = start_] {
              for (const auto& [at, bytes] : steps) {
                  std::this_thread::sleep_until(start + at);
                  if (bytes.empty()) {
                      peer.CloseMaster();
                  } else {
                      peer.Send(bytes);
                  }
              }
          }) {}
    Clock::time_point Start() const { return start_; }

  private:
    Clock::time_point start_;
    std::jthread thread_;
};

class Timeouts : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(peer.Ok()) << "no pseudo-terminal"; }
    void TearDown() override { CloseComPort(); }

    std::int32_t Open(std::uint32_t interval, std::uint32_t multiplier, std::uint32_t constant,
                      std::uint32_t writeMultiplier = 0, std::uint32_t writeConstant = 0) {
        return OpenComPort(peer.Path(), 115200, 0, 0, interval, multiplier, constant,
                           writeMultiplier, writeConstant);
    }

    PtyPeer peer;
};

TEST_F(Timeouts, ReadsEndAsTheRulesSay) {
    struct Case {
        const char* rule;
        std::uint32_t interval, multiplier, constant;
        std::string queued;  // waiting in the input queue before the read
        Steps far;           // sent during the read, timed from its start
        std::int16_t count;
        std::string text;
        double ms;  // when the read ends; 0 is at once
    };
    const Steps fiveBytes{{0ms, "1"}, {50ms, "2"}, {100ms, "3"}, {150ms, "4"}, {200ms, "5"}};
    const Case cases[] = {
        {"interval after a byte", 100, 0, 0, "a", {}, 2, "a", 100},
        {"interval restarts at each byte", 150, 0, 0, "", fiveBytes, 10, "12345", 200 + 150},
        {"interval does not bound the first byte", 100, 0, 0, "", {{300ms, "a"}}, 2, "a", 400},
        {"total constant, nothing comes", 0, 0, 200, "", {}, 2, "", 200},
        {"total 20 x 5 + 100", 0, 20, 100, "x", {}, 5, "x", 200},
        // 4294967295 x 2 + 200 is 198 ms in 32 bits; the first byte must be
        // waited for well past that, then the interval ends the read.
        {"the operations' total", 100, MaxDword, 200, "", {{400ms, "a"}}, 2, "a", 500},
        {"all zero waits for every byte", 0, 0, 0, "", {{0ms, "a"}, {300ms, "b"}}, 2, "ab", 300},
        // MAXDWORD interval alone: what is there, at once.
        {"MAXDWORD interval, empty queue", MaxDword, 0, 0, "", {}, 10, "", 0},
        {"MAXDWORD interval, bytes queued", MaxDword, 0, 0, "abc", {}, 10, "abc", 0},
        // MAXDWORD interval and multiplier: what is there at once, else the
        // first byte that comes, else nothing after the constant.
        {"MAXDWORD both, bytes queued", MaxDword, MaxDword, 300, "ab", {}, 10, "ab", 0},
        {"MAXDWORD both, nothing comes", MaxDword, MaxDword, 300, "", {}, 10, "", 300},
        {"MAXDWORD both, a byte comes", MaxDword, MaxDword, 300, "", {{100ms, "c"}}, 10, "c", 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        ASSERT_EQ(Open(c.interval, c.multiplier, c.constant), 0);
        ASSERT_TRUE(peer.Send(c.queued));
        ASSERT_TRUE(test::WaitForQueued(static_cast<int>(c.queued.size())));
        Schedule far(peer, c.far);
        std::uint32_t error = 99;
        const std::string text = ReadBytes(c.count, &error);
        const double ms = MsSince(far.Start());
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(error, 0u);  // a time-out is no error
        EXPECT_GE(ms, c.ms);
        EXPECT_LT(ms, c.ms + (c.ms == 0 ? AtOnce : Slack));
    }
}

TEST_F(Timeouts, AWriteThatTimesOutSucceedsShort) {
    ASSERT_EQ(Open(100, 0, 0, 0, 200), 0);
    // Nobody reads the far end, so the pty's buffers fill and the rest of
    // the write waits for the time-out.
    const std::string lots(1 << 20, 'w');
    std::uint32_t written = 0, error = 99;
    const auto start = Clock::now();
    EXPECT_EQ(SendString(lots, &written, &error), 1);
    const double ms = MsSince(start);
    EXPECT_EQ(error, 0u);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, lots.size());
    EXPECT_GE(ms, 200);
    EXPECT_LT(ms, 200 + Slack);
}

TEST_F(Timeouts, ALostDeviceFailsReadsAndWritesAtOnce) {
    ASSERT_EQ(Open(100, MaxDword, 200, 1, 1000), 0);
    peer.CloseMaster();
    std::uint32_t error = 0;
    auto start = Clock::now();
    EXPECT_EQ(ReadBytes(2, &error), "");
    EXPECT_LT(MsSince(start), AtOnce);
    EXPECT_TRUE(port::IsDeviceLostError(error)) << error;

    // The port stays open, answers nothing, and closes cleanly.
    EXPECT_NE(ComHandle, port::InvalidHandle);
    EXPECT_EQ(InQueueCount(), 0);
    error = 0;
    start = Clock::now();
    EXPECT_EQ(SendString("x", nullptr, &error), 0);
    EXPECT_LT(MsSince(start), AtOnce);
    EXPECT_TRUE(port::IsDeviceLostError(error)) << error;
    EXPECT_EQ(CloseComPort(), 1);
}

TEST_F(Timeouts, ALostDeviceEndsAWaitingRead) {
    ASSERT_EQ(Open(0, 0, 5000), 0);
    Schedule far(peer, {{100ms, ""}});
    std::uint32_t error = 0;
    EXPECT_EQ(ReadBytes(2, &error), "");
    const double ms = MsSince(far.Start());
    EXPECT_TRUE(port::IsDeviceLostError(error)) << error;
    EXPECT_GE(ms, 100);
    EXPECT_LT(ms, 100 + Slack);
}

TEST_F(Timeouts, ALostDeviceEndsAWaitingWrite) {
    ASSERT_EQ(Open(0, 0, 0, 0, 5000), 0);
    Schedule far(peer, {{100ms, ""}});
    std::uint32_t error = 0;
    EXPECT_EQ(SendString(std::string(1 << 20, 'w'), nullptr, &error), 0);
    const double ms = MsSince(far.Start());
    EXPECT_TRUE(port::IsDeviceLostError(error)) << error;
    EXPECT_GE(ms, 100);
    EXPECT_LT(ms, 100 + Slack);
}

}  // namespace
}  // namespace vantri
