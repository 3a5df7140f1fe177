#include <gtest/gtest.h>

#include <vector>

#include "device_fixture.h"
#include "image/hexfileHandle.h"
#include "serial/exchange.h"
#include "serial/zrkCommModule.h"

namespace vantri {
namespace {

using ReadExchange = DeviceTest;

// Records what the read exchange tells its hooks.
struct ReadLog {
    std::vector<int> reads;
    int events = 0;
    std::vector<std::uint32_t> failures;

    ExchangeHooks Hooks() {
        ExchangeHooks hooks;
        hooks.afterRead = [this](int k) { reads.push_back(k); };
        hooks.processEvents = [this] { ++events; };
        hooks.readFailed = [this](std::uint32_t error) { failures.push_back(error); };
        return hooks;
    }
};

TEST_F(ReadExchange, ReceivesTheDevicesBufferWithAHookCallPerRead) {
    const std::string buffer = NewBuffer(1);
    StartDevice({}, buffer);
    ReadLog log;
    const ReadOutcome outcome = ReadKeyBuffer(log.Hooks());

    ASSERT_EQ(outcome.status, ExchangeStatus::Done);
    EXPECT_EQ(outcome.keyBuffer, buffer);
    EXPECT_EQ(outcome.response, BinToHex(buffer));
    ASSERT_EQ(log.reads.size(), 4096u);
    for (int k = 1; k <= 4096; ++k) {
        ASSERT_EQ(log.reads[static_cast<std::size_t>(k - 1)], k);
    }
    EXPECT_EQ(log.events, 4096);
    EXPECT_TRUE(log.failures.empty());
    // The request is the one byte 0x05, sent once.
    const auto received = device_->ReceivedBytes();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].byte, ReadRequest);
}

TEST_F(ReadExchange, ASilentDeviceEndsTheReadWithinTheAnswerTimeOut) {
    StartDevice("silent");
    ReadLog log;
    const auto start = Clock::now();
    const ReadOutcome outcome = ReadKeyBuffer(log.Hooks());
    const double seconds = SecondsSince(start);

    EXPECT_EQ(outcome.status, ExchangeStatus::Incomplete);
    EXPECT_TRUE(outcome.response.empty());
    EXPECT_EQ(outcome.error, 0u);
    EXPECT_TRUE(log.reads.empty());
    EXPECT_TRUE(log.failures.empty());
    // One wait of DeviceAnswerTimeoutMs, not one per read.
    EXPECT_GE(seconds, DeviceAnswerTimeoutMs / 1000.0 * 0.9);
    EXPECT_LT(seconds, 5.0);
}

TEST_F(ReadExchange, AShortAnswerIsIncompleteWithTheCharactersReceived) {
    // An odd count: the last read brings one character, the next nothing.
    StartDevice("short:5001");
    ReadLog log;
    const ReadOutcome outcome = ReadKeyBuffer(log.Hooks());

    EXPECT_EQ(outcome.status, ExchangeStatus::Incomplete);
    EXPECT_EQ(outcome.response.size(), 5001u);
    EXPECT_EQ(outcome.response, BinToHex(device_->Buffer()).substr(0, 5001));
    EXPECT_TRUE(outcome.keyBuffer.empty());
    EXPECT_EQ(log.reads.size(), 2501u);
    EXPECT_TRUE(log.failures.empty());
}

TEST_F(ReadExchange, ANonHexCharacterMakesTheAnswerInvalidAtItsPosition) {
    StartDevice("garbage:777");
    const ReadOutcome outcome = ReadKeyBuffer({});

    EXPECT_EQ(outcome.status, ExchangeStatus::Invalid);
    EXPECT_EQ(outcome.badPosition, 777u);
    EXPECT_EQ(outcome.response.size(), 8192u);
    EXPECT_EQ(outcome.response[777], 'G');
    EXPECT_TRUE(outcome.keyBuffer.empty());
}

TEST_F(ReadExchange, CharactersAfterThe8192ndAreLeftUnread) {
    StartDevice("extra:40");
    const ReadOutcome outcome = ReadKeyBuffer({});

    ASSERT_EQ(outcome.status, ExchangeStatus::Done);
    EXPECT_EQ(outcome.keyBuffer, device_->Buffer());
}

TEST_F(ReadExchange, AStallShorterThanTheAnswerTimeOutIsWaitedOut) {
    // After an even count the stall falls between two reads, so the next read
    // waits for its first byte with the answer time-out.
    StartDevice("stall:4000:600");
    const auto start = Clock::now();
    const ReadOutcome outcome = ReadKeyBuffer({});
    const double seconds = SecondsSince(start);

    ASSERT_EQ(outcome.status, ExchangeStatus::Done);
    EXPECT_EQ(outcome.keyBuffer, device_->Buffer());
    EXPECT_GE(seconds, 0.55);
}

TEST_F(ReadExchange, AHangUpEndsTheReadAtOnceAndIsReportedOnce) {
    // The request byte and 3000 characters cross, then the line goes.
    StartDevice("hangup:3001");
    ReadLog log;
    const auto start = Clock::now();
    const ReadOutcome outcome = ReadKeyBuffer(log.Hooks());
    const double seconds = SecondsSince(start);

    EXPECT_EQ(outcome.status, ExchangeStatus::Incomplete);
    // A hang-up may discard what was still in flight; never more than was sent.
    EXPECT_LE(outcome.response.size(), 3000u);
    EXPECT_NE(outcome.error, 0u);
    ASSERT_EQ(log.failures.size(), 1u);
    EXPECT_EQ(log.failures[0], outcome.error);
    EXPECT_TRUE(port::IsDeviceLostError(outcome.error)) << port::ErrorText(outcome.error);
    EXPECT_LT(seconds, 1.5);
}

TEST_F(ReadExchange, CancelStopsWithoutAnotherPortCall) {
    StartDevice();
    ReadLog log;
    ExchangeHooks hooks = log.Hooks();
    bool closed = false;
    // The window may close the port while it processes events, then ask to stop.
    hooks.processEvents = [&] {
        if (log.reads.size() == 100) {
            CloseComPort();
            closed = true;
        }
    };
    hooks.cancelled = [&] { return closed; };
    const ReadOutcome outcome = ReadKeyBuffer(hooks);

    EXPECT_EQ(outcome.status, ExchangeStatus::Cancelled);
    EXPECT_EQ(log.reads.size(), 100u);
    EXPECT_EQ(outcome.response.size(), 200u);
    // A read on the closed port would have failed and been reported.
    EXPECT_TRUE(log.failures.empty());
}

TEST_F(ReadExchange, ARequestThatCannotBeSentEndsTheReadAtOnce) {
    StartDevice();
    CloseComPort();  // no port: the request's write fails
    ReadLog log;
    const auto start = Clock::now();
    const ReadOutcome outcome = ReadKeyBuffer(log.Hooks());

    EXPECT_EQ(outcome.status, ExchangeStatus::Incomplete);
    EXPECT_TRUE(outcome.response.empty());
    EXPECT_NE(outcome.error, 0u);
    ASSERT_EQ(log.failures.size(), 1u);
    EXPECT_EQ(log.failures[0], outcome.error);
    EXPECT_LT(SecondsSince(start), 0.5);
}

}  // namespace
}  // namespace vantri
