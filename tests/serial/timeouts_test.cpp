// The Windows time-out rules on a real pseudo-terminal, measured: the
// interval and total read time-outs, the MAXDWORD cases, the write time-out,
// and a lost device ending a read or write at once.  The far end plays its
// part on a thread, on a schedule.  Bounds allow for a loaded machine: a
// time-out may end late by up to Slack, never early.
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "serial/zrkCommModule.h"
#include "tests/serial/pty_peer.h"

namespace vantri {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::MsSince;
using test::PtyPeer;

constexpr std::uint32_t MaxDword = port::MaxDword;
constexpr double Slack = 150;  // ms

struct Timed {
    std::string text;
    std::uint32_t error = 0;
    double ms = 0;
};

// Times from `start`: the call, or the far end's schedule.
Timed TimedRead(std::int16_t count, Clock::time_point start = Clock::now()) {
    Timed r;
    r.text = ReadBytes(count, &r.error);
    r.ms = MsSince(start);
    return r;
}

// The far end's part: at each offset from now, send these bytes (an empty
// text closes the master: the device goes away).
class Schedule {
  public:
    Schedule(PtyPeer& peer, std::vector<std::pair<std::chrono::milliseconds, std::string>> steps)
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

    void Open(std::uint32_t interval, std::uint32_t multiplier, std::uint32_t constant,
              std::uint32_t writeMultiplier = 0, std::uint32_t writeConstant = 0) {
        ASSERT_EQ(OpenComPort(peer.Path(), 115200, 0, 0, interval, multiplier, constant,
                              writeMultiplier, writeConstant),
                  0);
    }
    // Sends bytes and waits until they are in the link's input queue.
    void Queue(const std::string& bytes) {
        ASSERT_TRUE(peer.Send(bytes));
        auto end = Clock::now() + 2s;
        while (InQueueCount() < static_cast<int>(bytes.size()) && Clock::now() < end) {
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_EQ(InQueueCount(), static_cast<int>(bytes.size()));
    }

    PtyPeer peer;
};

TEST_F(Timeouts, IntervalEndsAReadAfterSilence) {
    Open(100, 0, 0);
    Queue("a");
    Timed r = TimedRead(2);
    EXPECT_EQ(r.text, "a");
    EXPECT_EQ(r.error, 0u);
    EXPECT_GE(r.ms, 100);
    EXPECT_LT(r.ms, 100 + Slack);
}

TEST_F(Timeouts, IntervalRestartsAtEachByte) {
    Open(150, 0, 0);
    // Five bytes 50 ms apart: every gap is inside the interval, so the read
    // takes them all and ends 150 ms after the last.
    Schedule far(peer, {{0ms, "1"}, {50ms, "2"}, {100ms, "3"}, {150ms, "4"}, {200ms, "5"}});
    Timed r = TimedRead(10, far.Start());
    EXPECT_EQ(r.text, "12345");
    EXPECT_GE(r.ms, 200 + 150);
    EXPECT_LT(r.ms, 200 + 150 + Slack);
}

TEST_F(Timeouts, IntervalDoesNotBoundTheWaitForTheFirstByte) {
    Open(100, 0, 0);
    Schedule far(peer, {{300ms, "a"}});
    Timed r = TimedRead(2, far.Start());
    EXPECT_EQ(r.text, "a");
    EXPECT_GE(r.ms, 300 + 100);
    EXPECT_LT(r.ms, 300 + 100 + Slack);
}

TEST_F(Timeouts, TotalIsMultiplierTimesCountPlusConstant) {
    Open(0, 0, 200);
    Timed r = TimedRead(2);
    EXPECT_EQ(r.text, "");
    EXPECT_EQ(r.error, 0u);  // a time-out is no error
    EXPECT_GE(r.ms, 200);
    EXPECT_LT(r.ms, 200 + Slack);

    Open(0, 20, 100);  // 20 x 5 + 100
    Queue("x");
    r = TimedRead(5);
    EXPECT_EQ(r.text, "x");
    EXPECT_GE(r.ms, 200);
    EXPECT_LT(r.ms, 200 + Slack);
}

TEST_F(Timeouts, TheOperationsTotalDoesNotWrapAround) {
    // 4294967295 x 2 + 200 ms is 198 ms in 32 bits; the first byte must be
    // waited for well past that, then the interval ends the read.
    Open(100, MaxDword, 200);
    Schedule far(peer, {{400ms, "a"}});
    Timed r = TimedRead(2, far.Start());
    EXPECT_EQ(r.text, "a");
    EXPECT_GE(r.ms, 400 + 100);
    EXPECT_LT(r.ms, 400 + 100 + Slack);
}

TEST_F(Timeouts, AllZeroWaitsForEveryByte) {
    Open(0, 0, 0);
    Schedule far(peer, {{0ms, "a"}, {300ms, "b"}});
    Timed r = TimedRead(2, far.Start());
    EXPECT_EQ(r.text, "ab");
    EXPECT_GE(r.ms, 300);
    EXPECT_LT(r.ms, 300 + Slack);
}

TEST_F(Timeouts, MaxDwordIntervalAloneReturnsAtOnce) {
    Open(MaxDword, 0, 0);
    Timed r = TimedRead(10);
    EXPECT_EQ(r.text, "");
    EXPECT_LT(r.ms, 50);

    Queue("abc");
    r = TimedRead(10);
    EXPECT_EQ(r.text, "abc");
    EXPECT_LT(r.ms, 50);
}

TEST_F(Timeouts, MaxDwordIntervalAndMultiplierReturnTheFirstBytes) {
    Open(MaxDword, MaxDword, 300);
    Queue("ab");
    Timed r = TimedRead(10);  // what is there, at once
    EXPECT_EQ(r.text, "ab");
    EXPECT_LT(r.ms, 50);

    r = TimedRead(10);  // nothing comes: the constant
    EXPECT_EQ(r.text, "");
    EXPECT_GE(r.ms, 300);
    EXPECT_LT(r.ms, 300 + Slack);

    Schedule far(peer, {{100ms, "c"}});
    r = TimedRead(10, far.Start());  // the first byte that comes ends it
    EXPECT_EQ(r.text, "c");
    EXPECT_GE(r.ms, 100);
    EXPECT_LT(r.ms, 100 + Slack);
}

TEST_F(Timeouts, AWriteThatTimesOutSucceedsShort) {
    Open(100, 0, 0, 0, 200);
    // Nobody reads the far end, so the pty's buffers fill and the rest of
    // the write waits for the time-out.
    const std::string lots(1 << 20, 'w');
    std::uint32_t written = 0, error = 99;
    auto start = Clock::now();
    EXPECT_EQ(SendString(lots, &written, &error), 1);
    double ms = MsSince(start);
    EXPECT_EQ(error, 0u);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, lots.size());
    EXPECT_GE(ms, 200);
    EXPECT_LT(ms, 200 + Slack);
}

TEST_F(Timeouts, ALostDeviceFailsAReadAtOnce) {
    Open(100, MaxDword, 200, 1, 1000);
    peer.CloseMaster();
    Timed r = TimedRead(2);
    EXPECT_EQ(r.text, "");
    EXPECT_TRUE(port::IsDeviceLostError(r.error)) << r.error;
    EXPECT_LT(r.ms, 50);

    // The port stays open, answers nothing, and closes cleanly.
    EXPECT_NE(ComHandle, port::InvalidHandle);
    EXPECT_EQ(InQueueCount(), 0);
    std::uint32_t error = 0;
    auto start = Clock::now();
    EXPECT_EQ(SendString("x", nullptr, &error), 0);
    EXPECT_LT(MsSince(start), 50);
    EXPECT_TRUE(port::IsDeviceLostError(error)) << error;
    EXPECT_EQ(CloseComPort(), 1);
}

TEST_F(Timeouts, ALostDeviceEndsAWaitingRead) {
    Open(0, 0, 5000);
    Schedule far(peer, {{100ms, ""}});
    Timed r = TimedRead(2, far.Start());
    EXPECT_EQ(r.text, "");
    EXPECT_TRUE(port::IsDeviceLostError(r.error)) << r.error;
    EXPECT_GE(r.ms, 100);
    EXPECT_LT(r.ms, 100 + Slack);
}

TEST_F(Timeouts, ALostDeviceEndsAWaitingWrite) {
    Open(0, 0, 0, 0, 5000);
    const std::string lots(1 << 20, 'w');
    Schedule far(peer, {{100ms, ""}});
    std::uint32_t error = 0;
    EXPECT_EQ(SendString(lots, nullptr, &error), 0);
    double ms = MsSince(far.Start());
    EXPECT_TRUE(port::IsDeviceLostError(error)) << error;
    EXPECT_GE(ms, 100);
    EXPECT_LT(ms, 100 + Slack);
}

}  // namespace
}  // namespace vantri
