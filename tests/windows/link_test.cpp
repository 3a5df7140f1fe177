// The serial link over the Win32 backend against the devices of
// wine_devices.h: opening by COM number (COM10 and up through the device
// namespace), the line and time-outs as the driver holds them; the key
// buffer exchanges end to end over it, how it shows a
// silent device or one that hangs up.  The exchanges' own rules are tested
// natively; how long a pause lasts is measured in bench/, not tested.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include "image/hexfileHandle.h"
#include "serial/exchange.h"
#include "serial/platform.h"
#include "serial/zrkCommModule.h"
#include "tests/windows/wine_devices.h"

namespace vantri {
namespace {

using namespace wintest;
using Clock = std::chrono::steady_clock;

std::int32_t Open(std::int16_t port, std::uint32_t interval, std::uint32_t multiplier,
                  std::uint32_t constant, std::uint8_t stopBits = port::OneStopBit) {
    return OpenComPort(port, 115200, port::NoParity, stopBits, interval, multiplier, constant, 1,
                       1000);
}

struct Win32Link : ::testing::Test {
    void TearDown() override { CloseComPort(); }
};

// The line and time-outs as asked; flow control and the special characters
// stay as the port had them.  The port before: COM12 as a user types it
// (by number, the exchanges below).
TEST_F(Win32Link, OpenSetsTheLineAndTimeoutsAndKeepsTheRest) {
    const port::Handle raw = port::OpenDevice("com12");
    ASSERT_NE(raw, port::InvalidHandle) << port::ErrorText(port::LastError());
    DCB before{}, after{};
    before.DCBlength = after.DCBlength = sizeof(DCB);
    ASSERT_TRUE(GetCommState(reinterpret_cast<HANDLE>(raw), &before));
    ASSERT_TRUE(port::Close(raw));
    // The line, then what stays as it was.
    const auto fields = [](const DCB& d, bool line) {
        return line ? std::vector<long long>{d.BaudRate, d.ByteSize, d.Parity, d.StopBits}
                    : std::vector<long long>{d.fOutxCtsFlow, d.fOutxDsrFlow, d.fDtrControl,
                                             d.fRtsControl,  d.fOutX,        d.fInX,
                                             d.XonChar,      d.XoffChar};
    };
    ASSERT_EQ(Open(GoodPortHigh, 100, 0, 200), 0);
    ASSERT_TRUE(GetCommState(reinterpret_cast<HANDLE>(ComHandle), &after));
    EXPECT_EQ(fields(after, true),
              (std::vector<long long>{115200, 8, port::NoParity, port::OneStopBit}));
    EXPECT_EQ(fields(after, false), fields(before, false));
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(reinterpret_cast<HANDLE>(ComHandle), &t));
    EXPECT_EQ(std::vector<DWORD>({t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                                  t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                                  t.WriteTotalTimeoutConstant}),
              std::vector<DWORD>({100, 0, 200, 1, 1000}));
    // Other line settings and time-outs are refused at their step.
    EXPECT_EQ(Open(GoodPortHigh, 100, 0, 200, 2), 3);
    EXPECT_EQ(Open(GoodPortHigh, 100, 10, 200), 4);
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(ERROR_INVALID_PARAMETER));
}

TEST_F(Win32Link, NoDeviceNoPortAndCloseTwiceIsHarmless) {
    for (const std::int16_t number : {std::int16_t{0}, std::int16_t{-1}, AbsentPort}) {
        EXPECT_EQ(Open(number, 100, 0, 200), 1) << number;
        EXPECT_EQ(ComHandle, port::InvalidHandle);
    }
    EXPECT_TRUE(port::IsNoSuchDeviceError(port::LastError())) << port::LastError();
    EXPECT_EQ(InQueueCount(), 0);  // no port: the query fails and says 0
    ASSERT_EQ(Open(GoodPort, 100, 0, 200), 0);
    EXPECT_NE(CloseComPort(), 0);
    EXPECT_EQ(CloseComPort(), 0);
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

TEST(Win32ErrorText, SystemTextsComeWithoutTrailingPunctuation) {
    const std::string text = port::ErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '.');
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_EQ(port::ErrorText(0x2FFFFFFF), "error 805306367");
}

// What a read gets: the whole buffer (also on COM12), nothing from a silent
// device after the whole answer time-out, the characters before a hang-up.
TEST_F(Win32Link, ReadsEndAsTheDeviceDoes) {
    const std::string hex = BinToHex(DefaultBuffer());
    const struct {
        std::int16_t port;
        bool done;
        std::size_t characters;
        long long atLeastMs;
    } cases[] = {{GoodPort, true, hex.size(), 0},
                 {GoodPortHigh, true, hex.size(), 0},
                 {SilentPort, false, 0, DeviceAnswerTimeoutMs - 100},
                 {ReadHangupPort, false, ReadHangupBytes - 1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(ComPortName(c.port));
        ASSERT_EQ(OpenExchangePort({true, c.port, {}}), 0);
        const auto start = Clock::now();
        const ReadOutcome outcome = ReadKeyBuffer({});
        EXPECT_EQ(outcome.status == ExchangeStatus::Done, c.done);
        EXPECT_EQ(outcome.response, hex.substr(0, c.characters));
        EXPECT_GE(ElapsedMs(start), c.atLeastMs);
        EXPECT_LT(ElapsedMs(start), static_cast<long long>(DeviceAnswerTimeoutMs) + 3000);
        CloseComPort();
    }
}

// Every byte value in an order unlike the default buffer (each byte differs
// from the default's at its place), 16-byte blocks
// with 10 ms pauses: the device keeps it; then the default goes back.
TEST_F(Win32Link, WrittenBufferIsWhatTheDeviceKeeps) {
    const std::string base = DefaultBuffer(), pattern(base.rbegin(), base.rend());
    for (const std::string& buffer : {pattern, base}) {
        ASSERT_EQ(OpenExchangePort({true, GoodPort, {}}), 0);
        const WriteOutcome wrote = WriteKeyBuffer(buffer, 16, 10, {});
        ASSERT_EQ(wrote.status, ExchangeStatus::Done)
            << "byte " << wrote.position << ": " << port::ErrorText(wrote.error);
        CloseComPort();
        EXPECT_TRUE(GoodPortSaved(buffer));
    }
}

// A hang-up during a write or at its last byte stops it as DeviceLost, at
// once rather than after a time-out per remaining byte.
TEST_F(Win32Link, HangupDuringAWriteIsDeviceLost) {
    const std::pair<std::int16_t, int> cases[] = {{WriteHangupPort, 4096},
                                                  {LastByteHangupPort, 16}};
    for (const auto& [port, blockSize] : cases) {
        SCOPED_TRACE(ComPortName(port));
        ASSERT_EQ(OpenExchangePort({true, port, {}}), 0);
        const auto start = Clock::now();
        const WriteOutcome outcome = WriteKeyBuffer(DefaultBuffer(), blockSize, 0, {});
        EXPECT_EQ(outcome.status, ExchangeStatus::DeviceLost) << port::ErrorText(outcome.error);
        EXPECT_TRUE(port::IsDeviceLostError(outcome.error)) << outcome.error;
        EXPECT_LT(ElapsedMs(start), 5000);
        CloseComPort();
    }
}

}  // namespace
}  // namespace vantri
