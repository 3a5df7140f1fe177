// The serial link over the Win32 backend: opening by COM number, the line
// settings and time-outs as the driver holds them, and reads and writes
// against the simulated devices of wine_devices.h.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include <windows.h>

#include "image/hexfileHandle.h"
#include "serial/platform.h"
#include "serial/zrkCommModule.h"
#include "tests/windows/wine_devices.h"

namespace vantri {
namespace {

using namespace wintest;
using Clock = std::chrono::steady_clock;

// OpenComPort with the exchanges' line and the given read time-outs.
std::int32_t Open(std::int16_t port, std::uint32_t interval, std::uint32_t multiplier,
                  std::uint32_t constant) {
    return OpenComPort(port, 115200, port::NoParity, port::OneStopBit, interval, multiplier,
                       constant, 1, 1000);
}

class Win32Link : public ::testing::Test {
  protected:
    void TearDown() override { CloseComPort(); }
};

TEST_F(Win32Link, ComNumbersOpenThroughTheDeviceNamespace) {
    EXPECT_EQ(port::ComPortDevice(1), R"(\\.\COM1)");
    EXPECT_EQ(port::ComPortDevice(12), R"(\\.\COM12)");
    EXPECT_EQ(port::ComPortDevice(0), "");
    EXPECT_EQ(port::ComPortDevice(-1), "");
    EXPECT_EQ(ComPortName(12), "COM12");

    // The bare name reaches COM1 to COM9 only; COM12 needs the prefix.
    HANDLE bare =
        CreateFileA("COM12", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(bare, INVALID_HANDLE_VALUE);
    if (bare != INVALID_HANDLE_VALUE) {
        CloseHandle(bare);
    }
    ASSERT_EQ(Open(GoodPortHigh, 100, 0, 2000), 0) << port::ErrorText(port::LastError());
    EXPECT_NE(ComHandle, port::InvalidHandle);
    EXPECT_NE(CloseComPort(), 0);

    // A port name as users type it gets the prefix too.
    const port::Handle typed = port::OpenDevice("com12");
    ASSERT_NE(typed, port::InvalidHandle) << port::ErrorText(port::LastError());
    EXPECT_TRUE(port::Close(typed));
}

TEST_F(Win32Link, OpenSetsTheLineAndTimeoutsAndKeepsTheRest) {
    const port::Handle raw = port::OpenDevice(port::ComPortDevice(GoodPort));
    ASSERT_NE(raw, port::InvalidHandle) << port::ErrorText(port::LastError());
    DCB before{};
    before.DCBlength = sizeof before;
    ASSERT_TRUE(GetCommState(reinterpret_cast<HANDLE>(raw), &before));
    ASSERT_TRUE(port::Close(raw));

    ASSERT_EQ(OpenComPort(GoodPort, 115200, port::NoParity, port::OneStopBit, 100, port::MaxDword,
                          200, 1, 1000),
              0);
    port::LineSettings line;
    ASSERT_TRUE(port::GetLineSettings(ComHandle, line));
    EXPECT_EQ(line.BaudRate, 115200u);
    EXPECT_EQ(line.ByteSize, 8);
    EXPECT_EQ(line.Parity, port::NoParity);
    EXPECT_EQ(line.StopBits, port::OneStopBit);

    // Flow control and the special characters stay as the port had them.
    DCB after{};
    after.DCBlength = sizeof after;
    ASSERT_TRUE(GetCommState(reinterpret_cast<HANDLE>(ComHandle), &after));
    EXPECT_EQ(after.fOutxCtsFlow, before.fOutxCtsFlow);
    EXPECT_EQ(after.fOutxDsrFlow, before.fOutxDsrFlow);
    EXPECT_EQ(after.fDtrControl, before.fDtrControl);
    EXPECT_EQ(after.fRtsControl, before.fRtsControl);
    EXPECT_EQ(after.fOutX, before.fOutX);
    EXPECT_EQ(after.fInX, before.fInX);
    EXPECT_EQ(after.XonChar, before.XonChar);
    EXPECT_EQ(after.XoffChar, before.XoffChar);

    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(reinterpret_cast<HANDLE>(ComHandle), &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 100u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, port::MaxDword);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 200u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

TEST_F(Win32Link, PortsThatNameNoDeviceDoNotOpen) {
    EXPECT_EQ(Open(AbsentPort, 100, 0, 200), 1);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    const std::uint32_t error = port::LastError();
    EXPECT_TRUE(port::IsNoSuchDeviceError(error)) << error << " " << port::ErrorText(error);
    EXPECT_FALSE(port::IsBusyError(error));

    EXPECT_EQ(Open(0, 100, 0, 200), 1);
    EXPECT_EQ(Open(-1, 100, 0, 200), 1);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    EXPECT_EQ(InQueueCount(), 0);  // no port: the query fails and says 0
}

TEST_F(Win32Link, HeldPortRefusesASecondOpen) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "wine does not refuse a second open of a serial port";
    }
    ASSERT_EQ(Open(GoodPort, 100, 0, 200), 0);
    const port::Handle second = port::OpenDevice(port::ComPortDevice(GoodPort));
    EXPECT_EQ(second, port::InvalidHandle);
    EXPECT_TRUE(port::IsBusyError(port::LastError())) << port::LastError();
    if (second != port::InvalidHandle) {
        port::Close(second);
    }
}

TEST_F(Win32Link, CloseReleasesThePortAndTwiceIsHarmless) {
    ASSERT_EQ(Open(GoodPort, 100, 0, 200), 0);
    // Opening again while open closes the first handle before the new open.
    ASSERT_EQ(Open(GoodPort, 100, 0, 200), 0);
    EXPECT_NE(CloseComPort(), 0);
    EXPECT_EQ(ComHandle, port::InvalidHandle);
    EXPECT_EQ(CloseComPort(), 0);
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(ComHandle, port::InvalidHandle);
}

TEST_F(Win32Link, ReadsReturnWhatArrivedAndEndOnTheTotalTimeout) {
    ASSERT_EQ(Open(GoodPort, 100, 0, 500), 0);
    std::uint32_t written = 0;
    std::uint32_t error = 0;
    ASSERT_NE(SendString(std::string(1, '\x05'), &written, &error), 0) << error;
    EXPECT_EQ(written, 1u);

    // The answer gathers in the input queue before anyone reads it.
    const auto asked = Clock::now();
    while (InQueueCount() == 0 && ElapsedMs(asked) < 2000) {
        Sleep(10);
    }
    const std::int16_t waiting = InQueueCount();
    EXPECT_GT(waiting, 0);
    EXPECT_LE(waiting, 8192);

    const std::string answer = ReadBytes(8192, &error);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(answer, BinToHex(DefaultBuffer()));

    // Nothing more comes: the read ends on the 500 ms total time-out, empty
    // and without an error.
    const auto start = Clock::now();
    EXPECT_EQ(ReadBytes(2, &error), "");
    EXPECT_EQ(error, 0u);
    EXPECT_GE(ElapsedMs(start), 450);
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_EQ(ReadBytes(0, &error), "");
    EXPECT_EQ(ReadBytes(-3, &error), "");
}

TEST_F(Win32Link, IntervalTimeoutEndsAReadAfterTheLastByte) {
    ASSERT_EQ(Open(LatePort, 100, 0, 3000), 0);
    ASSERT_NE(SendString(std::string(1, '\x05')), 0);
    const auto start = Clock::now();
    // The late device sends 3 characters after 600 ms, then nothing: the
    // read waits for the first byte within the 3000 ms total, and ends
    // 100 ms after the last one rather than at the total.
    EXPECT_EQ(ReadBytes(100), "030");
    EXPECT_GE(ElapsedMs(start), LateAnswerMs - 50);
    EXPECT_LT(ElapsedMs(start), 2000);
}

TEST_F(Win32Link, MaxDwordMultiplierWaitsForALateFirstByte) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "wine ignores a MAXDWORD read multiplier and ends the read at the "
                        "200 ms constant";
    }
    // The window's own time-outs: MAXDWORD per byte plus 200 ms puts no
    // practical bound on the wait for the first byte.
    ASSERT_EQ(Open(LatePort, 100, port::MaxDword, 200), 0);
    ASSERT_NE(SendString(std::string(1, '\x05')), 0);
    const auto start = Clock::now();
    EXPECT_EQ(ReadBytes(2), "03");
    EXPECT_GE(ElapsedMs(start), LateAnswerMs - 50);
}

TEST(Win32ErrorText, SystemTextsComeWithoutTrailingPunctuation) {
    const std::string text = port::ErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '.');
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_EQ(port::ErrorText(0x2FFFFFFF), "error 805306367");
}

}  // namespace
}  // namespace vantri
