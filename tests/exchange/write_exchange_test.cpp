#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>
#include <vector>

#include "device_fixture.h"
#include "serial/exchange.h"
#include "serial/zrkCommModule.h"

namespace vantri {
namespace {

using WriteExchange = DeviceTest;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// The device stores a write once all 4096 bytes have arrived; the port side
// may still be delivering the last ones when the exchange returns.
bool WaitForWrites(const sim::Simulator& device, int count) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (device.WritesCompleted() < count) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

// Time between byte i - 1 and byte i as the device received them, in ms.
double GapBefore(const std::vector<sim::Received>& received, std::size_t i) {
    return std::chrono::duration<double, std::milli>(received[i].at - received[i - 1].at).count();
}

template <typename TimePoint>
double MsBetween(TimePoint from, TimePoint to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct BlockLog {
    std::vector<int> starts;
    ExchangeHooks Hooks() {
        ExchangeHooks hooks;
        hooks.afterBlock = [this](int p) { starts.push_back(p); };
        return hooks;
    }
};

TEST_F(WriteExchange, SendsTheRequestThenEveryByteInOrder) {
    StartDevice();
    const std::string buffer = NewBuffer(2);
    BlockLog log;
    const WriteOutcome outcome = WriteKeyBuffer(buffer, 16, 0, log.Hooks());

    ASSERT_EQ(outcome.status, ExchangeStatus::Done);
    EXPECT_EQ(outcome.bytesSent, 4096);
    EXPECT_EQ(outcome.blocks, 256);
    ASSERT_TRUE(WaitForWrites(*device_, 1));
    EXPECT_EQ(device_->Buffer(), buffer);
    const auto received = device_->ReceivedBytes();
    ASSERT_EQ(received.size(), 4097u);
    EXPECT_EQ(received[0].byte, WriteRequest);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        ASSERT_EQ(received[i + 1].byte, static_cast<std::uint8_t>(buffer[i])) << "byte " << i;
    }
    ASSERT_EQ(log.starts.size(), 256u);
    for (std::size_t b = 0; b < log.starts.size(); ++b) {
        ASSERT_EQ(log.starts[b], static_cast<int>(1 + 16 * b));
    }
}

TEST_F(WriteExchange, BlockStartsForTheEdgeBlocksizes) {
    StartDevice();
    const std::string buffer = NewBuffer(3);
    struct Case {
        int blockSize;
        std::size_t blocks;
        int lastStart;
    };
    const Case cases[] = {{1, 4096, 4096}, {3, 1366, 4096}, {100, 41, 4001},
                          {4095, 2, 4096}, {4096, 1, 1},    {32767, 1, 1}};
    int writes = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("Blocksize " + std::to_string(c.blockSize));
        BlockLog log;
        const WriteOutcome outcome = WriteKeyBuffer(buffer, c.blockSize, 0, log.Hooks());
        ASSERT_EQ(outcome.status, ExchangeStatus::Done);
        EXPECT_EQ(outcome.bytesSent, 4096);
        EXPECT_EQ(outcome.blocks, static_cast<int>(c.blocks));
        ASSERT_EQ(log.starts.size(), c.blocks);
        EXPECT_EQ(log.starts.front(), 1);
        EXPECT_EQ(log.starts.back(), c.lastStart);
        ASSERT_TRUE(WaitForWrites(*device_, ++writes));
        EXPECT_EQ(device_->Buffer(), buffer);
    }
    // Every byte crossed exactly once per write: no overlap, no gap, no extra.
    EXPECT_EQ(device_->ReceivedBytes().size(), static_cast<std::size_t>(writes) * 4097u);
}

TEST_F(WriteExchange, PausesAfterTheRequestAndAfterEachBlock) {
    StartDevice();
    const std::string buffer = NewBuffer(4);
    std::vector<Clock::time_point> blockSent;
    std::vector<Clock::time_point> eventsProcessed;
    ExchangeHooks hooks;
    hooks.afterBlock = [&](int) { blockSent.push_back(Clock::now()); };
    hooks.processEvents = [&] { eventsProcessed.push_back(Clock::now()); };
    const auto start = Clock::now();
    const WriteOutcome outcome = WriteKeyBuffer(buffer, 100, 20, hooks);
    const double seconds = SecondsSince(start);

    ASSERT_EQ(outcome.status, ExchangeStatus::Done);
    // The exchange's side: each of the 41 blocks is followed by its pause,
    // and only then are events processed.
    ASSERT_EQ(blockSent.size(), 41u);
    ASSERT_EQ(eventsProcessed.size(), 41u);
    for (std::size_t b = 0; b < blockSent.size(); ++b) {
        EXPECT_GE(MsBetween(blockSent[b], eventsProcessed[b]), 20.0) << "block " << b + 1;
    }
    // 42 pauses of 20 ms in all (the last one before the final drain).
    EXPECT_GE(seconds, 42 * 0.020);
    EXPECT_LT(seconds, 42 * 0.020 + 3.0);

    // The line's side, as the device saw it.  The pause after 0x06 comes
    // before byte 1, the pause after block b (from 1) before byte 1 + 100 b.
    // A busy machine may let the device see a byte late, which shortens one
    // gap and lengthens the next, so most gaps must show the pause and the 40
    // block periods together must last 40 pauses.
    ASSERT_TRUE(WaitForWrites(*device_, 1));
    const auto received = device_->ReceivedBytes();
    ASSERT_EQ(received.size(), 4097u);
    std::vector<std::size_t> blockFirsts{1};
    for (std::size_t p = 101; p <= 4096; p += 100) {
        blockFirsts.push_back(p);
    }
    int paused = 0;
    for (const std::size_t i : blockFirsts) {
        paused += GapBefore(received, i) >= 15.0;
    }
    EXPECT_GE(paused, 35);
    const double periods = MsBetween(received[101].at, received[4001].at);
    EXPECT_GE(periods, 39 * 20.0 - 20.0);
    // No other pause: the bytes of a block follow each other closely.
    int longGaps = 0;
    for (std::size_t i = 1; i < received.size(); ++i) {
        longGaps += GapBefore(received, i) >= 15.0;
    }
    EXPECT_LE(longGaps, 41 + 5);
}

TEST_F(WriteExchange, DelayIsAskedAtEveryPauseAndAnUnusableOneKeepsTheLast) {
    StartDevice();
    const std::string buffer = NewBuffer(5);
    // 8 blocks of 512, so 9 pauses.  What the window's Delay box would give:
    // unusable, 0, unusable, 100, then unusable to the end.
    const std::vector<std::optional<std::uint32_t>> answers = {
        std::nullopt, 0u,           std::nullopt, 100u,        std::nullopt,
        std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    std::vector<Clock::time_point> asked;  // each pause starts with the question
    ExchangeHooks hooks;
    hooks.delay = [&]() -> std::optional<std::uint32_t> {
        asked.push_back(Clock::now());
        return asked.size() <= answers.size() ? answers[asked.size() - 1] : std::nullopt;
    };
    const WriteOutcome outcome = WriteKeyBuffer(buffer, 512, 0, hooks);
    const auto end = Clock::now();

    ASSERT_EQ(outcome.status, ExchangeStatus::Done);
    ASSERT_EQ(asked.size(), 9u);
    asked.push_back(end);
    // From one question to the next: the pause, then a drain or event
    // processing and one block of 512 writes, which take far less than 100 ms.
    for (std::size_t j = 0; j < 9; ++j) {
        const double ms = MsBetween(asked[j], asked[j + 1]);
        if (j < 3) {
            EXPECT_LT(ms, 80.0) << "pause " << j + 1 << " should be 0 ms";
        } else {
            EXPECT_GE(ms, 100.0) << "pause " << j + 1 << " should be 100 ms";
        }
    }
    ASSERT_TRUE(WaitForWrites(*device_, 1));
    EXPECT_EQ(device_->Buffer(), buffer);
}

TEST_F(WriteExchange, ChatterFromTheDeviceIsDrainedAndNeverMixedIn) {
    StartDevice("chatter");
    const std::string buffer = NewBuffer(6);
    const WriteOutcome outcome = WriteKeyBuffer(buffer, 64, 2, {});

    ASSERT_EQ(outcome.status, ExchangeStatus::Done);
    ASSERT_TRUE(WaitForWrites(*device_, 1));
    EXPECT_EQ(device_->Buffer(), buffer);
    // The final drain left nothing behind, so a read on the same port gets
    // exactly the new buffer, not chatter in front of it.
    EXPECT_EQ(InQueueCount(), 0);
    const ReadOutcome read = ReadKeyBuffer({});
    ASSERT_EQ(read.status, ExchangeStatus::Done);
    EXPECT_EQ(read.keyBuffer, buffer);
}

TEST_F(WriteExchange, InputWaitingBeforeTheBlocksIsDrainedFirst) {
    // The device answers a stray read request with 200 characters that sit
    // in the input queue when the write begins.
    StartDevice("short:200");
    ASSERT_NE(SendString(std::string(1, static_cast<char>(ReadRequest))), 0);
    std::this_thread::sleep_for(milliseconds(100));
    ASSERT_EQ(InQueueCount(), 200);
    const std::string buffer = NewBuffer(10);
    int waitingAfterBlock = -1;
    ExchangeHooks hooks;
    hooks.afterBlock = [&](int) { waitingAfterBlock = InQueueCount(); };
    const WriteOutcome outcome = WriteKeyBuffer(buffer, 4096, 0, hooks);

    ASSERT_EQ(outcome.status, ExchangeStatus::Done);
    EXPECT_EQ(waitingAfterBlock, 0);
    ASSERT_TRUE(WaitForWrites(*device_, 1));
    EXPECT_EQ(device_->Buffer(), buffer);
}

TEST_F(WriteExchange, AHangUpStopsTheWriteAtOnce) {
    // 0x06 and 2000 data bytes cross, then the line goes.
    StartDevice("hangup:2001");
    const std::string buffer = NewBuffer(7);
    BlockLog log;
    const auto start = Clock::now();
    const WriteOutcome outcome = WriteKeyBuffer(buffer, 16, 1, log.Hooks());
    const double seconds = SecondsSince(start);

    EXPECT_EQ(outcome.status, ExchangeStatus::DeviceLost);
    EXPECT_NE(outcome.error, 0u);
    EXPECT_GE(outcome.position, 2001);
    EXPECT_LT(outcome.position, 4096);
    EXPECT_EQ(outcome.bytesSent, outcome.position - 1);
    EXPECT_TRUE(device_->HungUp());
    EXPECT_EQ(device_->WritesCompleted(), 0);
    // At once: not a write time-out per remaining byte, not the rest of the pauses.
    EXPECT_LT(seconds, 1.0);
}

TEST_F(WriteExchange, CancelStopsWithoutAnotherPortCall) {
    StartDevice();
    const std::string buffer = NewBuffer(8);
    BlockLog log;
    ExchangeHooks hooks = log.Hooks();
    bool closed = false;
    hooks.processEvents = [&] {
        if (log.starts.size() == 10) {
            CloseComPort();
            closed = true;
        }
    };
    hooks.cancelled = [&] { return closed; };
    const WriteOutcome outcome = WriteKeyBuffer(buffer, 16, 0, hooks);

    // A write on the closed port would have failed: WriteFailed, not Cancelled.
    EXPECT_EQ(outcome.status, ExchangeStatus::Cancelled);
    EXPECT_EQ(outcome.bytesSent, 160);
    EXPECT_EQ(outcome.blocks, 10);
    EXPECT_EQ(log.starts.size(), 10u);
}

TEST_F(WriteExchange, AFailedRequestIsReportedAndNothingFollows) {
    StartDevice();
    CloseComPort();
    BlockLog log;
    const WriteOutcome outcome = WriteKeyBuffer(NewBuffer(9), 16, 0, log.Hooks());

    EXPECT_EQ(outcome.status, ExchangeStatus::WriteFailed);
    EXPECT_NE(outcome.error, 0u);
    EXPECT_EQ(outcome.position, 0);
    EXPECT_EQ(outcome.bytesSent, 0);
    EXPECT_TRUE(log.starts.empty());
}

TEST_F(WriteExchange, ABufferOfAnotherSizeIsRefusedBeforeAnythingIsSent) {
    StartDevice();
    for (const std::size_t size : {0u, 4095u, 4097u}) {
        const WriteOutcome outcome = WriteKeyBuffer(std::string(size, 'x'), 16, 0, {});
        EXPECT_EQ(outcome.status, ExchangeStatus::WriteFailed) << size;
        EXPECT_EQ(outcome.bytesSent, 0) << size;
    }
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_TRUE(device_->ReceivedBytes().empty());
}

}  // namespace
}  // namespace vantri
