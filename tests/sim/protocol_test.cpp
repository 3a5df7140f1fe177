// The device's protocol and the exact shape of each fault, as a client sees
// them over the real pty.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "sim/devsim.h"
#include "tests/sim/client.h"

namespace vantri::sim::test {
namespace {

class DevsimProtocol : public ::testing::Test {
  protected:
    // Starts a device with `options` and `faults` and opens a client on it.
    bool Begin(Options options = {}, const std::vector<std::string_view>& faults = {}) {
        client_.reset();
        sim_.reset();
        std::string error;
        for (const std::string_view text : faults) {
            const std::optional<Fault> fault = ParseFault(text, error);
            EXPECT_TRUE(fault.has_value()) << error;
            options.faults.push_back(fault.value_or(Fault{}));
        }
        sim_ = Simulator::Start(options, error);
        EXPECT_NE(sim_, nullptr) << error;
        return sim_ != nullptr && client_.emplace(sim_->PortPath()).IsOpen();
    }
    bool AwaitWrites(int count) {
        return Eventually([&] { return sim_->WritesCompleted() == count; });
    }
    std::unique_ptr<Simulator> sim_;
    std::optional<Client> client_;
};
using DevsimFaults = DevsimProtocol;

TEST_F(DevsimProtocol, ReadRequestIsAnsweredWithTheBufferAsHexOtherBytesAreIgnored) {
    ASSERT_TRUE(Begin());
    EXPECT_EQ(sim_->PortPath().rfind("/dev/pts/", 0), 0u) << sim_->PortPath();
    ASSERT_TRUE(client_->Send(std::string("\x00\x41\xFF\x0D\x0A\x04\x07", 7)));
    EXPECT_EQ(client_->Read(1, milliseconds(150)), "");

    ASSERT_TRUE(client_->Send("\x05"));
    const std::string answer = client_->Read(8192, milliseconds(500));
    EXPECT_EQ(answer.substr(0, 8), "030A1118");
    EXPECT_EQ(answer, DefaultHex());
    EXPECT_EQ(client_->Read(1, milliseconds(100)), "") << "nothing after the 8192 characters";
    EXPECT_EQ(sim_->ReadsAnswered(), 1);
}

TEST_F(DevsimProtocol, WriteReplacesTheBufferSavesItAndALaterReadReturnsIt) {
    TempDir dir;
    Options options;
    options.saveFile = dir.Path() / "saved.bin";
    ASSERT_TRUE(Begin(options));
    const std::string data = PatternBuffer();
    ASSERT_TRUE(client_->Send("\x06" + data));
    ASSERT_TRUE(AwaitWrites(1));
    client_.emplace(sim_->PortPath());  // the next session reads it back
    EXPECT_TRUE(sim_->Buffer() == data);
    EXPECT_TRUE(FileText(options.saveFile) == data) << FileText(options.saveFile).size();
    ASSERT_TRUE(client_->Send("\x05"));
    EXPECT_EQ(client_->Read(8192, milliseconds(500)), ExpectedHex(data));
    EXPECT_EQ(sim_->WritesCompleted(), 1);
}

TEST_F(DevsimProtocol, SurvivesThePortBeingOpenedAndClosedManyTimes) {
    ASSERT_TRUE(Begin());
    client_.reset();
    for (int i = 0; i < 100; ++i) {
        Client client(sim_->PortPath());
        ASSERT_TRUE(client.IsOpen()) << "open " << i;
        if (i % 20 == 0) {
            ASSERT_TRUE(client.Send("\x05"));
            ASSERT_EQ(client.Read(8192, milliseconds(500)), DefaultHex()) << "session " << i;
        }
    }
    // A client that leaves with the answer half read: the next one flushes
    // the rest at open and gets a whole answer of its own.
    client_.emplace(sim_->PortPath());
    ASSERT_TRUE(client_->Send("\x05"));
    EXPECT_EQ(client_->Read(10, milliseconds(500)).size(), 10u);
    client_.emplace(sim_->PortPath());
    ASSERT_TRUE(client_->Send("\x05"));
    EXPECT_EQ(client_->Read(8192, milliseconds(500)), DefaultHex());
    EXPECT_EQ(sim_->ReadsAnswered(), 7);
}

TEST_F(DevsimProtocol, AWriteLeftHalfWayIsAbandonedAfterTheIdleLimit) {
    Options options;
    options.writeIdleLimit = milliseconds(100);
    ASSERT_TRUE(Begin(options));
    ASSERT_TRUE(client_->Send("\x06" + std::string(100, '\x01')));
    std::this_thread::sleep_for(milliseconds(250));
    // Taken as a read request again, not as byte 101 of the write.
    ASSERT_TRUE(client_->Send("\x05"));
    EXPECT_EQ(client_->Read(8192, milliseconds(500)), DefaultHex());
    EXPECT_EQ(sim_->WritesCompleted(), 0);
}

TEST_F(DevsimProtocol, KeepsReceivingWhileItsAnswerIsBlocked) {
    // An answer far larger than the pty holds, which the client does not
    // read: the device must still take a whole write meanwhile.
    ASSERT_TRUE(Begin({}, {"extra:1048576"}));
    ASSERT_TRUE(client_->Send("\x05"));
    std::this_thread::sleep_for(milliseconds(50));
    ASSERT_TRUE(client_->Send("\x06" + PatternBuffer()));
    EXPECT_TRUE(AwaitWrites(1));
    EXPECT_TRUE(sim_->Buffer() == PatternBuffer());
}

TEST_F(DevsimProtocol, LineRatePacesTheAnswerEvenlyAndStopCutsItShort) {
    Options options;
    options.lineRate = 9600;  // 960 characters a second: 8.5 s for a whole answer
    ASSERT_TRUE(Begin(options));
    ASSERT_TRUE(client_->Send("\x05"));
    const Clock::time_point start = Clock::now();
    std::vector<Clock::time_point> times;
    ASSERT_EQ(client_->Read(1000, milliseconds(500), &times), DefaultHex().substr(0, 1000));
    const auto seconds = [&](std::size_t i) {
        return std::chrono::duration<double>(times[i] - start).count();
    };
    // Evenly, never ahead of the line: character i not before i / 960 s
    // (less a little for the first one's own time).  A busy machine may
    // only make it later, so the upper bound is wide: the rate is not
    // ignored or divided.
    for (const std::size_t i : {99u, 499u, 999u}) {
        EXPECT_GT(seconds(i), i / 960.0 - 0.01) << i;
    }
    EXPECT_LT(seconds(999), 3 * 1000 / 960.0);
    const Clock::time_point stop = Clock::now();
    sim_.reset();
    EXPECT_LT(Clock::now() - stop, milliseconds(5000)) << "stopping cuts the answer short";
}

std::string WithG(std::string text, std::initializer_list<std::size_t> at) {
    for (const std::size_t i : at) {
        text[i] = 'G';
    }
    return text;
}

// Every answer takes the fault's shape, not just the first, and no fault of
// the answer disturbs a write.
TEST_F(DevsimFaults, AnswerShapes) {
    const struct {
        std::vector<std::string_view> faults;
        std::string answer;  // what comes first
        std::size_t extra;   // hex characters that follow it
    } cases[] = {
        {{"silent"}, "", 0},
        {{"short:101"}, DefaultHex().substr(0, 101), 0},
        {{"garbage:0", "garbage:8191"}, WithG(DefaultHex(), {0, 8191}), 0},
        {{"extra:10"}, DefaultHex(), 10},
        {{"garbage:50", "short:100", "extra:4"}, WithG(DefaultHex().substr(0, 100), {50}), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults.front());
        ASSERT_TRUE(Begin({}, c.faults));
        for (int k = 0; k < 2; ++k) {
            ASSERT_TRUE(client_->Send("\x05"));
            // All that should come, however long a busy machine takes to
            // send it, then nothing more.
            const std::string got = client_->Read(c.answer.size() + c.extra, milliseconds(5000));
            ASSERT_EQ(got.size(), c.answer.size() + c.extra);
            EXPECT_EQ(client_->Read(1, milliseconds(150)), "");
            EXPECT_EQ(got.substr(0, c.answer.size()), c.answer);
            EXPECT_EQ(got.find_first_not_of("0123456789ABCDEF", c.answer.size()),
                      std::string::npos);
        }
        EXPECT_EQ(sim_->ReadsAnswered(), c.answer.empty() ? 0 : 2);
        ASSERT_TRUE(client_->Send("\x06" + PatternBuffer()));
        EXPECT_TRUE(AwaitWrites(1));
        EXPECT_TRUE(sim_->Buffer() == PatternBuffer());
    }
}

TEST_F(DevsimFaults, StallPausesOnceAfterTheFirstCharactersThenSendsTheRest) {
    ASSERT_TRUE(Begin({}, {"stall:1000:300"}));
    ASSERT_TRUE(client_->Send("\x05"));
    std::vector<Clock::time_point> t;
    ASSERT_EQ(client_->Read(8192, milliseconds(1000), &t), DefaultHex());
    EXPECT_GE(t[1000] - t[999], milliseconds(250));
    EXPECT_LT(t[1000] - t[999], milliseconds(1000));
    EXPECT_LT(t[999] - t[0], milliseconds(200));
    EXPECT_LT(t[8191] - t[1000], milliseconds(200));
}

// Hang-up counts bytes crossing either way; then the port is gone for good.
TEST_F(DevsimFaults, HangupAfterExactlyNBytes) {
    ASSERT_TRUE(Begin({}, {"hangup:101"}));
    ASSERT_TRUE(client_->Send("\x05"));
    // 1 byte in, 100 out: then the line is dead.
    EXPECT_EQ(client_->Read(8192, milliseconds(500)), DefaultHex().substr(0, 100));
    EXPECT_TRUE(client_->HungUp());
    EXPECT_FALSE(client_->Send("\x05")) << "a write on a hung-up line fails";
    EXPECT_TRUE(sim_->HungUp());
    client_.reset();
    EXPECT_FALSE(Client(sim_->PortPath()).IsOpen());
    sim_->Stop();  // and still stops cleanly
    EXPECT_EQ(sim_->ReceivedBytes().size(), 1u);

    ASSERT_TRUE(Begin({}, {"hangup:50"}));
    ASSERT_TRUE(client_->Send("\x06" + PatternBuffer().substr(0, 100)));
    EXPECT_EQ(client_->Read(1, milliseconds(500)), "");
    EXPECT_TRUE(client_->HungUp());
    EXPECT_TRUE(sim_->HungUp());
    EXPECT_EQ(sim_->ReceivedBytes().size(), 50u) << "the 0x06 among them, and not one more";
    EXPECT_EQ(sim_->WritesCompleted(), 0);
}

TEST_F(DevsimFaults, ChatterSendsAByteForEvery16ReceivedDuringAWrite) {
    ASSERT_TRUE(Begin({}, {"chatter"}));
    ASSERT_TRUE(client_->Send(std::string(32, 'x')));
    EXPECT_EQ(client_->Read(1, milliseconds(100)), "") << "none outside a write";
    const std::string data = PatternBuffer();
    ASSERT_TRUE(client_->Send("\x06" + data.substr(0, 15)));
    EXPECT_EQ(client_->Read(1, milliseconds(100)), "");
    ASSERT_TRUE(client_->Send(data.substr(15, 1)));
    EXPECT_EQ(client_->Read(2, milliseconds(100)).size(), 1u);
    ASSERT_TRUE(client_->Send(data.substr(16)));
    EXPECT_EQ(client_->Read(1000, milliseconds(150)).size(), 255u);
    EXPECT_EQ(sim_->WritesCompleted(), 1);
    EXPECT_TRUE(sim_->Buffer() == data) << "chatter does not disturb the write";
}

TEST(DevsimFaultText, ReadsTheModesAndRefusesAnythingElse) {
    std::string error;
    const auto stall = ParseFault("stall:12:345", error);
    ASSERT_TRUE(stall.has_value()) << error;
    EXPECT_EQ(stall->kind, Fault::Kind::Stall);
    EXPECT_EQ(stall->n, 12u);
    EXPECT_EQ(stall->ms, 345u);
    EXPECT_EQ(ParseFault("hangup:4294967295", error)->n, 4294967295u);
    for (const char* text : {"", "loud", "silent:1", "short", "short:", "short:-1", "short:1x",
                             "short: 1", "stall:5", "stall:5:", "stall:5:x", "garbage:1:2",
                             "extra:99999999999", "hangup:0x10", "chatter:16", "SHORT:1"}) {
        EXPECT_FALSE(ParseFault(text, error).has_value()) << text;
        EXPECT_NE(error.find("--fault"), std::string::npos) << text << ": " << error;
    }
    // Start refuses what cannot be served; extra characters lengthen the
    // answer, and so the room for other faults.
    Options options;
    options.faults = {{Fault::Kind::Garbage, 8192, 0}};
    EXPECT_EQ(Simulator::Start(options, error), nullptr);
    EXPECT_NE(error.find("--fault"), std::string::npos) << error;
    options.faults = {{Fault::Kind::Extra, 8, 0}, {Fault::Kind::Garbage, 8199, 0}};
    EXPECT_EQ(CheckOptions(options), "");
}

}  // namespace
}  // namespace vantri::sim::test
