// Each fault mode as a client meets it over the real pty, and the reading
// and checking of fault texts and options.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "sim/devsim.h"
#include "tests/sim/client.h"

namespace vantri::sim::test {
namespace {

std::unique_ptr<Simulator> StartWith(std::initializer_list<std::string_view> faults) {
    Options options;
    for (const std::string_view text : faults) {
        std::string error;
        std::optional<Fault> fault = ParseFault(text, error);
        EXPECT_TRUE(fault.has_value()) << error;
        if (fault) {
            options.faults.push_back(*fault);
        }
    }
    std::string error;
    std::unique_ptr<Simulator> sim = Simulator::Start(options, error);
    EXPECT_NE(sim, nullptr) << error;
    return sim;
}

const std::string& Expected() {
    static const std::string hex = ExpectedHex(ExpectedDefaultBuffer());
    return hex;
}

TEST(DevsimFaults, SilentNeverAnswersButStillTakesAWrite) {
    auto sim = StartWith({"silent"});
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x05"));
    EXPECT_EQ(client.Read(1, milliseconds(300)), "");
    EXPECT_EQ(sim->ReadsAnswered(), 0);

    const std::string data = PatternBuffer();
    ASSERT_TRUE(client.Send("\x06" + data));
    for (int i = 0; i < 100 && sim->WritesCompleted() == 0; ++i) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    EXPECT_TRUE(sim->Buffer() == data);
}

TEST(DevsimFaults, ShortSendsOnlyTheFirstCharacters) {
    auto sim = StartWith({"short:101"});
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x05"));
    EXPECT_EQ(client.Read(8192, milliseconds(150)), Expected().substr(0, 101));
    // Every answer is cut, not just the first.
    ASSERT_TRUE(client.Send("\x05"));
    EXPECT_EQ(client.Read(8192, milliseconds(150)).size(), 101u);
    EXPECT_EQ(sim->ReadsAnswered(), 2);
}

TEST(DevsimFaults, StallPausesAfterTheFirstCharactersThenSendsTheRest) {
    auto sim = StartWith({"stall:1000:300"});
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x05"));
    std::vector<Clock::time_point> times;
    const std::string answer = client.Read(8192, milliseconds(1000), milliseconds(3000), &times);
    ASSERT_EQ(answer, Expected());
    const auto pause = times[1000] - times[999];
    EXPECT_GE(pause, milliseconds(250));
    EXPECT_LT(pause, milliseconds(1000));
    // No other pause of note: the stall is the only one.
    EXPECT_LT(times[999] - times[0], milliseconds(200));
    EXPECT_LT(times[8191] - times[1000], milliseconds(200));
}

TEST(DevsimFaults, GarbageReplacesOneCharacterWithG) {
    auto sim = StartWith({"garbage:0", "garbage:8191"});
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x05"));
    std::string expected = Expected();
    expected.front() = 'G';
    expected.back() = 'G';
    EXPECT_EQ(client.Read(8192, milliseconds(300)), expected);
}

TEST(DevsimFaults, ExtraAddsHexCharactersAfterTheAnswer) {
    auto sim = StartWith({"extra:10"});
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x05"));
    const std::string answer = client.Read(9000, milliseconds(150));
    ASSERT_EQ(answer.size(), 8202u);
    EXPECT_EQ(answer.substr(0, 8192), Expected());
    EXPECT_EQ(answer.find_first_not_of("0123456789ABCDEF"), std::string::npos);
}

TEST(DevsimFaults, FaultsCombine) {
    auto sim = StartWith({"garbage:50", "short:100", "extra:4"});
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x05"));
    std::string expected = Expected().substr(0, 100);
    expected[50] = 'G';
    EXPECT_EQ(client.Read(9000, milliseconds(150)), expected);
}

TEST(DevsimFaults, HangupInTheMiddleOfAnAnswerIsSeenByTheClient) {
    auto sim = StartWith({"hangup:101"});
    ASSERT_NE(sim, nullptr);
    const std::string port = sim->PortPath();
    Client client(port);
    ASSERT_TRUE(client.Send("\x05"));
    // 1 byte in, 100 out: then the line is dead.
    EXPECT_EQ(client.Read(8192, milliseconds(300)), Expected().substr(0, 100));
    EXPECT_TRUE(client.WaitHangup(milliseconds(500)));
    EXPECT_FALSE(client.Send("\x05")) << "a write on a hung-up line fails";
    EXPECT_TRUE(sim->HungUp());
    client.Close();
    // The port is gone for good, and the simulator still stops cleanly.
    Client again(port);
    EXPECT_FALSE(again.IsOpen());
    sim->Stop();
    EXPECT_EQ(sim->ReceivedBytes().size(), 1u);
}

TEST(DevsimFaults, HangupCountsBytesReceivedDuringAWrite) {
    auto sim = StartWith({"hangup:50"});
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x06" + PatternBuffer().substr(0, 100)));
    EXPECT_TRUE(client.WaitHangup(milliseconds(500)));
    EXPECT_FALSE(client.Send("\x11")) << "a write on a hung-up line fails";
    EXPECT_TRUE(sim->HungUp());
    // The device took 50 bytes, the 0x06 among them, and not one more.
    EXPECT_EQ(sim->ReceivedBytes().size(), 50u);
    EXPECT_EQ(sim->WritesCompleted(), 0);
}

TEST(DevsimFaults, ChatterSendsAByteForEvery16ReceivedDuringAWrite) {
    auto sim = StartWith({"chatter"});
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    // Bytes outside a write bring no chatter.
    ASSERT_TRUE(client.Send(std::string(32, 'x')));
    EXPECT_EQ(client.Read(1, milliseconds(100)), "");

    ASSERT_TRUE(client.Send("\x06"));
    const std::string data = PatternBuffer();
    ASSERT_TRUE(client.Send(data.substr(0, 15)));
    EXPECT_EQ(client.Read(1, milliseconds(100)), "");
    ASSERT_TRUE(client.Send(data.substr(15, 1)));
    EXPECT_EQ(client.Read(2, milliseconds(100)).size(), 1u);
    ASSERT_TRUE(client.Send(data.substr(16)));
    EXPECT_EQ(client.Read(1000, milliseconds(150)).size(), 255u);
    EXPECT_EQ(sim->WritesCompleted(), 1);
    EXPECT_TRUE(sim->Buffer() == data) << "chatter does not disturb the write";
}

TEST(DevsimFaultText, ReadsEveryMode) {
    std::string error;
    const auto stall = ParseFault("stall:12:345", error);
    ASSERT_TRUE(stall.has_value()) << error;
    EXPECT_EQ(stall->kind, Fault::Kind::Stall);
    EXPECT_EQ(stall->n, 12u);
    EXPECT_EQ(stall->ms, 345u);
    EXPECT_EQ(ParseFault("silent", error)->kind, Fault::Kind::Silent);
    EXPECT_EQ(ParseFault("chatter", error)->kind, Fault::Kind::Chatter);
    EXPECT_EQ(ParseFault("short:0", error)->kind, Fault::Kind::Short);
    EXPECT_EQ(ParseFault("garbage:8191", error)->n, 8191u);
    EXPECT_EQ(ParseFault("extra:7", error)->kind, Fault::Kind::Extra);
    EXPECT_EQ(ParseFault("hangup:4294967295", error)->n, 4294967295u);
}

TEST(DevsimFaultText, RefusesWhatItCannotRead) {
    for (const char* text : {"", "loud", "silent:1", "short", "short:", "short:-1", "short:1x",
                             "short: 1", "stall:5", "stall:5:", "stall:5:x", "garbage:1:2",
                             "extra:99999999999", "hangup:0x10", "chatter:16", "SHORT:1"}) {
        std::string error;
        EXPECT_FALSE(ParseFault(text, error).has_value()) << text;
        EXPECT_NE(error.find("--fault"), std::string::npos) << text << ": " << error;
    }
}

TEST(DevsimOptions, RefusesOptionsThatCannotWork) {
    const auto check = [](auto change, const char* mentions) {
        Options options;
        change(options);
        const std::string problem = CheckOptions(options);
        EXPECT_NE(problem.find(mentions), std::string::npos) << mentions << ": " << problem;
        std::string error;
        EXPECT_EQ(Simulator::Start(options, error), nullptr);
        EXPECT_EQ(error, problem);
    };
    check([](Options& o) { o.buffer = std::string(4095, 'a'); }, "--buffer");
    check([](Options& o) { o.lineRate = 10; }, "--line-rate");
    check([](Options& o) { o.faults.push_back({Fault::Kind::Garbage, 8192, 0}); }, "--fault");
    check([](Options& o) { o.faults.push_back({Fault::Kind::Stall, 9000, 5}); }, "--fault");
    check([](Options& o) { o.faults.push_back({Fault::Kind::Short, 8193, 0}); }, "--fault");
    check([](Options& o) { o.faults.push_back({Fault::Kind::Extra, 5000000, 0}); }, "--fault");
    check([](Options& o) { o.saveFile = "/nonexistent-folder/x.bin"; }, "--save");
    check([](Options& o) { o.logFile = "/"; }, "--log");
    check([](Options& o) { o.link = "/dev/null"; }, "--link");

    // With extra characters the answer is longer, and so is the room for faults.
    Options options;
    options.faults = {{Fault::Kind::Extra, 8, 0}, {Fault::Kind::Garbage, 8199, 0}};
    EXPECT_EQ(CheckOptions(options), "");
}

}  // namespace
}  // namespace vantri::sim::test
