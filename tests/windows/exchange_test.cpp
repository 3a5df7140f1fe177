// The key buffer exchanges over the Win32 link: a read of the device's
// buffer, a write that the device keeps, and devices that fall silent or
// hang up.  Also the pauses that pace a write, which need the 1 ms timer.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

#include <windows.h>

#include "image/hexfileHandle.h"
#include "serial/exchange.h"
#include "serial/pause.h"
#include "serial/platform.h"
#include "serial/zrkCommModule.h"
#include "tests/windows/wine_devices.h"

namespace vantri {
namespace {

using namespace wintest;
using Clock = std::chrono::steady_clock;

PortSetting Com(std::int16_t number) {
    PortSetting port;
    port.numbered = true;
    port.number = number;
    return port;
}

std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every byte value, 0 included, in an order unlike the default buffer.
std::string TestPattern() {
    std::string pattern(4096, '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<char>((i * 13 + 5 + i / 256) % 256);
    }
    return pattern;
}

class Win32Exchange : public ::testing::Test {
  protected:
    void TearDown() override { CloseComPort(); }

    // Reads the COM1 device's buffer with a fresh open, as an operation does.
    static ReadOutcome ReadGoodPort() {
        CloseComPort();
        if (OpenExchangePort(Com(GoodPort)) != 0) {
            return {};
        }
        ReadOutcome outcome = ReadKeyBuffer({});
        CloseComPort();
        return outcome;
    }
};

TEST_F(Win32Exchange, ReadGetsTheDeviceBuffer) {
    ASSERT_EQ(OpenExchangePort(Com(GoodPort)), 0);
    int reads = 0;
    ExchangeHooks hooks;
    hooks.afterRead = [&](int k) { reads = k; };
    const ReadOutcome outcome = ReadKeyBuffer(hooks);
    ASSERT_EQ(outcome.status, ExchangeStatus::Done) << outcome.response.size() << " characters";
    EXPECT_EQ(outcome.keyBuffer, DefaultBuffer());
    EXPECT_EQ(reads, 4096);
}

TEST_F(Win32Exchange, ComTwelveReachesTheDevice) {
    ASSERT_EQ(OpenExchangePort(Com(GoodPortHigh)), 0);
    const ReadOutcome outcome = ReadKeyBuffer({});
    ASSERT_EQ(outcome.status, ExchangeStatus::Done);
    EXPECT_EQ(outcome.keyBuffer, DefaultBuffer());
}

TEST_F(Win32Exchange, WrittenBufferIsWhatTheDeviceKeepsAndReadsBack) {
    const std::filesystem::path saved = GoodPortSaveFile();
    ASSERT_FALSE(saved.empty()) << "VANTRI_WINE_SIM_SAVE is not set; run scripts/test-windows";
    const std::string pattern = TestPattern();

    ASSERT_EQ(OpenExchangePort(Com(GoodPort)), 0);
    const auto start = Clock::now();
    const WriteOutcome wrote = WriteKeyBuffer(pattern, 16, 10, {});
    const long long took = ElapsedMs(start);
    ASSERT_EQ(wrote.status, ExchangeStatus::Done)
        << "byte " << wrote.position << ": " << port::ErrorText(wrote.error);
    EXPECT_EQ(wrote.bytesSent, 4096);
    EXPECT_EQ(wrote.blocks, 256);
    EXPECT_GE(took, 257 * 10);  // the pause after 0x06 and after each block
    CloseComPort();

    // The device saves the buffer once its last byte is in.
    const auto waited = Clock::now();
    while (ReadFileBytes(saved) != pattern && ElapsedMs(waited) < 3000) {
        Sleep(20);
    }
    EXPECT_EQ(ReadFileBytes(saved), pattern);
    const ReadOutcome back = ReadGoodPort();
    EXPECT_EQ(back.status, ExchangeStatus::Done);
    EXPECT_TRUE(back.keyBuffer == pattern) << "read back differs from the written buffer";

    // Leave the default buffer for the other tests: one block, no pauses.
    ASSERT_EQ(OpenExchangePort(Com(GoodPort)), 0);
    ASSERT_EQ(WriteKeyBuffer(DefaultBuffer(), 4096, 0, {}).status, ExchangeStatus::Done);
    CloseComPort();
    EXPECT_TRUE(ReadGoodPort().keyBuffer == DefaultBuffer());
}

TEST_F(Win32Exchange, SilentDeviceEndsTheReadWithinTheAnswerTimeout) {
    ASSERT_EQ(OpenExchangePort(Com(SilentPort)), 0);
    const auto start = Clock::now();
    const ReadOutcome outcome = ReadKeyBuffer({});
    EXPECT_EQ(outcome.status, ExchangeStatus::Incomplete);
    EXPECT_EQ(outcome.response, "");
    EXPECT_EQ(outcome.error, 0u);
    EXPECT_GE(ElapsedMs(start), static_cast<long long>(DeviceAnswerTimeoutMs) - 100);
    EXPECT_LT(ElapsedMs(start), static_cast<long long>(DeviceAnswerTimeoutMs) + 3000);
}

TEST_F(Win32Exchange, HangupDuringAWriteStopsItAsDeviceLost) {
    ASSERT_EQ(OpenExchangePort(Com(WriteHangupPort)), 0);
    const auto start = Clock::now();
    const WriteOutcome outcome = WriteKeyBuffer(TestPattern(), 4096, 0, {});
    EXPECT_EQ(outcome.status, ExchangeStatus::DeviceLost) << port::ErrorText(outcome.error);
    EXPECT_TRUE(port::IsDeviceLostError(outcome.error)) << outcome.error;
    // The device took 0x06 and 99 data bytes; a few more may sit in the line
    // when the hang-up shows, to a later byte's write or to the drain after
    // the block (position 0).
    EXPECT_TRUE(outcome.position == 0 || outcome.position >= WriteHangupBytes) << outcome.position;
    EXPECT_GE(outcome.bytesSent, WriteHangupBytes - 1);
    // Stopped at once, not after a time-out per remaining byte.
    EXPECT_LT(ElapsedMs(start), 3000);
}

// The device goes at the write's last byte: the drain or the line check
// after the last block finds it, never Done.
TEST_F(Win32Exchange, HangupAtTheLastByteIsNotDone) {
    ASSERT_EQ(OpenExchangePort(Com(LastByteHangupPort)), 0);
    const WriteOutcome outcome = WriteKeyBuffer(TestPattern(), 16, 0, {});
    EXPECT_EQ(outcome.status, ExchangeStatus::DeviceLost) << port::ErrorText(outcome.error);
}

TEST_F(Win32Exchange, HangupDuringAReadEndsItWithWhatArrived) {
    ASSERT_EQ(OpenExchangePort(Com(ReadHangupPort)), 0);
    const auto start = Clock::now();
    const ReadOutcome outcome = ReadKeyBuffer({});
    EXPECT_NE(outcome.status, ExchangeStatus::Done);
    EXPECT_EQ(outcome.response.size(), static_cast<std::size_t>(ReadHangupBytes - 1));
    EXPECT_EQ(outcome.response, BinToHex(DefaultBuffer()).substr(0, ReadHangupBytes - 1));
    EXPECT_LT(ElapsedMs(start), static_cast<long long>(DeviceAnswerTimeoutMs) + 3000);
}

TEST_F(Win32Exchange, ReadOnAVanishedLineFailsAsDeviceLost) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "wine shows a vanished line only to writes and ClearCommError; its "
                        "reads just time out";
    }
    ASSERT_EQ(OpenExchangePort(Com(ReadLostPort)), 0);
    const ReadOutcome outcome = ReadKeyBuffer({});
    EXPECT_EQ(outcome.status, ExchangeStatus::Incomplete);
    EXPECT_TRUE(port::IsDeviceLostError(outcome.error)) << outcome.error;
}

TEST(Win32Pauses, OneMillisecondTimerKeepsShortPausesShort) {
    // At the default 15.6 ms tick, 40 pauses of 10 ms would take 625 ms.
    PrecisePauses precise;
    const auto start = Clock::now();
    for (int i = 0; i < 40; ++i) {
        PauseMs(10);
    }
    const long long took = ElapsedMs(start);
    EXPECT_GE(took, 400);
    EXPECT_LT(took, 560);
}

}  // namespace
}  // namespace vantri
