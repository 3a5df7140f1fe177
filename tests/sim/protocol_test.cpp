// The device's protocol as a client sees it over the real pty: the read
// answer, the write, bytes outside an exchange, reopening the port, pacing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "sim/devsim.h"
#include "tests/sim/client.h"

namespace vantri::sim::test {
namespace {

std::unique_ptr<Simulator> StartSim(const Options& options = {}) {
    std::string error;
    std::unique_ptr<Simulator> sim = Simulator::Start(options, error);
    EXPECT_NE(sim, nullptr) << error;
    return sim;
}

// Polls `done` until it holds or a second has passed.
template <typename F>
bool Eventually(F done) {
    const Clock::time_point end = Clock::now() + milliseconds(1000);
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

// Sends a write exchange as the product does: 0x06, then the bytes one write
// each, in blocks of 512 with a short pause.
void SendWrite(Client& client, std::string_view data) {
    ASSERT_TRUE(client.Send("\x06"));
    for (std::size_t p = 0; p < data.size(); ++p) {
        ASSERT_TRUE(client.Send(data.substr(p, 1)));
        if (p % 512 == 511) {
            std::this_thread::sleep_for(milliseconds(1));
        }
    }
}

class TempDir {
  public:
    TempDir() {
        std::string name = (std::filesystem::temp_directory_path() / "devsim-XXXXXX").string();
        path_ = ::mkdtemp(name.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(DevsimProtocol, ReadRequestIsAnsweredWithTheBufferAsUpperCaseHex) {
    auto sim = StartSim();
    ASSERT_NE(sim, nullptr);
    EXPECT_EQ(sim->PortPath().rfind("/dev/pts/", 0), 0u) << sim->PortPath();
    EXPECT_TRUE(sim->Buffer() == ExpectedDefaultBuffer());

    Client client(sim->PortPath());
    ASSERT_TRUE(client.IsOpen()) << client.Error();
    ASSERT_TRUE(client.Send("\x05"));
    // Read it 2 characters at a time, as the Read operation does.
    std::string answer;
    for (int k = 0; k < 4096; ++k) {
        answer += client.Read(2, milliseconds(500));
    }
    EXPECT_EQ(answer.substr(0, 8), "030A1118");
    EXPECT_EQ(answer, ExpectedHex(ExpectedDefaultBuffer()));
    EXPECT_EQ(client.Read(1, milliseconds(100)), "") << "nothing after the 8192 characters";
    EXPECT_EQ(sim->ReadsAnswered(), 1);
}

TEST(DevsimProtocol, WriteReplacesTheBufferSavesItAndALaterReadReturnsIt) {
    TempDir dir;
    Options options;
    options.saveFile = dir.Path() / "saved.bin";
    auto sim = StartSim(options);
    ASSERT_NE(sim, nullptr);
    const std::string data = PatternBuffer();
    {
        Client client(sim->PortPath());
        ASSERT_TRUE(client.IsOpen());
        SendWrite(client, data);
        ASSERT_TRUE(Eventually([&] { return sim->WritesCompleted() == 1; }));
    }
    EXPECT_TRUE(sim->Buffer() == data);
    EXPECT_TRUE(FileText(options.saveFile) == data)
        << FileText(options.saveFile).size() << " bytes saved";

    const std::vector<Received> received = sim->ReceivedBytes();
    ASSERT_EQ(received.size(), 4097u);
    EXPECT_EQ(received[0].byte, 0x06);
    for (std::size_t i = 0; i < data.size(); ++i) {
        ASSERT_EQ(received[i + 1].byte, static_cast<std::uint8_t>(data[i])) << i;
    }

    // The next session reads the new buffer back.
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x05"));
    EXPECT_EQ(client.Read(8192, milliseconds(500)), ExpectedHex(data));
    EXPECT_EQ(sim->WritesCompleted(), 1);
}

TEST(DevsimProtocol, StartsWithTheGivenBuffer) {
    Options options;
    options.buffer = PatternBuffer();
    auto sim = StartSim(options);
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x05"));
    EXPECT_EQ(client.Read(8192, milliseconds(500)), ExpectedHex(options.buffer));
}

TEST(DevsimProtocol, BytesOutsideAnExchangeAreIgnored) {
    auto sim = StartSim();
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send(std::string("\x00\x41\xFF\x0D\x0A\x04\x07", 7)));
    EXPECT_EQ(client.Read(1, milliseconds(150)), "");
    EXPECT_EQ(sim->ReadsAnswered(), 0);
    EXPECT_EQ(sim->WritesCompleted(), 0);
    EXPECT_EQ(sim->ReceivedBytes().size(), 7u);

    ASSERT_TRUE(client.Send("\x05"));
    EXPECT_EQ(client.Read(8192, milliseconds(500)), ExpectedHex(ExpectedDefaultBuffer()));
}

TEST(DevsimProtocol, ReceivedBytesCarryTheirArrivalTimes) {
    auto sim = StartSim();
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("A"));
    std::this_thread::sleep_for(milliseconds(60));
    ASSERT_TRUE(client.Send("B"));
    ASSERT_TRUE(Eventually([&] { return sim->ReceivedBytes().size() == 2; }));
    const std::vector<Received> received = sim->ReceivedBytes();
    const auto gap = received[1].at - received[0].at;
    EXPECT_GE(gap, std::chrono::milliseconds(55));
    EXPECT_LT(gap, std::chrono::milliseconds(300));
}

TEST(DevsimProtocol, SurvivesThePortBeingOpenedAndClosedManyTimes) {
    auto sim = StartSim();
    ASSERT_NE(sim, nullptr);
    const std::string expected = ExpectedHex(ExpectedDefaultBuffer());
    for (int i = 0; i < 100; ++i) {
        Client client(sim->PortPath());
        ASSERT_TRUE(client.IsOpen()) << "open " << i << ": " << client.Error();
        if (i % 20 == 0) {
            ASSERT_TRUE(client.Send("\x05"));
            ASSERT_EQ(client.Read(8192, milliseconds(500)), expected) << "session " << i;
        }
    }
    // A client that leaves with the answer half read: the next one flushes
    // the rest at open and gets a whole answer of its own.
    {
        Client client(sim->PortPath());
        ASSERT_TRUE(client.Send("\x05"));
        EXPECT_EQ(client.Read(10, milliseconds(500)).size(), 10u);
    }
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x05"));
    EXPECT_EQ(client.Read(8192, milliseconds(500)), expected);
    EXPECT_EQ(sim->ReadsAnswered(), 7);
}

TEST(DevsimProtocol, AWriteLeftHalfWayIsAbandonedAfterTheIdleLimit) {
    Options options;
    options.writeIdleLimit = milliseconds(100);
    auto sim = StartSim(options);
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x06"));
    ASSERT_TRUE(client.Send(std::string(100, '\x01')));
    std::this_thread::sleep_for(milliseconds(250));
    // Taken as a read request again, not as byte 101 of the write.
    ASSERT_TRUE(client.Send("\x05"));
    EXPECT_EQ(client.Read(8192, milliseconds(500)), ExpectedHex(ExpectedDefaultBuffer()));
    EXPECT_EQ(sim->WritesCompleted(), 0);
    EXPECT_TRUE(sim->Buffer() == ExpectedDefaultBuffer());
}

TEST(DevsimProtocol, KeepsReceivingWhileItsAnswerIsBlocked) {
    // An answer far larger than the pty holds, which the client does not
    // read: the device must still take a whole write meanwhile.
    Options options;
    options.faults.push_back({Fault::Kind::Extra, 1u << 20, 0});
    auto sim = StartSim(options);
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x05"));
    std::this_thread::sleep_for(milliseconds(50));
    const std::string data = PatternBuffer();
    SendWrite(client, data);
    EXPECT_TRUE(Eventually([&] { return sim->WritesCompleted() == 1; }));
    EXPECT_TRUE(sim->Buffer() == data);
}

TEST(DevsimProtocol, LineRatePacesTheAnswer) {
    Options options;
    options.lineRate = 115200;
    auto sim = StartSim(options);
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x05"));
    const Clock::time_point start = Clock::now();
    std::vector<Clock::time_point> times;
    const std::string answer = client.Read(8192, milliseconds(500), milliseconds(5000), &times);
    ASSERT_EQ(answer, ExpectedHex(ExpectedDefaultBuffer()));
    // 8192 characters at 10 bits each take 0.711 s at 115200 baud.
    const double seconds = std::chrono::duration<double>(times.back() - start).count();
    EXPECT_GT(seconds, 0.6);
    EXPECT_LT(seconds, 1.5);
    // Evenly, not in a burst at the end: half the answer by about half the time.
    const double half = std::chrono::duration<double>(times[4096] - start).count();
    EXPECT_GT(half, 0.25);
    EXPECT_LT(half, 0.6);
}

TEST(DevsimProtocol, StopReturnsPromptlyInTheMiddleOfAnAnswer) {
    Options options;
    options.lineRate = 9600;  // 8.5 s for a whole answer
    auto sim = StartSim(options);
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x05"));
    EXPECT_EQ(client.Read(10, milliseconds(500)).size(), 10u);
    const Clock::time_point start = Clock::now();
    sim.reset();
    EXPECT_LT(Clock::now() - start, milliseconds(500));
}

TEST(DevsimProtocol, LogHasALinePerByteAndPerEvent) {
    TempDir dir;
    Options options;
    options.logFile = dir.Path() / "sim.log";
    auto sim = StartSim(options);
    ASSERT_NE(sim, nullptr);
    Client client(sim->PortPath());
    ASSERT_TRUE(client.Send("\x05"));
    ASSERT_EQ(client.Read(8192, milliseconds(500)).size(), 8192u);
    ASSERT_TRUE(client.Send("\x41"));
    ASSERT_TRUE(Eventually([&] { return sim->ReceivedBytes().size() == 2; }));

    // Read while it runs: the lines must be there already.
    ASSERT_TRUE(
        Eventually([&] { return FileText(options.logFile).find(" 41\n") != std::string::npos; }));
    std::ifstream in(options.logFile);
    std::vector<std::string> bytes;
    std::vector<std::string> events;
    long long last = -1;
    for (std::string line; std::getline(in, line);) {
        const std::size_t space = line.find(' ');
        ASSERT_NE(space, std::string::npos) << line;
        const long long at = std::stoll(line.substr(0, space));
        EXPECT_GE(at, last) << "times go forward";
        last = at;
        const std::string rest = line.substr(space + 1);
        (rest.rfind("event ", 0) == 0 ? events : bytes).push_back(rest);
    }
    EXPECT_EQ(bytes, (std::vector<std::string>{"05", "41"}));
    std::string all;
    for (const std::string& e : events) {
        all += e + "\n";
    }
    EXPECT_NE(all.find("read request"), std::string::npos) << all;
    EXPECT_NE(all.find("read answer sent"), std::string::npos) << all;
}

}  // namespace
}  // namespace vantri::sim::test
