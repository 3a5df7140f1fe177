// vantri-key's failure classes: each gives its exit code and one line that
// says what failed and what to do.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "programs.h"
#include "serial/exchange.h"
#include "serial/zrkCommModule.h"

namespace vantri::test {
namespace {

using std::chrono::milliseconds;

void ExpectOneLine(const KeyRun& run, int code, const std::string& says) {
    EXPECT_EQ(run.code, code) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("vantri-key: ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
}

TEST(CliFailures, PortThatCannotBeOpenedExits3) {
    TempDir dir;
    ExpectOneLine(RunKey({"read", "--port", (dir / "no-such-tty").string()}, dir), 3,
                  "no such port; try vantri-key ports");
    // COM0 names no device on this platform.
    ExpectOneLine(RunKey({"read", "--port", "0"}, dir), 3, "cannot open COM0: no such port");
    // A device, but no serial port.
    ExpectOneLine(RunKey({"read", "--port", "/dev/null"}, dir), 3, "serial port");
}

TEST(CliFailures, PortHeldByAnotherProgramIsBusy) {
    TempDir dir;
    Devsim device(dir, {});
    ASSERT_TRUE(device.ready());
    ASSERT_EQ(OpenComPort(device.port(), 115200, 0, 0, 100, 0, 2000, 1, 1000), 0);
    KeyRun run = RunKey({"read", "--port", device.port(), "--out", "k.bin"}, dir);
    CloseComPort();
    ExpectOneLine(run, 3, "the port is busy, another program holds it");
    EXPECT_FALSE(fs::exists(dir / "k.bin"));
}

TEST(CliFailures, KeyBufferFileIsCheckedBeforeThePortExit4) {
    TempDir dir;
    WriteFile(dir / "short.bin", std::string(4095, '\x5A'));
    WriteFile(dir / "long.bin", std::string(4097, '\x5A'));
    WriteFile(dir / "empty.bin", "");
    WriteFile(dir / "huge.bin", std::string(1 << 20, '\x5A'));
    // The port does not exist: a file error first shows the file is checked first.
    const std::string noPort = (dir / "no-such-tty").string();
    ExpectOneLine(RunKey({"write", "--port", noPort, "short.bin"}, dir), 4,
                  "short.bin holds 4095 bytes; a key buffer file must hold exactly 4096 bytes.");
    ExpectOneLine(RunKey({"write", "--port", noPort, "long.bin"}, dir), 4, "holds 4097 bytes");
    ExpectOneLine(RunKey({"write", "--port", noPort, "empty.bin"}, dir), 4, "holds 0 bytes");
    ExpectOneLine(RunKey({"write", "--port", noPort, "huge.bin"}, dir), 4, "holds 1048576 bytes");
    ExpectOneLine(RunKey({"write", "--port", noPort, "missing.bin"}, dir), 4,
                  "cannot read missing.bin");
    ExpectOneLine(RunKey({"verify", "--port", noPort, "short.bin"}, dir), 4, "holds 4095 bytes");
    ExpectOneLine(RunKey({"write", "--port", noPort, dir.path().string()}, dir), 4, "cannot read");
}

TEST(CliFailures, BadResponsesExit5AndSaveNothing) {
    TempDir dir;
    struct Case {
        const char* fault;
        const char* says;
    };
    const Case cases[] = {
        {"silent", "did not answer within 2 s"},
        {"short:100", "incomplete response from"},
        {"garbage:4097", "the character at offset 4097 (0x47) is not a hex digit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Devsim device(dir, {"--fault", c.fault}, std::string("dev-") + c.fault);
        ASSERT_TRUE(device.ready());
        KeyRun run = RunKey({"read", "--port", device.port(), "--out", "k.bin"}, dir);
        ExpectOneLine(run, 5, c.says);
        EXPECT_FALSE(fs::exists(dir / "k.bin"));
        // A silent device ends the read within the answer time-out plus a second.
        EXPECT_LT(run.seconds, DeviceAnswerTimeoutMs / 1000.0 + 1.0);
    }
    // verify reads the same way
    WriteFile(dir / "k.bin", std::string(4096, '\0'));
    Devsim device(dir, {"--fault", "short:8191"}, "dev-verify");
    ASSERT_TRUE(device.ready());
    ExpectOneLine(RunKey({"verify", "--port", device.port(), "k.bin"}, dir), 5,
                  "8191 of 8192 characters");
}

TEST(CliFailures, DeviceLostDuringAWriteExits6AtOnce) {
    TempDir dir;
    WriteFile(dir / "k.bin", std::string(4096, '\x42'));
    Devsim device(dir, {"--fault", "hangup:1001"});
    ASSERT_TRUE(device.ready());
    KeyRun run = RunKey({"write", "--port", device.port(), "k.bin"}, dir);
    ExpectOneLine(run, 6, "device lost on " + device.port() + " at byte ");
    EXPECT_NE(run.err.find("partly written"), std::string::npos) << run.err;
    // 1000 bytes of 16-byte blocks: 63 pauses of 10 ms, then at once.
    EXPECT_LT(run.seconds, 2.0);
    EXPECT_FALSE(fs::exists(device.saveFile()));
}

TEST(CliFailures, OutputThatCannotBeWrittenExits7AndLeavesFilesAlone) {
    TempDir dir;
    Devsim device(dir, {});
    ASSERT_TRUE(device.ready());
    ExpectOneLine(RunKey({"read", "--port", device.port(), "--out", "missing/k.bin"}, dir), 7,
                  "the folder missing does not exist");
    EXPECT_FALSE(fs::exists(dir / "missing"));
    fs::create_directory(dir / "folder");
    ExpectOneLine(RunKey({"read", "--port", device.port(), "--out", "folder"}, dir), 7,
                  "it is a folder");
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
    // A folder where no file can be made, root or not: the read succeeds,
    // the save fails, the existing file stays as it was.
    const fs::path locked = "/proc/version";
    if (!fs::exists(locked)) {
        GTEST_SKIP() << "no /proc here";
    }
    const std::string before = ReadFile(locked);
    KeyRun run = RunKey({"read", "--port", device.port(), "--out", locked.string()}, dir);
    ExpectOneLine(run, 7, "the existing file is untouched");
    EXPECT_EQ(ReadFile(locked), before);
}

TEST(CliFailures, VerifyNamesTheFirstDifferenceAndTheCountExit8) {
    TempDir dir;
    std::string buffer(4096, '\0');
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<char>((i * 7 + 3) & 0xFF);  // the device's own
    }
    WriteFile(dir / "same.bin", buffer);
    buffer[300] = static_cast<char>(buffer[300] ^ 0xFF);
    buffer[4095] = static_cast<char>(buffer[4095] ^ 0x01);
    WriteFile(dir / "changed.bin", buffer);
    Devsim device(dir, {"--buffer", (dir / "same.bin").string()});
    ASSERT_TRUE(device.ready());
    EXPECT_EQ(RunKey({"verify", "--port", device.port(), "same.bin"}, dir).code, 0);
    ExpectOneLine(RunKey({"verify", "--port", device.port(), "changed.bin"}, dir), 8,
                  "differs from changed.bin in 2 of 4096 bytes, the first at offset 300 (0x012C)");
}

TEST(CliFailures, CtrlCStopsAReadExits130AndSavesNothing) {
    TempDir dir;
    // 8192 characters at 2400 baud take 34 s: the read is surely running.
    Devsim device(dir, {"--line-rate", "2400"});
    ASSERT_TRUE(device.ready());
    Child key(KeyProgram(), {"read", "--port", device.port(), "--out", "k.bin"}, dir / "key.out",
              dir / "key.err");
    std::this_thread::sleep_for(milliseconds(500));
    const auto start = std::chrono::steady_clock::now();
    key.Signal(SIGINT);
    const auto code = key.Wait(milliseconds(5000));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(code, 130);
    EXPECT_LT(seconds, 1.0);
    EXPECT_FALSE(fs::exists(dir / "k.bin"));
    EXPECT_NE(ReadFile(dir / "key.err").find("interrupted; nothing was saved."), std::string::npos);
    // The port was closed: it opens again at once.
    ASSERT_EQ(OpenComPort(device.port(), 115200, 0, 0, 100, 0, 2000, 1, 1000), 0);
    CloseComPort();
}

TEST(CliFailures, CtrlCStopsAWriteAfterTheCurrentBlockExit130) {
    TempDir dir;
    WriteFile(dir / "k.bin", std::string(4096, '\x42'));
    Devsim device(dir, {});
    ASSERT_TRUE(device.ready());
    Child key(KeyProgram(),
              {"write", "--port", device.port(), "--blocksize", "16", "--delay", "50", "k.bin"},
              dir / "key.out", dir / "key.err");
    std::this_thread::sleep_for(milliseconds(400));
    key.Signal(SIGINT);
    EXPECT_EQ(key.Wait(milliseconds(3000)), 130);
    const std::string err = ReadFile(dir / "key.err");
    EXPECT_NE(err.find("interrupted after "), std::string::npos) << err;
    EXPECT_NE(err.find("partly written"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(device.saveFile()));
}

}  // namespace
}  // namespace vantri::test
