// A command cut at any point, then the next one at once, against a device
// that handles what it receives in order, as firmware with a receive buffer
// does: it finishes an answer nobody reads any more, answers a request that
// came meanwhile afterwards, and takes the 4096 bytes after 0x06 as its
// buffer whatever they are.  The second command is right or a clear
// failure; never a wrong key buffer reported as done.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "image/hexfileHandle.h"
#include "serial/exchange.h"
#include "serial/zrkCommModule.h"
#include "sim/devsim.h"
#include "tests/common/files.h"
#include "tests/common/sim_device.h"

namespace vantri {
namespace {

using test::Eventually;
using test::RandomBytes;

constexpr std::uint32_t LineRate = 115200;  // an answer takes 0.71 s, as on a real line

class Sequence : public ::testing::Test {
  protected:
    void Start(std::string_view fault = {}) {
        std::string error;
        device_ = StartSimDevice(fault, RandomBytes(KeyBufferSize, 40), LineRate, error);
        ASSERT_NE(device_, nullptr) << error;
        Reopen();
    }
    // Each command opens the port afresh, as the window and the CLI do.
    void Reopen(std::uint32_t answerTimeoutMs = DeviceAnswerTimeoutMs) {
        CloseComPort();
        ASSERT_EQ(OpenExchangePort(PortSetting{false, 0, device_->PortPath()}, answerTimeoutMs), 0);
    }
    void TearDown() override { CloseComPort(); }

    // A read that is right, or fails without a key buffer.
    static void ExpectRightOrRefused(const ReadOutcome& read, const std::string& buffer) {
        if (read.status == ExchangeStatus::Done) {
            EXPECT_EQ(read.keyBuffer, buffer);
        } else {
            EXPECT_TRUE(read.keyBuffer.empty());
        }
    }

    std::unique_ptr<sim::Simulator> device_;
};

// A read cut anywhere in the answer: the device goes on answering, and the
// next read at once waits for it to finish before it asks.
TEST_F(Sequence, AReadCutAnywhereThenARead) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::string buffer = device_->Buffer();
    for (const int cutAfter : {1, 700, 2048, 3500, 4095}) {
        SCOPED_TRACE("cut after read " + std::to_string(cutAfter));
        int reads = 0;
        ExchangeHooks cut;
        cut.afterRead = [&](int k) { reads = k; };
        cut.cancelled = [&] { return reads >= cutAfter; };
        EXPECT_EQ(ReadKeyBuffer(cut).status, ExchangeStatus::Cancelled);
        ASSERT_NO_FATAL_FAILURE(Reopen());
        const ReadOutcome next = ReadKeyBuffer({});
        EXPECT_EQ(next.status, ExchangeStatus::Done);
        EXPECT_EQ(next.keyBuffer, buffer);
    }
}

// A read cut in an answer that pauses: the device resumes later, and at the
// same place in every answer, so a read at once would end exactly at the
// next pause with the rest of the old answer in front.  Let the cut answer
// end (all of its 8192 characters, the pause included), and the next read
// is right.
TEST_F(Sequence, AReadCutInAPauseIsLetEndBeforeTheNext) {
    ASSERT_NO_FATAL_FAILURE(Start("stall:4000:1500"));
    const std::string buffer = device_->Buffer();
    int reads = 0;
    ExchangeHooks cut;
    cut.afterRead = [&](int k) { reads = k; };
    // Cut while the first half is still on the line: the rest of it comes
    // before the pause, then nothing for 1.5 s, then the second half.
    cut.cancelled = [&] { return reads >= 1000; };
    const ReadOutcome first = ReadKeyBuffer(cut);
    EXPECT_EQ(first.status, ExchangeStatus::Cancelled);
    EXPECT_TRUE(first.requestSent);
    EXPECT_EQ(LetAnswerEnd({}, first), ExchangeStatus::Done);
    ASSERT_NO_FATAL_FAILURE(Reopen());
    const ReadOutcome next = ReadKeyBuffer({});
    EXPECT_EQ(next.status, ExchangeStatus::Done);
    EXPECT_EQ(next.keyBuffer, buffer);
}

// Answers that do not end where they should, read twice in a row: a pause
// longer than a read waits (the read gives up, the device resumes later), a
// device that answers twice, an answer with trailing hex, an answer handed
// over in bursts.  Each read, and the one right after it, is right or
// refused.
TEST_F(Sequence, MisbehavingAnswersAreNeverTakenForABuffer) {
    struct Case {
        const char* fault;
        ExchangeStatus first;  // of a read on an idle device
    };
    const Case cases[] = {
        {"stall:4000:2500", ExchangeStatus::Incomplete},
        {"double", ExchangeStatus::Overlong},
        {"extra:1", ExchangeStatus::Overlong},
        {"burst:62:16", ExchangeStatus::Done},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        ASSERT_NO_FATAL_FAILURE(Start(c.fault));
        const std::string buffer = device_->Buffer();
        const ReadOutcome first = ReadKeyBuffer({});
        EXPECT_EQ(first.status, c.first);
        ExpectRightOrRefused(first, buffer);
        ASSERT_NO_FATAL_FAILURE(Reopen());
        ExpectRightOrRefused(ReadKeyBuffer({}), buffer);
    }
}

// A write cut after its request leaves the device waiting for the rest: the
// next write is mixed into it, which only a read-back shows.  A device that
// drops what comes while it answers still gets a write right after a cut
// read.  A device slow to store answers a read-back that waits for it.
TEST_F(Sequence, WritesAfterACutExchange) {
    const std::string first = RandomBytes(KeyBufferSize, 41);
    const std::string second = RandomBytes(KeyBufferSize, 42);

    ASSERT_NO_FATAL_FAILURE(Start());
    int blocks = 0;
    ExchangeHooks cut;
    cut.afterBlock = [&](int) { ++blocks; };
    cut.cancelled = [&] { return blocks >= 20; };
    const WriteOutcome abandoned = WriteKeyBuffer(first, 16, 0, cut);
    EXPECT_EQ(abandoned.status, ExchangeStatus::Cancelled);
    EXPECT_TRUE(abandoned.requestSent);
    // On the wire before the port closes (the close drops what is still queued).
    ASSERT_TRUE(Eventually([&] { return device_->ReceivedBytes().size() >= 1 + 320; }));
    ASSERT_NO_FATAL_FAILURE(Reopen());
    EXPECT_EQ(WriteKeyBuffer(second, 16, 0, {}).status, ExchangeStatus::Done);
    ASSERT_NO_FATAL_FAILURE(Reopen(StoreAnswerTimeoutMs));
    const ReadOutcome back = ReadKeyBuffer({});
    EXPECT_FALSE(back.status == ExchangeStatus::Done && back.keyBuffer == second);

    ASSERT_NO_FATAL_FAILURE(Start("busy-drop"));
    int reads = 0;
    ExchangeHooks cutRead;
    cutRead.afterRead = [&](int k) { reads = k; };
    cutRead.cancelled = [&] { return reads >= 500; };
    EXPECT_EQ(ReadKeyBuffer(cutRead).status, ExchangeStatus::Cancelled);
    ASSERT_NO_FATAL_FAILURE(Reopen());
    EXPECT_EQ(WriteKeyBuffer(second, 16, 0, {}).status, ExchangeStatus::Done);
    EXPECT_TRUE(Eventually([&] { return device_->WritesCompleted() == 1; }));
    EXPECT_EQ(device_->Buffer(), second);

    ASSERT_NO_FATAL_FAILURE(Start("slow-store:2300"));
    EXPECT_EQ(WriteKeyBuffer(first, 16, 0, {}).status, ExchangeStatus::Done);
    ASSERT_NO_FATAL_FAILURE(Reopen(StoreAnswerTimeoutMs));
    const ReadOutcome stored = ReadKeyBuffer({});
    EXPECT_EQ(stored.status, ExchangeStatus::Done);
    EXPECT_EQ(stored.keyBuffer, first);
}

}  // namespace
}  // namespace vantri
