// The link against the simulated device: both exchanges of the protocol
// at the line level, and an adapter unplugged in the middle of an answer.
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "image/hexfileHandle.h"
#include "serial/zrkCommModule.h"
#include "sim/devsim.h"
#include "tests/serial/pty_peer.h"

namespace vantri {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::unique_ptr<sim::Simulator> StartDevice(sim::Options options = {}) {
    std::string error;
    auto device = sim::Simulator::Start(options, error);
    EXPECT_NE(device, nullptr) << error;
    return device;
}

std::int32_t OpenLikeTheOperations(const std::string& device) {
    return OpenComPort(device, 115200, 0, 0, 100, port::MaxDword, 200, 1, 1000);
}

// The read exchange as the Read operation does it: 0x05, then 4096 reads of
// two bytes.
std::string ReadResponse() {
    EXPECT_EQ(SendString("\x05"), 1);
    std::string response;
    for (int k = 0; k < KeyBufferSize; ++k) {
        response += ReadBytes(2);
    }
    return response;
}

class DeviceLink : public ::testing::Test {
  protected:
    void TearDown() override { CloseComPort(); }
};

TEST_F(DeviceLink, ReadsTheBufferAndWritesANewOne) {
    auto device = StartDevice();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(OpenLikeTheOperations(device->PortPath()), 0);

    EXPECT_EQ(ReadResponse(), BinToHex(sim::DefaultBuffer()));

    std::string buffer(KeyBufferSize, '\0');
    for (int i = 0; i < KeyBufferSize; ++i) {
        buffer[i] = static_cast<char>(255 - i % 256);
    }
    EXPECT_EQ(SendString("\x06"), 1);
    for (char byte : buffer) {
        ASSERT_EQ(SendString(std::string(1, byte)), 1);
    }
    auto end = Clock::now() + 2s;
    while (device->WritesCompleted() < 1 && Clock::now() < end) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(device->WritesCompleted(), 1);
    EXPECT_EQ(device->Buffer(), buffer);
    EXPECT_EQ(ReadResponse(), BinToHex(buffer));
    EXPECT_EQ(CloseComPort(), 1);
}

TEST_F(DeviceLink, AnUnpluggedDeviceFailsTheNextReadAtOnce) {
    sim::Options options;
    options.faults.push_back({sim::Fault::Kind::Hangup, 101, 0});  // 0x05 and 100 characters
    auto device = StartDevice(options);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(OpenLikeTheOperations(device->PortPath()), 0);
    ASSERT_EQ(SendString("\x05"), 1);

    std::string response;
    std::uint32_t error = 0;
    for (int k = 0; k < KeyBufferSize && error == 0; ++k) {
        response += ReadBytes(2, &error);
    }
    EXPECT_EQ(response, BinToHex(sim::DefaultBuffer()).substr(0, 100));
    EXPECT_TRUE(port::IsDeviceLostError(error)) << error;

    // Once gone, every read fails without waiting for a byte.
    auto start = Clock::now();
    EXPECT_EQ(ReadBytes(2, &error), "");
    EXPECT_TRUE(port::IsDeviceLostError(error)) << error;
    EXPECT_LT(test::MsSince(start), 50);
}

}  // namespace
}  // namespace vantri
