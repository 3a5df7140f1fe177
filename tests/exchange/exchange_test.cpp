// The key buffer exchanges against the simulated device on a real
// pseudo-terminal, through the real serial link.  The simulator's faults
// are tested here, through what the exchanges see of them; the simulated
// device itself (Device) as a client sees it: it handles what it receives
// strictly in order, as real firmware does, and its faults bend that the way
// real devices do, pinned by the bytes on the line.
//
// A command is also cut at any point, then the next one follows at once,
// against a device that handles what it receives in order, as firmware with
// a receive buffer does: it finishes an answer nobody reads any more,
// answers a request that came meanwhile afterwards, and takes the 4096
// bytes after 0x06 as its buffer whatever they are.  The second command is
// right or a clear failure; never a wrong key buffer reported as done.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
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

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace test;

const std::string kRead(1, static_cast<char>(ReadRequest));
const std::string kWrite(1, static_cast<char>(WriteRequest));

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A device with a buffer of its own, its answers paced as on a real line
// (at 115200 an answer takes 0.71 s), or as fast as it goes (0).
sim::Options Paced(std::uint32_t lineRate = 115200) {
    sim::Options options;
    options.buffer = RandomBytes(KeyBufferSize, 40);
    options.lineRate = lineRate;
    return options;
}

// What an exchange tells its hooks; it is cancelled once `stopAt` reads or
// blocks are done.
struct Probe {
    explicit Probe(int stopAt = KeyBufferSize + 1) : stopAt(stopAt) {}
    int stopAt;
    std::vector<int> reads;
    int blocks = 0, events = 0;
    std::vector<std::uint32_t> failures;
    bool afterRead = false;  // only the events that follow a read count

    ExchangeHooks Hooks() {
        ExchangeHooks hooks;
        hooks.afterRead = [this](int k) {
            reads.push_back(k);
            afterRead = true;
        };
        hooks.afterBlock = [this](int) { ++blocks; };
        hooks.processEvents = [this] { events += std::exchange(afterRead, false) ? 1 : 0; };
        hooks.readFailed = [this](std::uint32_t error) { failures.push_back(error); };
        hooks.cancelled = [this] { return static_cast<int>(reads.size()) + blocks >= stopAt; };
        return hooks;
    }
};

class Exchange : public ::testing::Test {
  protected:
    // Starts the device with `faults` (as vantri-devsim takes them; "" is
    // none) and opens its port (unless `open` is false).
    void Start(const std::vector<std::string>& faults = {}, sim::Options options = {},
               bool open = true) {
        std::string error;
        device_ = StartSimDevice(faults, options, error);
        ASSERT_NE(device_, nullptr) << error;
        if (open)
            Reopen();
    }
    // Each command opens the port afresh, as the window and the CLI do.
    void Reopen() {
        CloseComPort();
        ASSERT_EQ(OpenExchangePort(PortSetting{false, 0, device_->PortPath()}), 0);
    }
    void TearDown() override { CloseComPort(); }

    // The device stores a write once all 4096 bytes have arrived; the port
    // side may still be delivering the last ones when the exchange returns.
    bool WaitForWrites(int count) {
        return Eventually([&] { return device_->WritesCompleted() >= count; }) &&
               device_->WritesCompleted() == count;
    }
    // A read that is right, or fails without a key buffer.
    void ExpectRightOrRefused(const ReadOutcome& read) {
        EXPECT_EQ(read.keyBuffer, read.status == ExchangeStatus::Done ? device_->Buffer() : "");
    }

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
        Eventually([&] {
            for (std::string got = "x"; text.size() < count && !got.empty(); seen(text.size()))
                text += got =
                    ReadBytes(static_cast<std::int16_t>(std::min(step, count - text.size())));
            return text.size() == count;
        });
        return text;
    }

    std::unique_ptr<sim::Simulator> device_;
};
class Device : public Exchange {};

// Every answer ends the read as it should: the characters received, their
// decoding only when all 8192 are hex digits and no more follow, one
// progress and one event call per read that brought something, and never a
// wait per read.  The read right after it is right or refused.
TEST_F(Exchange, ReadEndsAsTheAnswerSays) {
    using enum ExchangeStatus;
    constexpr auto none = std::string::npos;
    const double silent = DeviceAnswerTimeoutMs / 1000.0 * 0.9;
    // The fault; the status, the characters and the bad position of the
    // response; the least seconds; whether it is read once more right after.
    using Row = std::tuple<const char*, ExchangeStatus, std::size_t, std::size_t, double, bool>;
    const Row cases[] = {
        // clang-format off
        {"", Done, 8192, none, 0, false}, {"silent", Incomplete, 0, none, silent, false},
        // An odd count: the last read brings one character, the next nothing.
        {"short:5001", Incomplete, 5001, none, 0, false}, {"garbage:777", Invalid, 8192, 777, 0, false},
        // More hex digits after the answer: it cannot be told from an answer
        // that began before its request, nor from a second answer.
        {"extra:1", Overlong, 8192, none, 0, true}, {"double", Overlong, 8192, none, 0, true},
        // After an even count the stall falls between two reads, so the next
        // one waits for its first byte with the answer time-out.  A longer
        // stall ends the read; the device resumes later, into the next one.
        {"stall:4000:600", Done, 8192, none, 0.55, false},
        // After an odd count it falls inside a read: one shorter than the
        // interval time-out does not end that read.
        {"stall:4001:40", Done, 8192, none, 0.035, false},
        {"stall:4000:2500", Incomplete, 4000, none, 2.0, true}, {"burst:62:16", Done, 8192, none, 0, true},
        // clang-format on
    };
    for (const auto& [fault, status, characters, badPosition, minSeconds, readAgain] : cases) {
        SCOPED_TRACE(fault);
        ASSERT_NO_FATAL_FAILURE(Start({fault}, Paced(0)));
        const std::string hex = BinToHex(device_->Buffer());
        Probe log;
        const auto start = Clock::now();
        const ReadOutcome outcome = ReadKeyBuffer(log.Hooks());
        const double seconds = SecondsSince(start);

        EXPECT_EQ(outcome.status, status);
        EXPECT_EQ(outcome.response.size(), characters);
        EXPECT_EQ(outcome.badPosition, badPosition);
        const std::size_t good = std::min(characters, badPosition);
        EXPECT_EQ(outcome.response.substr(0, good), hex.substr(0, good));
        ExpectRightOrRefused(outcome);
        EXPECT_EQ(outcome.error + log.failures.size(), 0u);
        ASSERT_EQ(log.reads.size(), (characters + 1) / 2);
        EXPECT_TRUE(log.reads.empty() || log.reads.back() == static_cast<int>(log.reads.size()));
        EXPECT_EQ(log.events, static_cast<int>(log.reads.size()));
        EXPECT_GE(seconds, minSeconds);
        // A half answer is given the time to resume before the read ends.
        EXPECT_LT(seconds, (DeviceAnswerTimeoutMs + ResumeWaitMs) / 1000.0 + 2.0);
        EXPECT_EQ(device_->ReceivedBytes().size(), 1u);  // the request, sent once
        if (readAgain) {
            ASSERT_NO_FATAL_FAILURE(Reopen());
            ExpectRightOrRefused(ReadKeyBuffer({}));
        }
    }
}

// A read cut anywhere in the answer: the device goes on answering, and the
// next read at once waits for it to finish before it asks.  An answer that
// pauses resumes later, at the same place in every answer, so a read at
// once would end exactly at the next pause with the rest of the old answer
// in front: LetAnswerEnd lets the cut answer end, its pause included.
TEST_F(Exchange, AReadCutAnywhereThenARead) {
    const std::pair<const char*, int> cases[] = {{"", 1},    {"", 700},  {"", 2048},
                                                 {"", 3500}, {"", 4095}, {"stall:4000:1500", 1000}};
    for (const auto& [fault, cutAfter] : cases) {
        SCOPED_TRACE(std::string(fault) + " cut after read " + std::to_string(cutAfter));
        ASSERT_NO_FATAL_FAILURE(Start({fault}, Paced()));
        Probe cut{cutAfter};
        const ReadOutcome first = ReadKeyBuffer(cut.Hooks());
        EXPECT_EQ(first.status, ExchangeStatus::Cancelled);
        EXPECT_TRUE(first.requestSent);
        if (*fault != '\0') {
            EXPECT_EQ(LetAnswerEnd({}, first), ExchangeStatus::Done);
        }
        ASSERT_NO_FATAL_FAILURE(Reopen());
        const ReadOutcome next = ReadKeyBuffer({});
        EXPECT_EQ(next.status, ExchangeStatus::Done);
        EXPECT_EQ(next.keyBuffer, device_->Buffer());
    }
}

// A hang-up ends a read at once: not a time-out per remaining read.  A
// request that cannot be sent ends either exchange before any wait.
TEST_F(Exchange, ALostLineEndsAReadAtOnce) {
    Start({"hangup:3001"});  // the request and 3000 characters, then the line goes
    Probe log;
    auto start = Clock::now();
    const ReadOutcome read = ReadKeyBuffer(log.Hooks());
    EXPECT_LT(SecondsSince(start), 1.5);
    EXPECT_EQ(read.status, ExchangeStatus::Incomplete);
    // A hang-up may discard what was still in flight; never more than was sent.
    EXPECT_LE(read.response.size(), 3000u);
    EXPECT_TRUE(port::IsDeviceLostError(read.error)) << port::ErrorText(read.error);
    EXPECT_EQ(log.failures, std::vector{read.error});  // reported once

    CloseComPort();  // no port: the request's write fails
    log = Probe();
    start = Clock::now();
    EXPECT_EQ(ReadKeyBuffer(log.Hooks()).status, ExchangeStatus::Incomplete);
    EXPECT_EQ(log.failures.size(), 1u);
    EXPECT_LT(SecondsSince(start), 0.5);
    const WriteOutcome none = WriteKeyBuffer(RandomBytes(4096, 9), 16, 0, {});
    EXPECT_EQ(none.status, ExchangeStatus::WriteFailed);
    EXPECT_EQ(none.bytesSent, 0);
}

// A device lost during a write ends it at once, not a time-out per
// remaining byte nor the rest of the pauses, and never makes it Done: in
// the middle, and at its last bytes (N counts 0x06 too, so 4082 is the
// first byte of the last block at Blocksize 16 and 4096 the very last),
// whether the line goes in the middle of a block, after it or during its
// pause.  It is found by the write of a later byte, or by a drain or the
// last look at the line (position 0).
TEST_F(Exchange, AWriteLostAnywhereEndsAtOnceAndIsNeverDone) {
    const std::pair<int, std::uint32_t> cases[] = {{2001, 1}, {4082, 10}, {4096, 10},
                                                   {4088, 0}, {4095, 0},  {4096, 0}};
    for (const auto& [hangupAt, delay] : cases) {
        SCOPED_TRACE("hangup:" + std::to_string(hangupAt) + " delay " + std::to_string(delay));
        ASSERT_NO_FATAL_FAILURE(Start({"hangup:" + std::to_string(hangupAt)}));
        // A device that is gone before the write's next look: on a
        // pseudo-terminal the bytes count as sent once the kernel holds
        // them, so the test waits for the hang-up rather than race it.
        auto start = Clock::now();
        ExchangeHooks hooks;
        hooks.afterBlock = [&](int p) {
            Eventually([&] { return p + 15 < hangupAt || device_->HungUp(); });
            start = Clock::now();
        };
        const WriteOutcome outcome = WriteKeyBuffer(RandomBytes(4096, hangupAt), 16, delay, hooks);
        EXPECT_LT(SecondsSince(start), 1.0);
        EXPECT_EQ(outcome.status, ExchangeStatus::DeviceLost);
        EXPECT_NE(outcome.error, 0u);
        EXPECT_GE(outcome.bytesSent, hangupAt - 1);
        EXPECT_TRUE(outcome.position == 0 || outcome.position == outcome.bytesSent + 1)
            << outcome.position;
        EXPECT_EQ(device_->WritesCompleted(), 0);
    }
}

// The window may close the port while it processes events, then ask to
// stop: neither exchange may touch the port again (a read or write on the
// closed port would fail and be reported).  The device drops the write left
// half-way, so the next read is answered.
TEST_F(Exchange, CancelMakesNoFurtherPortCall) {
    const TempDir dir;
    sim::Options options;
    options.logFile = dir / "device.log";
    Start({}, options);
    Probe log;
    bool closed = false;
    ExchangeHooks hooks = log.Hooks();
    hooks.cancelled = [&] { return closed; };
    hooks.processEvents = [&] {
        if (log.reads.size() == 100 || log.blocks == 10) {
            // The half write on the wire first: the close drops what is queued.
            Eventually([&] { return log.blocks == 0 || device_->ReceivedBytes().size() >= 161; });
            closed = CloseComPort() != 0;
        }
    };
    const ReadOutcome read = ReadKeyBuffer(hooks);
    EXPECT_EQ(read.status, ExchangeStatus::Cancelled);
    EXPECT_EQ(read.response.size(), 200u);
    EXPECT_TRUE(log.failures.empty());

    ASSERT_NO_FATAL_FAILURE(Reopen());
    log.reads.clear();
    closed = false;
    const WriteOutcome write = WriteKeyBuffer(RandomBytes(4096, 8), 16, 0, hooks);
    EXPECT_EQ(write.status, ExchangeStatus::Cancelled);
    EXPECT_EQ(std::vector({write.bytesSent, write.blocks, log.blocks}), std::vector({160, 10, 10}));

    ASSERT_TRUE(Eventually(
        [&] { return ReadFile(options.logFile).find("write abandoned") != std::string::npos; }));
    ASSERT_NO_FATAL_FAILURE(Reopen());
    const ReadOutcome after = ReadKeyBuffer({});
    EXPECT_EQ(after.status, ExchangeStatus::Done);
    EXPECT_EQ(after.keyBuffer, sim::DefaultBuffer());
}

// A pause held far past its Delay (a window whose events did not come back)
// ends the write there: the rest would reach a device that may have given
// the write up and would take it as commands.
TEST_F(Exchange, AWriteHeldPastItsDelayStopsThere) {
    Start();
    Probe log;
    ExchangeHooks hooks = log.Hooks();
    hooks.processEvents = [&] { PauseMs(log.blocks == 10 ? HoldLimitMs + 300 : 0); };
    const WriteOutcome outcome = WriteKeyBuffer(RandomBytes(4096, 11), 16, 10, hooks);
    EXPECT_EQ(outcome.status, ExchangeStatus::Held);
    EXPECT_TRUE(outcome.requestSent);
    EXPECT_EQ(outcome.bytesSent, 160);
    EXPECT_GE(outcome.heldMs, HoldLimitMs + 300);
}

// 0x06, then every byte in its block, each byte its own platform write;
// after 0x06 and after each block the output drained, then the pause with
// the Delay asked at that pause (an unusable answer keeps the last), then
// the events.  On the device: the new buffer.  The calls are written one
// letter each: w a one-byte platform write (Wn: n bytes), d an output
// drain, pN a pause of N ms, bP the block hook, e event processing.
TEST_F(Exchange, WriteSendsEachByteAloneAndPausesAfterADrain) {
    Start();
    for (const std::size_t size : {0u, 4095u, 4097u}) {  // refused before anything is sent
        const WriteOutcome outcome = WriteKeyBuffer(std::string(size, 'x'), 16, 0, {});
        EXPECT_TRUE(outcome.status == ExchangeStatus::WriteFailed && !outcome.requestSent) << size;
    }
    // Blocksize, Delay, the Delay box at each pause, the pauses (none:
    // the Delay every time).
    using Answers = std::vector<std::optional<std::uint32_t>>;
    const std::tuple<int, std::uint32_t, Answers, std::vector<std::uint32_t>> cases[] = {
        {1, 0, {}, {}},
        {100, 2, {}, {}},
        {4095, 0, {}, {}},
        {32767, 0, {}, {}},
        {512, 3, {std::nullopt, 0u, std::nullopt, 5u}, {3, 0, 0, 5, 5, 5, 5, 5, 5}}};
    const std::string buffer = RandomBytes(4096, 3);
    int writes = 0;
    for (const auto& [blockSize, delay, answers, pauses] : cases) {
        SCOPED_TRACE("Blocksize " + std::to_string(blockSize));
        std::size_t asked = 0;
        std::string calls;
        ExchangeHooks hooks;
        hooks.portCall = [&](PortCall call, std::uint32_t n) {
            calls += call == PortCall::Write   ? (n == 1 ? "w" : "W" + std::to_string(n))
                     : call == PortCall::Pause ? "p" + std::to_string(n) + " "
                                               : "d";
        };
        hooks.delay = [&] { return asked < answers.size() ? answers[asked++] : std::nullopt; };
        hooks.afterBlock = [&](int p) { calls += "b" + std::to_string(p); };
        bool requested = false;  // the events while the line is awaited are not the write's
        hooks.requestSent = [&] { requested = true; };
        hooks.processEvents = [&] { calls += requested ? "e\n" : ""; };
        const auto start = Clock::now();
        const WriteOutcome outcome = WriteKeyBuffer(buffer, blockSize, delay, hooks);
        const double seconds = SecondsSince(start);
        ASSERT_EQ(outcome.status, ExchangeStatus::Done);

        double pausedMs = 0;
        auto next = [&, pause = std::size_t{0}]() mutable {
            const std::uint32_t ms = pause < pauses.size() ? pauses[pause++] : delay;
            pausedMs += ms;
            return "dp" + std::to_string(ms) + " ";
        };
        std::string expected = "w" + next();
        for (int p = 1; p <= 4096; p += blockSize)
            expected += std::string(std::min(blockSize, 4097 - p), 'w') + "b" + std::to_string(p) +
                        next() + "e\n";
        EXPECT_EQ(calls, expected);
        EXPECT_GE(seconds * 1000, pausedMs);
        EXPECT_EQ(outcome.bytesSent, 4096);
        EXPECT_EQ(outcome.blocks, (4095 + blockSize) / blockSize);
        ASSERT_TRUE(WaitForWrites(++writes));
        EXPECT_EQ(device_->Buffer(), buffer);
    }
}

// What the device sends is drained: the answer to a stray read request
// waiting before the write, and a device that answers during the write, so
// that a read on the same port gets exactly the new buffer.
TEST_F(Exchange, WriteDrainsWhatTheDeviceSends) {
    Start({"short:200"});
    ASSERT_NE(SendString(kRead), 0);
    ASSERT_TRUE(Eventually([] { return InQueueCount() >= 200; }));
    const std::string buffer = RandomBytes(4096, 10);
    int waitingAfterBlock = -1;
    ExchangeHooks hooks;
    hooks.afterBlock = [&](int) { waitingAfterBlock = InQueueCount(); };
    ASSERT_EQ(WriteKeyBuffer(buffer, 4096, 0, hooks).status, ExchangeStatus::Done);
    EXPECT_EQ(waitingAfterBlock, 0);  // drained before the blocks
    ASSERT_TRUE(WaitForWrites(1));
    EXPECT_EQ(device_->Buffer(), buffer);

    // The device's answer to the last byte may reach the port a moment after
    // the last pause, so the last event processing waits until all 256 (one
    // per 16 bytes) are in: the final drain is what is checked, not the
    // device's pace.
    ASSERT_NO_FATAL_FAILURE(Start({"chatter"}));
    const std::string next = RandomBytes(4096, 6);
    Probe log;
    hooks = log.Hooks();
    hooks.processEvents = [&] {
        EXPECT_TRUE(log.blocks < 64 || Eventually([] { return InQueueCount() >= 256; }));
    };
    ASSERT_EQ(WriteKeyBuffer(next, 64, 2, hooks).status, ExchangeStatus::Done);
    ASSERT_TRUE(WaitForWrites(1));
    EXPECT_EQ(device_->Buffer(), next);
    EXPECT_EQ(InQueueCount(), 0);
    const ReadOutcome read = ReadKeyBuffer({});
    ASSERT_EQ(read.status, ExchangeStatus::Done);
    EXPECT_EQ(read.keyBuffer, next);
}

// A device that drops what comes while it answers still gets a write right
// after a cut read: the write waits for the rest of the answer to pass.
// (That a device slow to store answers a read-back that waits for it is
// vantri-key's test; that a write cut after its request leaves the device
// waiting for the rest, mixed into the next write, is the device's own.)
TEST_F(Exchange, WritesAfterACutExchange) {
    const std::string buffer = RandomBytes(KeyBufferSize, 42);
    ASSERT_NO_FATAL_FAILURE(Start({"busy-drop"}, Paced()));
    Probe cutRead{500};
    EXPECT_EQ(ReadKeyBuffer(cutRead.Hooks()).status, ExchangeStatus::Cancelled);
    ASSERT_NO_FATAL_FAILURE(Reopen());
    EXPECT_EQ(WriteKeyBuffer(buffer, 16, 0, {}).status, ExchangeStatus::Done);
    EXPECT_TRUE(WaitForWrites(1));
    EXPECT_EQ(device_->Buffer(), buffer);
}

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
    const std::string next = RandomBytes(4096, 1);
    const std::string requests = std::string(2048, kRead[0]) + std::string(2048, kWrite[0]);
    // An answer far larger than the pty holds keeps the device busy until the
    // client reads it, so all that the client sends meanwhile arrives while
    // it is busy.
    std::string huge = BinToHex(first);
    for (std::size_t i = 0; i < 1000000; ++i)
        huge.push_back(huge[i % 8192]);
    const std::string filler(sim::ReceiveBufferSize, '\x07');
    // What it shows, the faults, what the client sends, every character sent
    // back, the buffers stored, the least seconds, the line rate.
    using Row = std::tuple<const char*, std::vector<std::string>, std::string, std::string, int,
                           double, std::uint32_t>;
    const Row cases[] = {
        // clang-format off
        {"a write during an answer", {}, kRead + kWrite + next + kRead, BinToHex(first + next), 1, 0, 0},
        {"busy-drop: the second request is lost", {"busy-drop"}, kRead + kRead, BinToHex(first), 0, 0, 0},
        // 16 handovers, 15 gaps.
        {"burst: the answer in chunks", {"burst:512:20"}, kRead, BinToHex(first), 0, 0.3, 0},
        {"a request beyond the receive buffer", {"extra:1000000"}, kRead + filler + kRead, huge, 0, 0, 0},
        {"request bytes as data after 0x06", {}, kWrite + requests + kRead, BinToHex(requests), 1, 0, 0},
        {"a stall at the line rate", {"stall:4000:300"}, kRead, BinToHex(first), 0, 0.3, 115200},
        {"the same in bursts", {"stall:4000:300", "burst:256:16"}, kRead, BinToHex(first), 0, 0.3, 115200},
        // clang-format on
    };
    for (unsigned variant = 0;
         const auto& [name, faults, sent, answer, writes, minSeconds, lineRate] : cases) {
        SCOPED_TRACE(name);
        sim::Options options;
        options.lineRate = lineRate;
        ASSERT_NO_FATAL_FAILURE(Start(faults, options));
        const auto start = Clock::now();
        ASSERT_NO_FATAL_FAILURE(Send(sent));
        double ahead = 0;  // the most characters beyond what the line could carry
        const auto paced = [&](std::size_t count) {
            const double quiet = count > 4000 ? 0.3 : 0;
            if (lineRate != 0)
                ahead =
                    std::max(ahead, count - lineRate / 10.0 * (SecondsSince(start) - quiet) - 1);
        };
        EXPECT_TRUE(Receive(answer.size(), lineRate != 0 ? 64 : 8192, paced) == answer);
        EXPECT_LE(ahead, 0);
        EXPECT_GE(SecondsSince(start), minSeconds);
        EXPECT_EQ(device_->WritesCompleted(), writes);
        const std::string marker = RandomBytes(4096, 1000 + ++variant);
        ASSERT_NO_FATAL_FAILURE(Send(kWrite + marker + kRead));
        EXPECT_TRUE(Receive(8192) == BinToHex(marker));
    }
}

// A link is taken over from a simulator that was killed (its link and lock
// file stay behind, its lock does not) or that kept no lock file; a line
// that hangs up takes its link along at once (the kernel may give its pty
// to the next program that asks), freeing the name for the next simulator.
// (A live simulator's link is refused: vantri-devsim's own test shows that.)
// Meanwhile the device records and logs the line settings its clients set,
// with no byte sent: another program's first, then the exchanges' (a client
// may pass through other settings on its way, and those are logged too).
TEST_F(Device, ALinkLastsAsLongAsItsLineAndRecordsTheSettingsSetOnIt) {
    TempDir dir;
    sim::Options options;
    options.link = (dir / "port").string();
    options.logFile = dir / "device.log";
    fs::create_symlink("/dev/pts/999999", options.link);
    WriteFile(options.link + ".lock", "999999");
    ASSERT_NO_FATAL_FAILURE(Start({"hangup:1"}, options, false));
    ASSERT_EQ(fs::read_symlink(options.link), device_->PortPath());
    ASSERT_TRUE(fs::exists(options.link + ".lock"));

    const int fd = ::open(device_->PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    cfsetospeed(&t, B9600);
    t.c_cflag |= CSTOPB;
    t.c_iflag = (t.c_iflag & ~static_cast<tcflag_t>(IXON)) | IXOFF;
    EXPECT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    ::close(fd);
    const auto logged = [&](const std::string& settings) {
        return Eventually([&] {
            return ReadFile(options.logFile).find(" event line settings: " + settings + "\n") !=
                   std::string::npos;
        });
    };
    EXPECT_TRUE(logged("9600 8N2, flow control IXOFF")) << ReadFile(options.logFile);
    ASSERT_NO_FATAL_FAILURE(Reopen());
    EXPECT_TRUE(logged("115200 8N1, no flow control")) << ReadFile(options.logFile);
    EXPECT_TRUE(device_->LastLineSettings() == (sim::LineSettings{115200, 8, 1, 'N'}));

    ASSERT_NO_FATAL_FAILURE(Send(kRead));
    EXPECT_TRUE(Eventually([&] {
        std::error_code ec;
        return !fs::exists(fs::symlink_status(options.link, ec)) &&
               !fs::exists(options.link + ".lock", ec);
    }));
    EXPECT_TRUE(device_->HungUp());
    fs::create_symlink("/dev/pts/999999", options.link);  // and no lock file
    ASSERT_NO_FATAL_FAILURE(Start({}, options, false));   // while the first still runs
    EXPECT_EQ(fs::read_symlink(options.link), device_->PortPath());
}

}  // namespace
}  // namespace vantri
