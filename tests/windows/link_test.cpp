// The serial link over the Win32 backend against the devices of
// wine_devices.h: opening by COM number (COM10 and up through the device
// namespace), the line and time-outs as the driver holds them; the key
// buffer exchanges end to end over it, how it shows a
// silent device or one that hangs up.  The exchanges' own rules are tested
// natively; how long a pause lasts is measured in bench/, not tested.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <tuple>
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

struct Win32Link : ::testing::Test {
    void TearDown() override { CloseComPort(); }
};

// The line and time-outs as asked; flow control and the special characters
// stay as the port had them (seen first as a user types COM12; the
// exchanges below open by number).  Then what fails: other settings, at
// their step; no device, no port; a second close.
TEST_F(Win32Link, OpenSetsTheLineAndTimeoutsAndKeepsTheRest) {
    const auto open = [](std::int16_t number, std::uint32_t multiplier = 0) {
        return OpenComPort(number, 115200, 0, 0, 100, multiplier, 200, 1, 1000);  // 8N1
    };
    const port::Handle raw = port::OpenDevice("com12");
    ASSERT_NE(raw, port::InvalidHandle) << port::ErrorText(port::LastError());
    DCB was{}, is{};
    was.DCBlength = is.DCBlength = sizeof(DCB);
    ASSERT_TRUE(GetCommState(reinterpret_cast<HANDLE>(raw), &was));
    ASSERT_TRUE(port::Close(raw));
    const auto kept = [](const DCB& d) {  // what stays as it was
        return std::vector<long long>{d.fOutxCtsFlow, d.fOutxDsrFlow, d.fDtrControl, d.fRtsControl,
                                      d.fOutX,        d.fInX,         d.XonChar,     d.XoffChar};
    };
    ASSERT_EQ(open(GoodPortHigh), 0);
    ASSERT_TRUE(GetCommState(reinterpret_cast<HANDLE>(ComHandle), &is));
    EXPECT_EQ(std::vector<long long>({is.BaudRate, is.ByteSize, is.Parity, is.StopBits}),
              std::vector<long long>({115200, 8, port::NoParity, port::OneStopBit}));
    EXPECT_EQ(kept(is), kept(was));
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(reinterpret_cast<HANDLE>(ComHandle), &t));
    EXPECT_EQ(std::vector<DWORD>({t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                                  t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                                  t.WriteTotalTimeoutConstant}),
              std::vector<DWORD>({100, 0, 200, 1, 1000}));
    EXPECT_EQ(OpenComPort(GoodPortHigh, 115200, 0, 2, 100, 0, 200, 1, 1000), 3);  // 2 stop bits
    EXPECT_EQ(open(GoodPortHigh, 10), 4);
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(ERROR_INVALID_PARAMETER));
    for (const std::int16_t number : {std::int16_t{0}, std::int16_t{-1}, AbsentPort}) {
        EXPECT_EQ(open(number), 1) << number;
        EXPECT_EQ(ComHandle, port::InvalidHandle);
    }
    EXPECT_TRUE(port::IsNoSuchDeviceError(port::LastError())) << port::LastError();
    EXPECT_EQ(InQueueCount(), 0);  // no port: the query fails and says 0
    ASSERT_EQ(open(GoodPort), 0);
    EXPECT_NE(CloseComPort(), 0);
    EXPECT_EQ(CloseComPort(), 0);
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

TEST(Win32ErrorText, SystemTextsComeWithoutTrailingPunctuation) {
    const std::string text = port::ErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(!text.empty() && text.back() != '.' && text.find_first_of("\r\n") == text.npos)
        << text;
    EXPECT_EQ(port::ErrorText(0x2FFFFFFF), "error 805306367");
}

// What a read gets: the whole buffer (also on COM12), nothing from a silent
// device after the whole answer time-out, the characters before a hang-up.
TEST_F(Win32Link, ReadsEndAsTheDeviceDoes) {
    const std::string hex = BinToHex(DefaultBuffer());
    // The port, the characters read (all: done), the least time taken.
    const std::tuple<std::int16_t, std::size_t, long long> cases[] = {
        {GoodPort, hex.size(), 0},
        {GoodPortHigh, hex.size(), 0},
        {SilentPort, 0, DeviceAnswerTimeoutMs - 100},
        {ReadHangupPort, ReadHangupBytes - 1, 0}};
    for (const auto& [number, characters, atLeastMs] : cases) {
        SCOPED_TRACE(ComPortName(number));
        ASSERT_EQ(OpenExchangePort({true, number, {}}), 0);
        const auto start = std::chrono::steady_clock::now();
        const ReadOutcome outcome = ReadKeyBuffer({});
        EXPECT_EQ(outcome.status == ExchangeStatus::Done, characters == hex.size());
        EXPECT_EQ(outcome.response, hex.substr(0, characters));
        EXPECT_GE(ElapsedMs(start), atLeastMs);
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
        const auto start = std::chrono::steady_clock::now();
        const WriteOutcome outcome = WriteKeyBuffer(DefaultBuffer(), blockSize, 0, {});
        EXPECT_EQ(outcome.status, ExchangeStatus::DeviceLost) << port::ErrorText(outcome.error);
        EXPECT_TRUE(port::IsDeviceLostError(outcome.error)) << outcome.error;
        EXPECT_LT(ElapsedMs(start), 5000);
        CloseComPort();
    }
}

}  // namespace
}  // namespace vantri
