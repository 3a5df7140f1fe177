// vantri-key's successful runs, its help, and its usage errors.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <regex>

#include "programs.h"

namespace vantri::test {
namespace {

std::string RandomBuffer(unsigned variant) {
    std::mt19937 random(variant);
    std::string bytes(4096, '\0');
    for (auto& b : bytes) {
        b = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

int Lines(const std::string& text) {
    int lines = 0;
    for (const char c : text) {
        lines += c == '\n';
    }
    return lines;
}

TEST(Cli, ReadWriteVerifyRoundTrip) {
    TempDir dir;
    const std::string original = RandomBuffer(1);
    WriteFile(dir / "original.bin", original);
    Devsim device(dir, {"--buffer", (dir / "original.bin").string()});
    ASSERT_TRUE(device.ready());

    // read, to the default name in the current folder
    KeyRun read = RunKey({"read", "--port", device.port()}, dir);
    ASSERT_EQ(read.code, 0) << read.err;
    EXPECT_EQ(ReadFile(dir / "Ram.Bin"), original);
    EXPECT_TRUE(std::regex_match(read.out, std::regex("Read 4096 bytes from " + device.port() +
                                                      " in [0-9]+\\.[0-9][0-9] s -> Ram\\.Bin\n")))
        << read.out;
    // Standard error is a file here: no progress bar, nothing at all.
    EXPECT_EQ(read.err, "");

    // write a changed buffer with the default pacing, then verify it
    const std::string changed = RandomBuffer(2);
    WriteFile(dir / "changed.bin", changed);
    KeyRun write = RunKey({"write", "--port", device.port(), "changed.bin"}, dir);
    ASSERT_EQ(write.code, 0) << write.err;
    EXPECT_EQ(Lines(write.out), 1);
    EXPECT_NE(write.out.find("Wrote 4096 bytes from changed.bin to " + device.port()),
              std::string::npos)
        << write.out;
    EXPECT_NE(write.out.find("(blocksize 16, delay 10 ms)"), std::string::npos) << write.out;
    EXPECT_EQ(write.err, "");
    // 257 pauses of 10 ms at the least.
    EXPECT_GE(write.seconds, 2.57);

    KeyRun verify = RunKey({"verify", "--port", device.port(), "changed.bin"}, dir);
    ASSERT_EQ(verify.code, 0) << verify.err;
    EXPECT_NE(verify.out.find("identical to changed.bin"), std::string::npos) << verify.out;
    EXPECT_EQ(ReadFile(device.saveFile()), changed);

    // read again over the existing file: replaced, still exactly 4096 bytes
    KeyRun again = RunKey({"read", "--port=" + device.port(), "--out=Ram.Bin"}, dir);
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(ReadFile(dir / "Ram.Bin"), changed);
}

TEST(Cli, QuietPrintsNothingOnSuccess) {
    TempDir dir;
    Devsim device(dir, {});
    ASSERT_TRUE(device.ready());
    KeyRun read = RunKey({"--quiet", "read", "--port", device.port(), "--out", "k.bin"}, dir);
    EXPECT_EQ(read.code, 0) << read.err;
    EXPECT_EQ(read.out, "");
    EXPECT_EQ(read.err, "");
    KeyRun write = RunKey(
        {"write", "-q", "--port", device.port(), "--blocksize", "4096", "--delay", "0", "k.bin"},
        dir);
    EXPECT_EQ(write.code, 0) << write.err;
    EXPECT_EQ(write.out, "");
    EXPECT_EQ(write.err, "");
}

// A file name is the bytes given, UTF-8 or not, to the file calls and in the
// messages alike.
TEST(Cli, FileNamesOutsideAsciiAreTakenAsGiven) {
    TempDir dir;
    Devsim device(dir, {});
    ASSERT_TRUE(device.ready());
    unsigned variant = 3;
    for (const std::string name : {"ключ-鍵.bin", "latin1-\xE9\xFF.bin"}) {
        SCOPED_TRACE(name);
        const std::string buffer = RandomBuffer(variant++);
        WriteFile(dir / name, buffer);
        KeyRun write = RunKey(
            {"write", "--port", device.port(), "--blocksize", "4096", "--delay", "0", name}, dir);
        ASSERT_EQ(write.code, 0) << write.err;
        EXPECT_NE(write.out.find("from " + name + " to "), std::string::npos) << write.out;
        KeyRun verify = RunKey({"verify", "--port", device.port(), name}, dir);
        ASSERT_EQ(verify.code, 0) << verify.err;
        EXPECT_NE(verify.out.find("identical to " + name + "\n"), std::string::npos);
        EXPECT_EQ(ReadFile(device.saveFile()), buffer);

        const std::string copy = "copy-" + name;
        KeyRun read = RunKey({"read", "--port", device.port(), "--out", copy}, dir);
        ASSERT_EQ(read.code, 0) << read.err;
        EXPECT_EQ(ReadFile(dir / copy), buffer);
        EXPECT_NE(read.out.find("-> " + copy + "\n"), std::string::npos) << read.out;

        KeyRun missing = RunKey({"verify", "--port", device.port(), "absent-" + name}, dir);
        EXPECT_EQ(missing.code, 4);
        EXPECT_NE(missing.err.find("cannot read absent-" + name + ": "), std::string::npos)
            << missing.err;
    }
}

TEST(Cli, ProgressBarOnATerminalOnly) {
    TempDir dir;
    Devsim device(dir, {});
    ASSERT_TRUE(device.ready());
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    std::optional<int> code;
    {
        Child key(KeyProgram(), {"read", "--port", device.port(), "--out", "k.bin"},
                  dir / "key.out", dir / "key.err", slave);
        code = key.Wait(std::chrono::milliseconds(20000));
    }
    ::close(slave);
    std::string terminal;
    char chunk[4096];
    for (pollfd p{master, POLLIN, 0}; ::poll(&p, 1, 200) > 0;) {
        const ssize_t n = ::read(master, chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        terminal.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(master);
    EXPECT_EQ(code, 0);
    EXPECT_NE(terminal.find("Reading"), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("100%"), std::string::npos) << terminal;
    // The summary line stays on standard output.
    EXPECT_NE(ReadFile(dir / "key.out").find("Read 4096 bytes"), std::string::npos);
}

TEST(Cli, HelpAndVersion) {
    TempDir dir;
    KeyRun help = RunKey({"--help"}, dir);
    EXPECT_EQ(help.code, 0);
    for (const char* text : {"read", "write", "verify", "ports", "Exit codes", "130", "--quiet"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
    for (const char* code : {"  0 ", "  2 ", "  3 ", "  4 ", "  5 ", "  6 ", "  7 ", "  8 "}) {
        EXPECT_NE(help.out.find(code), std::string::npos) << "exit code" << code;
    }
    KeyRun writeHelp = RunKey({"write", "--help"}, dir);
    EXPECT_EQ(writeHelp.code, 0);
    EXPECT_NE(writeHelp.out.find("--blocksize N"), std::string::npos);
    EXPECT_NE(writeHelp.out.find("default 16"), std::string::npos);
    EXPECT_NE(writeHelp.out.find("default 10"), std::string::npos);
    KeyRun readHelp = RunKey({"read", "-h"}, dir);
    EXPECT_NE(readHelp.out.find("Ram.Bin"), std::string::npos);
    KeyRun version = RunKey({"--version"}, dir);
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("vantri-key ", 0), 0u) << version.out;
}

TEST(Cli, UsageErrorsAndUnusableSettingsExit2WithOneLine) {
    TempDir dir;
    WriteFile(dir / "k.bin", std::string(4096, '\x11'));
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"erase"}, "unknown command 'erase'"},
        {{"read"}, "needs --port"},
        {{"read", "--port"}, "--port needs a value"},
        {{"read", "--port", "1", "--port", "2"}, "given twice"},
        {{"read", "--port", "1", "--blocksize", "8"}, "--blocksize is not an option of read"},
        {{"read", "--port", "1", "extra.bin"}, "unexpected argument 'extra.bin'"},
        {{"write", "--port", "1"}, "needs the key buffer file"},
        {{"write", "--port", "1", "k.bin", "k.bin"}, "unexpected argument"},
        {{"verify", "--port", "1", "--out", "x", "k.bin"}, "--out is not an option of verify"},
        {{"read", "--bogus"}, "unknown option '--bogus'"},
        {{"read", "--port", "  "}, "Give a serial port"},
        {{"read", "--port", "70000"}, "from -32768 to 32767"},
        {{"write", "--port", "1", "--blocksize", "0", "k.bin"},
         "Blocksize must be a whole number from 1 to 32767."},
        {{"write", "--port", "1", "--blocksize", "16.5", "k.bin"}, "Blocksize must be"},
        {{"write", "--port", "1", "--delay", "-1", "k.bin"}, "Delay must be"},
        {{"write", "--port", "1", "--delay", "2147483648", "k.bin"}, "Delay must be"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args) {
            line += a + " ";
        }
        SCOPED_TRACE("vantri-key " + line);
        KeyRun run = RunKey(c.args, dir);
        EXPECT_EQ(run.code, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(Lines(run.err), 1) << run.err;
        EXPECT_EQ(run.err.rfind("vantri-key: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
}

TEST(Cli, PortsListsOrSaysThereAreNone) {
    TempDir dir;
    KeyRun ports = RunKey({"ports"}, dir);
    EXPECT_EQ(ports.code, 0);
    EXPECT_FALSE(ports.out.empty());
    EXPECT_EQ(ports.err, "");
}

}  // namespace
}  // namespace vantri::test
