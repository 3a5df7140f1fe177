// The key buffer exchanges against the simulated device on a real
// pseudo-terminal, through the real serial link.  The simulator's faults
// are tested here, through what the exchanges see of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "image/hexfileHandle.h"
#include "serial/exchange.h"
#include "serial/pause.h"
#include "serial/quiet_line.h"
#include "serial/zrkCommModule.h"
#include "sim/devsim.h"
#include "tests/common/files.h"
#include "tests/common/sim_device.h"

namespace vantri {
namespace {

using Clock = std::chrono::steady_clock;
using test::Eventually;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// 4096 bytes unlike the device's own.
std::string NewBuffer(unsigned variant) {
    return test::RandomBytes(4096, variant);
}

// What a read tells its hooks.
struct Log {
    std::vector<int> reads;
    int events = 0;
    std::vector<std::uint32_t> failures;
    bool afterRead = false;  // only the events that follow a read count

    ExchangeHooks Hooks() {
        ExchangeHooks hooks;
        hooks.afterRead = [this](int k) {
            reads.push_back(k);
            afterRead = true;
        };
        hooks.processEvents = [this] { events += std::exchange(afterRead, false) ? 1 : 0; };
        hooks.readFailed = [this](std::uint32_t error) { failures.push_back(error); };
        return hooks;
    }
};

class Exchange : public ::testing::Test {
  protected:
    // Starts the device (with `fault`, when given) and opens the port on it.
    void StartDevice(std::string_view fault = {}, sim::Options options = {}) {
        std::string error;
        device_ = StartSimDevice(fault.empty() ? std::vector<std::string>{}
                                               : std::vector<std::string>{std::string(fault)},
                                 options, error);
        ASSERT_NE(device_, nullptr) << error;
        ASSERT_EQ(OpenExchangePort(PortSetting{false, 0, device_->PortPath()}), 0);
    }
    void TearDown() override { CloseComPort(); }

    // The device stores a write once all 4096 bytes have arrived; the port
    // side may still be delivering the last ones when the exchange returns.
    bool WaitForWrites(int count) {
        return Eventually([&] { return device_->WritesCompleted() >= count; }) &&
               device_->WritesCompleted() == count;
    }

    std::unique_ptr<sim::Simulator> device_;
};

// Every answer ends the read as it should: the characters received, their
// decoding only when all 8192 are hex digits and no more follow, one
// progress and one event call per read that brought something, and never a
// wait per read.
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
        // More hex digits after the answer: it cannot be told from an answer
        // that began before its request.
        {"extra:40", ExchangeStatus::Overlong, 8192, none, 0},
        // After an even count the stall falls between two reads, so the next
        // one waits for its first byte with the answer time-out.
        {"stall:4000:600", ExchangeStatus::Done, 8192, none, 0.55},
    };
    const std::string buffer = NewBuffer(1);
    const std::string hex = BinToHex(buffer);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        sim::Options options;
        options.buffer = buffer;
        ASSERT_NO_FATAL_FAILURE(StartDevice(c.fault, options));
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
        EXPECT_TRUE(log.reads.empty() || log.reads.back() == static_cast<int>(log.reads.size()));
        EXPECT_EQ(log.events, static_cast<int>(log.reads.size()));
        EXPECT_GE(seconds, c.minSeconds);
        // A half answer is given the time to resume before the read ends.
        EXPECT_LT(seconds, (DeviceAnswerTimeoutMs + ResumeWaitMs) / 1000.0 + 2.0);
        EXPECT_EQ(device_->ReceivedBytes().size(), 1u);  // the request, sent once
    }
}

// A hang-up ends either exchange at once: not a time-out per remaining
// read or byte, not the rest of the pauses.  A request that cannot be sent
// ends it before any wait.
TEST_F(Exchange, ALostLineEndsEitherExchangeAtOnce) {
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
        Eventually([&] { return p + 15 < 2000 || device_->HungUp(); });
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
    EXPECT_EQ(device_->WritesCompleted(), 0);

    CloseComPort();  // no port: the request's write fails
    log = {};
    start = Clock::now();
    EXPECT_EQ(ReadKeyBuffer(log.Hooks()).status, ExchangeStatus::Incomplete);
    EXPECT_EQ(log.failures.size(), 1u);
    EXPECT_LT(SecondsSince(start), 0.5);
    const WriteOutcome none = WriteKeyBuffer(NewBuffer(9), 16, 0, {});
    EXPECT_EQ(none.status, ExchangeStatus::WriteFailed);
    EXPECT_EQ(none.bytesSent, 0);
}

// A device lost at the last bytes of a write (N counts 0x06 too, so 4082 is
// the first byte of the last block at Blocksize 16 and 4096 the very last)
// never makes the write Done, whether the line goes in the middle of a
// block, after it or during its pause.
TEST_F(Exchange, AWriteLostAtItsLastBytesIsNeverDone) {
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {4082, 10}, {4096, 10}, {4088, 0}, {4095, 0}, {4096, 0}};
    for (const auto& [hangupAt, delay] : cases) {
        SCOPED_TRACE("hangup:" + std::to_string(hangupAt) + " delay " + std::to_string(delay));
        ASSERT_NO_FATAL_FAILURE(StartDevice("hangup:" + std::to_string(hangupAt)));
        // A device that is gone before the write's last look: on a
        // pseudo-terminal the bytes count as sent once the kernel holds
        // them, so the test waits for the hang-up rather than race it.
        ExchangeHooks hooks;
        hooks.afterBlock = [&](int p) {
            if (p + 15 >= static_cast<int>(hangupAt)) {
                Eventually([&] { return device_->HungUp(); });
            }
        };
        const WriteOutcome outcome = WriteKeyBuffer(NewBuffer(hangupAt), 16, delay, hooks);
        EXPECT_EQ(outcome.status, ExchangeStatus::DeviceLost);
        EXPECT_NE(outcome.error, 0u);
        EXPECT_EQ(device_->WritesCompleted(), 0);
    }
}

// The window may close the port while it processes events, then ask to
// stop: neither exchange may touch the port again (a read or write on the
// closed port would fail and be reported).  The device drops the write left
// half-way, so the next read is answered.
TEST_F(Exchange, CancelMakesNoFurtherPortCall) {
    const test::TempDir dir;
    sim::Options options;
    options.logFile = dir / "device.log";
    StartDevice({}, options);
    Log log;
    int blocks = 0;
    bool closed = false;
    ExchangeHooks hooks = log.Hooks();
    hooks.afterBlock = [&](int) { ++blocks; };
    hooks.cancelled = [&] { return closed; };
    hooks.processEvents = [&] {
        if (log.reads.size() == 100 || blocks == 10) {
            // The half write on the wire first: the close drops what is queued.
            Eventually([&] { return blocks == 0 || device_->ReceivedBytes().size() >= 161; });
            CloseComPort();
            closed = true;
        }
    };
    const ReadOutcome read = ReadKeyBuffer(hooks);
    EXPECT_EQ(read.status, ExchangeStatus::Cancelled);
    EXPECT_EQ(read.response.size(), 200u);
    EXPECT_TRUE(log.failures.empty());

    ASSERT_EQ(OpenExchangePort(PortSetting{false, 0, device_->PortPath()}), 0);
    log.reads.clear();
    closed = false;
    const WriteOutcome write = WriteKeyBuffer(NewBuffer(8), 16, 0, hooks);
    EXPECT_EQ(write.status, ExchangeStatus::Cancelled);
    EXPECT_EQ(write.bytesSent, 160);
    EXPECT_EQ(write.blocks, 10);
    EXPECT_EQ(blocks, 10);

    ASSERT_TRUE(Eventually([&] {
        return test::ReadFile(options.logFile).find("write abandoned") != std::string::npos;
    }));
    ASSERT_EQ(OpenExchangePort(PortSetting{false, 0, device_->PortPath()}), 0);
    const ReadOutcome after = ReadKeyBuffer({});
    EXPECT_EQ(after.status, ExchangeStatus::Done);
    EXPECT_EQ(after.keyBuffer, sim::DefaultBuffer());
}

// A pause held far past its Delay (a window whose events did not come back)
// ends the write there: the rest would reach a device that may have given
// the write up and would take it as commands.
TEST_F(Exchange, AWriteHeldPastItsDelayStopsThere) {
    StartDevice();
    ExchangeHooks hooks;
    int blocks = 0;
    hooks.afterBlock = [&](int) { ++blocks; };
    hooks.processEvents = [&] {
        if (blocks == 10) {
            PauseMs(HoldLimitMs + 300);
        }
    };
    const WriteOutcome outcome = WriteKeyBuffer(NewBuffer(11), 16, 10, hooks);
    EXPECT_EQ(outcome.status, ExchangeStatus::Held);
    EXPECT_TRUE(outcome.requestSent);
    EXPECT_EQ(outcome.bytesSent, 160);
    EXPECT_GE(outcome.heldMs, HoldLimitMs + 300);
}

// The write's calls on the link, in order, one letter each: w a one-byte
// platform write (Wn: n bytes), d an output drain, pN a pause of N ms, b the
// block hook, e event processing (one line per block).
struct CallText {
    std::string text;
    void operator()(PortCall call, std::uint32_t n) {
        if (call == PortCall::Write) {
            text += n == 1 ? "w" : "W" + std::to_string(n);
        } else {
            text += call == PortCall::DrainOutput ? "d" : "p" + std::to_string(n) + " ";
        }
    }
};

// 0x06, then every byte in its block, each byte its own platform write;
// after 0x06 and after each block the output drained, then the pause with
// the Delay asked at that pause (an unusable answer keeps the last), then
// the events.  On the device: the new buffer.
TEST_F(Exchange, WriteSendsEachByteAloneAndPausesAfterADrain) {
    StartDevice();
    for (const std::size_t size : {0u, 4095u, 4097u}) {  // refused before anything is sent
        const WriteOutcome outcome = WriteKeyBuffer(std::string(size, 'x'), 16, 0, {});
        EXPECT_EQ(outcome.status, ExchangeStatus::WriteFailed) << size;
        EXPECT_EQ(outcome.bytesSent, 0) << size;
    }
    using Answers = std::vector<std::optional<std::uint32_t>>;
    struct Case {
        int blockSize;
        std::uint32_t delay;
        Answers answers;                    // the window's Delay box at each pause
        std::vector<std::uint32_t> pauses;  // empty: `delay` every time
    };
    const Case cases[] = {
        {1, 0, {}, {}},
        {100, 2, {}, {}},
        {4095, 0, {}, {}},
        {32767, 0, {}, {}},
        {512, 3, {std::nullopt, 0u, std::nullopt, 5u}, {3, 0, 0, 5, 5, 5, 5, 5, 5}},
    };
    const std::string buffer = NewBuffer(3);
    int writes = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("Blocksize " + std::to_string(c.blockSize));
        std::size_t asked = 0;
        CallText calls;
        ExchangeHooks hooks;
        hooks.portCall = [&](PortCall call, std::uint32_t n) { calls(call, n); };
        hooks.delay = [&]() -> std::optional<std::uint32_t> {
            return asked < c.answers.size() ? c.answers[asked++] : std::nullopt;
        };
        hooks.afterBlock = [&](int p) { calls.text += "b" + std::to_string(p); };
        bool requested = false;  // the events while the line is awaited are not the write's
        hooks.requestSent = [&] { requested = true; };
        hooks.processEvents = [&] { calls.text += requested ? "e\n" : ""; };
        const auto start = Clock::now();
        const WriteOutcome outcome = WriteKeyBuffer(buffer, c.blockSize, c.delay, hooks);
        const double seconds = SecondsSince(start);
        ASSERT_EQ(outcome.status, ExchangeStatus::Done);

        std::size_t pause = 0;
        double pausedMs = 0;
        const auto next = [&] {
            const std::uint32_t ms = pause < c.pauses.size() ? c.pauses[pause] : c.delay;
            ++pause;
            pausedMs += ms;
            return "dp" + std::to_string(ms) + " ";
        };
        std::string expected = "w" + next();
        for (int p = 1; p <= 4096; p += c.blockSize) {
            expected += std::string(std::min(c.blockSize, 4097 - p), 'w') + "b" +
                        std::to_string(p) + next() + "e\n";
        }
        EXPECT_EQ(calls.text, expected);
        EXPECT_GE(seconds * 1000, pausedMs);
        EXPECT_EQ(outcome.bytesSent, 4096);
        EXPECT_EQ(outcome.blocks, (4095 + c.blockSize) / c.blockSize);
        ASSERT_TRUE(WaitForWrites(++writes));
        EXPECT_EQ(device_->Buffer(), buffer);
    }
}

TEST_F(Exchange, WriteDrainsWhatTheDeviceSends) {
    // Input waiting before the write: the answer to a stray read request.
    StartDevice("short:200");
    ASSERT_NE(SendString(std::string(1, static_cast<char>(ReadRequest))), 0);
    ASSERT_TRUE(Eventually([] { return InQueueCount() >= 200; }));
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
    hooks = {};
    hooks.afterBlock = [&](int) { ++blocks; };
    hooks.processEvents = [&] {
        if (blocks == 64) {
            EXPECT_TRUE(Eventually([] { return InQueueCount() >= 256; }));
        }
    };
    ASSERT_EQ(WriteKeyBuffer(next, 64, 2, hooks).status, ExchangeStatus::Done);
    ASSERT_TRUE(WaitForWrites(1));
    EXPECT_EQ(device_->Buffer(), next);
    EXPECT_EQ(InQueueCount(), 0);
    const ReadOutcome read = ReadKeyBuffer({});
    ASSERT_EQ(read.status, ExchangeStatus::Done);
    EXPECT_EQ(read.keyBuffer, next);
}

}  // namespace
}  // namespace vantri
