// The key buffer exchanges against the simulated device on a real
// pseudo-terminal, through the real serial link.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "image/hexfileHandle.h"
#include "serial/call_trace.h"
#include "serial/exchange.h"
#include "serial/zrkCommModule.h"
#include "sim/devsim.h"

namespace vantri {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Between two time points, or two of the device's receive times.
template <typename T>
double MsBetween(T from, T to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}
double SecondsSince(Clock::time_point start) {
    return MsBetween(start, Clock::now()) / 1000;
}

// 4096 bytes unlike the device's own, every byte value present.
std::string NewBuffer(unsigned variant) {
    std::mt19937 random(variant);
    std::string bytes(4096, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i < 256 ? i : random() & 0xFF);
    }
    std::shuffle(bytes.begin(), bytes.end(), random);
    return bytes;
}

// What the exchanges tell their hooks.
struct Log {
    std::vector<int> reads, blocks;
    int events = 0;
    std::vector<std::uint32_t> failures;

    ExchangeHooks Hooks() {
        ExchangeHooks hooks;
        hooks.afterRead = [this](int k) { reads.push_back(k); };
        hooks.afterBlock = [this](int p) { blocks.push_back(p); };
        hooks.processEvents = [this] { ++events; };
        hooks.readFailed = [this](std::uint32_t error) { failures.push_back(error); };
        return hooks;
    }
};

// The link's platform calls while it lives.
struct CallLog {
    std::vector<std::pair<PortCall, std::uint32_t>> calls;
    PortCallTrace previous;
    CallLog() {
        previous = SetPortCallTrace(
            [this](PortCall call, std::uint32_t amount) { calls.emplace_back(call, amount); });
    }
    ~CallLog() { SetPortCallTrace(previous); }
};

class Exchange : public ::testing::Test {
  protected:
    // Starts the device (with `fault`, when given) and opens the port on it.
    void StartDevice(std::string_view fault = {}, std::string buffer = {}) {
        sim::Options options;
        options.buffer = std::move(buffer);
        std::string error;
        if (!fault.empty()) {
            const auto parsed = sim::ParseFault(fault, error);
            ASSERT_TRUE(parsed.has_value()) << error;
            options.faults.push_back(*parsed);
        }
        device_ = sim::Simulator::Start(options, error);
        ASSERT_NE(device_, nullptr) << error;
        ASSERT_EQ(OpenExchangePort(PortSetting{false, 0, device_->PortPath()}), 0);
    }
    void TearDown() override { CloseComPort(); }

    // The device stores a write once all 4096 bytes have arrived; the port
    // side may still be delivering the last ones when the exchange returns.
    bool WaitForWrites(int count) {
        const auto until = Clock::now() + std::chrono::seconds(3);
        while (device_->WritesCompleted() < count && Clock::now() < until) {
            std::this_thread::sleep_for(milliseconds(5));
        }
        return device_->WritesCompleted() == count;
    }

    std::unique_ptr<sim::Simulator> device_;
};

// Every answer ends the read as it should: the characters received, their
// decoding only when all 8192 are hex digits, one progress and one event
// call per read that brought something, and never a wait per read.
TEST_F(Exchange, ReadEndsAsTheAnswerSays) {
    constexpr auto none = std::string::npos;
    struct Case {
        const char* fault;
        ExchangeStatus status;
        std::size_t characters;  // of the response
        std::size_t badPosition;
        double minSeconds;
    };
    const Case cases[] = {
        {"", ExchangeStatus::Done, 8192, none, 0},
        {"silent", ExchangeStatus::Incomplete, 0, none, DeviceAnswerTimeoutMs / 1000.0 * 0.9},
        // An odd count: the last read brings one character, the next nothing.
        {"short:5001", ExchangeStatus::Incomplete, 5001, none, 0},
        {"garbage:777", ExchangeStatus::Invalid, 8192, 777, 0},
        {"extra:40", ExchangeStatus::Done, 8192, none, 0},  // the rest is left unread
        // After an even count the stall falls between two reads, so the next
        // one waits for its first byte with the answer time-out.
        {"stall:4000:600", ExchangeStatus::Done, 8192, none, 0.55},
    };
    const std::string buffer = NewBuffer(1);
    const std::string hex = BinToHex(buffer);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        ASSERT_NO_FATAL_FAILURE(StartDevice(c.fault, buffer));
        Log log;
        const auto start = Clock::now();
        const ReadOutcome outcome = ReadKeyBuffer(log.Hooks());
        const double seconds = SecondsSince(start);

        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.response.size(), c.characters);
        EXPECT_EQ(outcome.badPosition, c.badPosition);
        const std::size_t good = std::min(c.characters, c.badPosition);
        EXPECT_EQ(outcome.response.substr(0, good), hex.substr(0, good));
        EXPECT_EQ(outcome.keyBuffer, c.status == ExchangeStatus::Done ? buffer : "");
        EXPECT_EQ(outcome.error, 0u);
        EXPECT_TRUE(log.failures.empty());
        ASSERT_EQ(log.reads.size(), (c.characters + 1) / 2);
        for (std::size_t k = 0; k < log.reads.size(); ++k) {
            ASSERT_EQ(log.reads[k], static_cast<int>(k + 1));
        }
        EXPECT_EQ(log.events, static_cast<int>(log.reads.size()));
        EXPECT_GE(seconds, c.minSeconds);
        EXPECT_LT(seconds, 5.0);
        // The request is the one byte 0x05, sent once.
        const auto received = device_->ReceivedBytes();
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].byte, ReadRequest);
    }
}

// A hang-up ends either exchange at once: not a time-out per remaining
// read or byte, not the rest of the pauses.
TEST_F(Exchange, AHangUpEndsEitherExchangeAtOnce) {
    StartDevice("hangup:3001");  // the request and 3000 characters, then the line goes
    Log log;
    auto start = Clock::now();
    const ReadOutcome read = ReadKeyBuffer(log.Hooks());
    EXPECT_LT(SecondsSince(start), 1.5);
    EXPECT_EQ(read.status, ExchangeStatus::Incomplete);
    // A hang-up may discard what was still in flight; never more than was sent.
    EXPECT_LE(read.response.size(), 3000u);
    EXPECT_TRUE(port::IsDeviceLostError(read.error)) << port::ErrorText(read.error);
    ASSERT_EQ(log.failures.size(), 1u);  // reported once
    EXPECT_EQ(log.failures[0], read.error);

    // 0x06 and 2000 bytes.  The client may have handed the port every byte
    // before a busy device takes the 2000th and hangs up, so the block
    // after it waits for the hang-up: the write must then stop at once.
    ASSERT_NO_FATAL_FAILURE(StartDevice("hangup:2001"));
    ExchangeHooks hooks;
    hooks.afterBlock = [&](int p) {
        const auto until = Clock::now() + std::chrono::seconds(10);
        while (p + 15 >= 2000 && !device_->HungUp() && Clock::now() < until) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        start = Clock::now();
    };
    const WriteOutcome write = WriteKeyBuffer(NewBuffer(7), 16, 1, hooks);
    EXPECT_LT(SecondsSince(start), 1.0);
    EXPECT_EQ(write.status, ExchangeStatus::DeviceLost);
    EXPECT_NE(write.error, 0u);
    // Found by the write of a later byte, or by the drain before the pause
    // of the block that ended at byte 2000 (position 0).
    EXPECT_GE(write.bytesSent, 2000);
    EXPECT_LT(write.bytesSent, 4096);
    EXPECT_TRUE(write.position == 0 || write.position == write.bytesSent + 1) << write.position;
    EXPECT_TRUE(device_->HungUp());
    EXPECT_EQ(device_->WritesCompleted(), 0);
}

// A device lost at the last bytes of a write (N counts 0x06 too, so 4082 is
// the first byte of the last block at Blocksize 16 and 4096 the very last)
// never makes the write Done, whether the line goes in the middle of a
// block, after it or during its pause.
TEST_F(Exchange, AWriteLostAtItsLastBytesIsNeverDone) {
    struct Case {
        std::uint32_t hangupAt;
        std::uint32_t delay;
    };
    const Case cases[] = {{4082, 10}, {4096, 10}, {4082, 0}, {4088, 0},
                          {4093, 0},  {4095, 0},  {4096, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE("hangup:" + std::to_string(c.hangupAt) + " delay " + std::to_string(c.delay));
        ASSERT_NO_FATAL_FAILURE(StartDevice("hangup:" + std::to_string(c.hangupAt)));
        const WriteOutcome outcome = WriteKeyBuffer(NewBuffer(c.hangupAt), 16, c.delay, {});
        EXPECT_EQ(outcome.status, ExchangeStatus::DeviceLost);
        EXPECT_NE(outcome.error, 0u);
        EXPECT_EQ(device_->WritesCompleted(), 0);
    }
}

// The window may close the port while it processes events, then ask to
// stop: neither exchange may touch the port again (a read or write on the
// closed port would fail and be reported).
TEST_F(Exchange, CancelMakesNoFurtherPortCall) {
    StartDevice();
    Log log;
    bool closed = false;
    ExchangeHooks hooks = log.Hooks();
    hooks.cancelled = [&] { return closed; };
    hooks.processEvents = [&] {
        if (log.reads.size() == 100 || log.blocks.size() == 10) {
            CloseComPort();
            closed = true;
        }
    };
    const ReadOutcome read = ReadKeyBuffer(hooks);
    EXPECT_EQ(read.status, ExchangeStatus::Cancelled);
    EXPECT_EQ(log.reads.size(), 100u);
    EXPECT_EQ(read.response.size(), 200u);
    EXPECT_TRUE(log.failures.empty());

    ASSERT_NO_FATAL_FAILURE(StartDevice());
    log.reads.clear();
    closed = false;
    const WriteOutcome write = WriteKeyBuffer(NewBuffer(8), 16, 0, hooks);
    EXPECT_EQ(write.status, ExchangeStatus::Cancelled);
    EXPECT_EQ(write.bytesSent, 160);
    EXPECT_EQ(write.blocks, 10);
    EXPECT_EQ(log.blocks.size(), 10u);
}

TEST_F(Exchange, ARequestThatCannotBeSentEndsEitherExchangeAtOnce) {
    StartDevice();
    CloseComPort();  // no port: the request's write fails
    Log log;
    const auto start = Clock::now();
    const ReadOutcome read = ReadKeyBuffer(log.Hooks());
    EXPECT_LT(SecondsSince(start), 0.5);
    EXPECT_EQ(read.status, ExchangeStatus::Incomplete);
    EXPECT_TRUE(read.response.empty());
    EXPECT_NE(read.error, 0u);
    ASSERT_EQ(log.failures.size(), 1u);
    EXPECT_EQ(log.failures[0], read.error);

    const WriteOutcome write = WriteKeyBuffer(NewBuffer(9), 16, 0, log.Hooks());
    EXPECT_EQ(write.status, ExchangeStatus::WriteFailed);
    EXPECT_NE(write.error, 0u);
    EXPECT_EQ(write.position, 0);
    EXPECT_EQ(write.bytesSent, 0);
    EXPECT_TRUE(log.blocks.empty());
}

TEST_F(Exchange, WriteSendsTheRequestThenEveryByteInBlocks) {
    StartDevice();
    for (const std::size_t size : {0u, 4095u, 4097u}) {  // refused before anything is sent
        const WriteOutcome outcome = WriteKeyBuffer(std::string(size, 'x'), 16, 0, {});
        EXPECT_EQ(outcome.status, ExchangeStatus::WriteFailed) << size;
        EXPECT_EQ(outcome.bytesSent, 0) << size;
    }
    const std::string buffer = NewBuffer(3);
    struct Case {
        int blockSize;
        int blocks;
    };
    const Case cases[] = {{16, 256}, {1, 4096}, {3, 1366}, {100, 41},
                          {4095, 2}, {4096, 1}, {32767, 1}};
    int writes = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("Blocksize " + std::to_string(c.blockSize));
        Log log;
        CallLog trace;
        const WriteOutcome outcome = WriteKeyBuffer(buffer, c.blockSize, 0, log.Hooks());
        ASSERT_EQ(outcome.status, ExchangeStatus::Done);
        // One platform write per byte, and each pause only once the writes
        // before it have been drained: 0x06, then each block.
        std::vector<int> writesBeforePause;
        int sent = 0;
        PortCall previous = PortCall::Pause;
        for (const auto& [call, amount] : trace.calls) {
            if (call == PortCall::Write) {
                ASSERT_EQ(amount, 1u);
                ++sent;
            } else if (call == PortCall::Pause) {
                ASSERT_EQ(previous, PortCall::DrainOutput) << writesBeforePause.size();
                writesBeforePause.push_back(sent);
                sent = 0;
            }
            previous = call;
        }
        EXPECT_EQ(sent, 0);
        ASSERT_EQ(writesBeforePause.size(), static_cast<std::size_t>(c.blocks) + 1);
        EXPECT_EQ(writesBeforePause[0], 1);
        for (int b = 0; b < c.blocks; ++b) {
            ASSERT_EQ(writesBeforePause[static_cast<std::size_t>(b) + 1],
                      std::min(c.blockSize, 4096 - b * c.blockSize))
                << b;
        }
        EXPECT_EQ(outcome.bytesSent, 4096);
        EXPECT_EQ(outcome.blocks, c.blocks);
        ASSERT_EQ(log.blocks.size(), static_cast<std::size_t>(c.blocks));
        for (int b = 0; b < c.blocks; ++b) {
            ASSERT_EQ(log.blocks[static_cast<std::size_t>(b)], 1 + b * c.blockSize) << b;
        }
        ASSERT_TRUE(WaitForWrites(++writes));
        EXPECT_EQ(device_->Buffer(), buffer);
    }
    // On the line, the latest write is 0x06 and the 4096 bytes in order: no
    // overlap, no gap, no extra.
    const auto received = device_->ReceivedBytes();
    ASSERT_EQ(received.size(), 4097u);
    EXPECT_EQ(received[0].byte, WriteRequest);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        ASSERT_EQ(received[1 + i].byte, static_cast<std::uint8_t>(buffer[i])) << "byte " << i;
    }
}

// A pause begins once the device has every byte sent before it and none
// after it, lasts its Delay before the next block or the event processing,
// and the next block follows only then.  Each pause waits (when it is asked
// its Delay) for the device to have read what was sent, so a slow device
// thread cannot blur the order.
TEST_F(Exchange, WritePausesAfterTheRequestAndAfterEachBlock) {
    StartDevice();
    const auto ReceivedAtLeast = [&](std::size_t n) {
        const auto until = Clock::now() + std::chrono::seconds(10);
        std::size_t got = device_->ReceivedBytes().size();
        for (; got < n && Clock::now() < until; got = device_->ReceivedBytes().size()) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        return got;
    };
    std::vector<std::size_t> receivedAtPause, receivedAtEvents;
    std::vector<Clock::time_point> pauseBegins, blockSent, eventsProcessed;
    ExchangeHooks hooks;
    hooks.delay = [&]() -> std::optional<std::uint32_t> {
        // 0x06, then 100 bytes a block.
        const std::size_t sent = std::min<std::size_t>(1 + 100 * pauseBegins.size(), 4097);
        receivedAtPause.push_back(ReceivedAtLeast(sent));
        pauseBegins.push_back(Clock::now());
        return std::nullopt;
    };
    hooks.afterBlock = [&](int) { blockSent.push_back(Clock::now()); };
    hooks.processEvents = [&] {
        receivedAtEvents.push_back(device_->ReceivedBytes().size());
        eventsProcessed.push_back(Clock::now());
    };
    const auto start = Clock::now();
    const WriteOutcome outcome = WriteKeyBuffer(NewBuffer(4), 100, 20, hooks);
    const double seconds = SecondsSince(start);

    ASSERT_EQ(outcome.status, ExchangeStatus::Done);
    ASSERT_EQ(pauseBegins.size(), 42u);
    ASSERT_EQ(blockSent.size(), 41u);
    ASSERT_EQ(eventsProcessed.size(), 41u);
    EXPECT_GE(MsBetween(pauseBegins[0], blockSent[0]), 20.0) << "after 0x06";
    for (std::size_t p = 0; p < 42; ++p) {
        const std::size_t sent = std::min<std::size_t>(1 + 100 * p, 4097);
        EXPECT_EQ(receivedAtPause[p], sent) << "pause " << p;
        if (p > 0) {
            EXPECT_GE(MsBetween(pauseBegins[p], eventsProcessed[p - 1]), 20.0) << "pause " << p;
            EXPECT_EQ(receivedAtEvents[p - 1], sent) << "pause " << p;
        }
    }
    EXPECT_LT(seconds, 42 * 0.020 + 5.0);
    ASSERT_TRUE(WaitForWrites(1));
}

TEST_F(Exchange, WriteAsksDelayAtEveryPauseAndAnUnusableOneKeepsTheLast) {
    StartDevice();
    const std::string buffer = NewBuffer(5);
    // 8 blocks of 512, so 9 pauses.  What the window's Delay box would give:
    // unusable, 0, unusable, 100, then unusable to the end.
    const std::vector<std::optional<std::uint32_t>> answers = {std::nullopt, 0u, std::nullopt,
                                                               100u};
    std::vector<Clock::time_point> asked;  // each pause starts with the question
    ExchangeHooks hooks;
    hooks.delay = [&]() -> std::optional<std::uint32_t> {
        asked.push_back(Clock::now());
        return asked.size() <= answers.size() ? answers[asked.size() - 1] : std::nullopt;
    };
    const WriteOutcome outcome = WriteKeyBuffer(buffer, 512, 0, hooks);
    asked.push_back(Clock::now());

    ASSERT_EQ(outcome.status, ExchangeStatus::Done);
    ASSERT_EQ(asked.size(), 10u);
    // From one question to the next: the pause, then a drain or event
    // processing and one block of 512 writes, which take far less than 100 ms.
    for (std::size_t j = 0; j < 9; ++j) {
        SCOPED_TRACE("pause " + std::to_string(j + 1));
        if (j < 3) {
            EXPECT_LT(MsBetween(asked[j], asked[j + 1]), 80.0);
        } else {
            EXPECT_GE(MsBetween(asked[j], asked[j + 1]), 100.0);
        }
    }
    ASSERT_TRUE(WaitForWrites(1));
    EXPECT_EQ(device_->Buffer(), buffer);
}

TEST_F(Exchange, WriteDrainsWhatTheDeviceSends) {
    // Input waiting before the write: the answer to a stray read request.
    StartDevice("short:200");
    ASSERT_NE(SendString(std::string(1, static_cast<char>(ReadRequest))), 0);
    const auto until = Clock::now() + std::chrono::seconds(2);
    while (InQueueCount() < 200 && Clock::now() < until) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    ASSERT_EQ(InQueueCount(), 200);
    const std::string buffer = NewBuffer(10);
    int waitingAfterBlock = -1;
    ExchangeHooks hooks;
    hooks.afterBlock = [&](int) { waitingAfterBlock = InQueueCount(); };
    ASSERT_EQ(WriteKeyBuffer(buffer, 4096, 0, hooks).status, ExchangeStatus::Done);
    EXPECT_EQ(waitingAfterBlock, 0);  // drained before the blocks
    ASSERT_TRUE(WaitForWrites(1));
    EXPECT_EQ(device_->Buffer(), buffer);

    // A device that answers during the write: the final drain leaves
    // nothing, so a read on the same port gets exactly the new buffer.
    // Its answer to the last byte may reach the port a moment after the last
    // pause, so the last event processing waits until all 256 (one per 16
    // bytes) are in: the final drain is what is checked, not the device's pace.
    ASSERT_NO_FATAL_FAILURE(StartDevice("chatter"));
    const std::string next = NewBuffer(6);
    int blocks = 0;
    int waitingAtEnd = -1;
    hooks = {};
    hooks.processEvents = [&] {
        if (++blocks < 64) {
            return;
        }
        const auto until = Clock::now() + std::chrono::seconds(10);
        while (InQueueCount() < 256 && Clock::now() < until) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        waitingAtEnd = InQueueCount();
    };
    ASSERT_EQ(WriteKeyBuffer(next, 64, 2, hooks).status, ExchangeStatus::Done);
    EXPECT_EQ(waitingAtEnd, 256);
    ASSERT_TRUE(WaitForWrites(1));
    EXPECT_EQ(device_->Buffer(), next);
    EXPECT_EQ(InQueueCount(), 0);
    const ReadOutcome read = ReadKeyBuffer({});
    ASSERT_EQ(read.status, ExchangeStatus::Done);
    EXPECT_EQ(read.keyBuffer, next);
}

}  // namespace
}  // namespace vantri
