// vantri-key run as a user or a script runs it, against vantri-devsim: its
// successful runs, its help, and its failures, each with its exit code and
// one line on standard error, within its time, changing no file.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "programs.h"
#include "serial/exchange.h"
#include "serial/zrkCommModule.h"

namespace vantri::test {
namespace {

std::vector<std::string> Words(const char* text);

std::string RandomBuffer(unsigned variant) {
    std::mt19937 random(variant);
    std::string bytes(4096, '\0');
    for (auto& b : bytes) {
        b = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

// Standard error is a file in all of these: no progress bar, nothing at all.
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
    EXPECT_EQ(read.err, "");

    // write a changed buffer with the default pacing, then verify it
    const std::string changed = RandomBuffer(2);
    WriteFile(dir / "changed.bin", changed);
    KeyRun write = RunKey({"write", "--port", device.port(), "changed.bin"}, dir);
    ASSERT_EQ(write.code, 0) << write.err;
    EXPECT_TRUE(std::regex_match(
        write.out, std::regex("Wrote 4096 bytes from changed\\.bin to " + device.port() +
                              " .*\\(blocksize 16, delay 10 ms\\)\n")))
        << write.out;
    EXPECT_EQ(write.err, "");
    EXPECT_GE(write.seconds, 2.57);  // 257 pauses of 10 ms at the least

    KeyRun verify = RunKey({"verify", "--port", device.port(), "changed.bin"}, dir);
    ASSERT_EQ(verify.code, 0) << verify.err;
    EXPECT_NE(verify.out.find("identical to changed.bin"), std::string::npos) << verify.out;
    EXPECT_EQ(verify.err, "");
    EXPECT_EQ(ReadFile(device.saveFile()), changed);

    // read again over the existing file: replaced, exactly 4096 bytes
    KeyRun again = RunKey({"read", "--port=" + device.port(), "--out=Ram.Bin"}, dir);
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(ReadFile(dir / "Ram.Bin"), changed);
}

// What a success prints on standard output: nothing with --quiet, the raw
// buffer with --out -, one JSON object with --json; -p and VANTRI_PORT
// name the port.
TEST(Cli, SuccessOutputFollowsTheOptions) {
    TempDir dir;
    Devsim device(dir, {});
    ASSERT_TRUE(device.ready());
    const std::string buffer = RandomBuffer(4);
    WriteFile(dir / "k.bin", buffer);
    struct Case {
        const char* args;  // PORT: the device's port
        bool portInEnvironment;
        const char* out;  // a regular expression; RAW: exactly the key buffer
    };
    const std::string json =
        "\\{\"command\": \"%s\", \"result\": \"ok\", \"port\": \"PORT\", "
        "\"file\": \"%s\", \"bytes\": 4096, \"seconds\": [0-9.]+, "
        "\"exit\": 0\\}\n";
    // clang-format off
    const Case cases[] = {
        {"write -q -p PORT --blocksize 4096 --delay 0 k.bin", false, ""},
        {"--quiet read --port PORT --out k2.bin", false, ""},
        {"verify -q k2.bin", true, ""},
        {"read --out - -pPORT", false, "RAW"},
        {"write --verify --json --delay 0 k.bin", true, "write|k.bin"},
        {"verify --json --port=PORT k.bin", false, "verify|k.bin"},
        {"read --json -p PORT --out k3.bin", false, "read|k3.bin"},
        {"ports --json", true, "\\[.*\\]\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        std::vector<std::string> args = Words(c.args);
        for (auto& a : args) {
            a = std::regex_replace(a, std::regex("PORT"), device.port());
        }
        if (c.portInEnvironment) {
            ::setenv("VANTRI_PORT", device.port().c_str(), 1);
        }
        const KeyRun run = RunKey(args, dir);
        ::unsetenv("VANTRI_PORT");
        EXPECT_EQ(run.code, 0) << run.err;
        std::string pattern = c.out;
        if (const auto bar = pattern.find('|'); bar != std::string::npos) {
            char text[512];
            std::snprintf(text, sizeof text, json.c_str(), pattern.substr(0, bar).c_str(),
                          pattern.substr(bar + 1).c_str());
            pattern = std::regex_replace(text, std::regex("PORT"), device.port());
        }
        if (pattern == "RAW") {
            EXPECT_EQ(run.out, buffer);
            EXPECT_NE(run.err.find("-> standard output"), std::string::npos) << run.err;
        } else {
            EXPECT_TRUE(std::regex_match(run.out, std::regex(pattern))) << run.out;
        }
    }
    EXPECT_EQ(ReadFile(dir / "k2.bin"), buffer);
    EXPECT_EQ(ReadFile(dir / "k3.bin"), buffer);
}

// A file name is the bytes given, UTF-8 or not, to the file calls and in the
// messages alike (the failure table has them too).
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
        EXPECT_EQ(verify.code, 0) << verify.err;
        EXPECT_NE(verify.out.find("identical to " + name + "\n"), std::string::npos) << verify.out;
        EXPECT_EQ(ReadFile(device.saveFile()), buffer);  // saved once the write was whole

        const std::string copy = "copy-" + name;
        KeyRun read = RunKey({"read", "--port", device.port(), "--out", copy}, dir);
        ASSERT_EQ(read.code, 0) << read.err;
        EXPECT_EQ(ReadFile(dir / copy), buffer);
        EXPECT_NE(read.out.find("-> " + copy + "\n"), std::string::npos) << read.out;
    }
}

TEST(Cli, HelpListsTheCommandsAndExitCodes) {
    TempDir dir;
    KeyRun help = RunKey({"--help"}, dir);
    EXPECT_EQ(help.code, 0);
    for (const char* text :
         {"read",   "write",    "verify",       "ports",      "--quiet", "-p PORT", "VANTRI_PORT",
          "--json", "--verify", "--out FILE|-", "Exit codes", "  0 ",    "  2 ",    "  3 ",
          "  4 ",   "  5 ",     "  6 ",         "  7 ",       "  8 ",    "130 "}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
    KeyRun version = RunKey({"--version"}, dir);
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("vantri-key ", 0), 0u) << version.out;
    KeyRun ports = RunKey({"ports"}, dir);
    EXPECT_EQ(ports.code, 0);
    EXPECT_FALSE(ports.out.empty());
}

// "a*b": `text` holds a, and b after it.
bool HoldsInOrder(const std::string& text, const std::string& fragments) {
    std::size_t at = 0;
    std::istringstream parts(fragments);
    for (std::string part; std::getline(parts, part, '*');) {
        at = text.find(part, at);
        if (at == std::string::npos) {
            return false;
        }
        at += part.size();
    }
    return true;
}

std::vector<std::string> Words(const char* text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

// Every file and folder under `dir` with its size, but vantri-key's output.
std::map<std::string, std::uintmax_t> Snapshot(const TempDir& dir) {
    std::map<std::string, std::uintmax_t> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "")) {
        const std::string name = entry.path().filename().string();
        if (name != "key.out" && name != "key.err") {
            entries[entry.path().string()] = entry.is_regular_file() ? entry.file_size() : 0;
        }
    }
    return entries;
}

TEST(Cli, FailuresGiveTheirExitCodeAndOneLine) {
    TempDir dir;
    std::string buffer(4096, '\0');
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<char>((i * 7 + 3) & 0xFF);  // the device's own
    }
    WriteFile(dir / "in.bin", buffer);
    buffer[300] = static_cast<char>(buffer[300] ^ 0xFF);
    buffer[4095] = static_cast<char>(buffer[4095] ^ 0x01);
    WriteFile(dir / "changed.bin", buffer);
    WriteFile(dir / "short.bin", std::string(4095, '\x5A'));
    WriteFile(dir / "long.bin", std::string(4097, '\x5A'));
    WriteFile(dir / "empty.bin", "");
    fs::create_directory(dir / "folder");
    const double answerBound = DeviceAnswerTimeoutMs / 1000.0 + 1.0;

    struct Case {
        const char* args;    // split at blanks; PORT: the device's port or a missing one
        const char* device;  // vantri-devsim's options; nullptr: no device
        int code;
        const char* says;  // fragments in order, split at '*'
        double within = 20;
        int interruptAfterMs = -1;
        bool holdPort = false;  // another program has the port open
    };
    // clang-format off
    const Case cases[] = {
        // Usage errors and unusable settings, found before the port is opened.
        {"", nullptr, 2, "no command"},
        {"erase", nullptr, 2, "unknown command 'erase'"},
        {"read", nullptr, 2, "needs --port"},
        {"read --port", nullptr, 2, "--port needs a value"},
        {"read --port 1 --port 2", nullptr, 2, "given twice"},
        {"read --port 1 --blocksize 8", nullptr, 2, "--blocksize is not an option of read"},
        {"read --port 1 extra.bin", nullptr, 2, "unexpected argument 'extra.bin'"},
        {"read -p 1 --json --out -", nullptr, 2, "--json and --out - would both"},
        {"verify --verify -p 1 in.bin", nullptr, 2, "--verify is not an option of verify"},
        {"write --port 1", nullptr, 2, "needs the key buffer file"},
        {"read --bogus", nullptr, 2, "unknown option '--bogus'"},
        {"read --port=", nullptr, 2, "Give a serial port"},
        {"read --port 70000", nullptr, 2, "from -32768 to 32767"},
        {"write --port 1 --blocksize 0 in.bin", nullptr, 2,
         "Blocksize must be a whole number from 1 to 32767."},
        {"write --port 1 --delay -1 in.bin", nullptr, 2, "Delay must be"},
        // The port.
        {"read --port PORT", nullptr, 3, "no such port; try vantri-key ports"},
        {"read --port 0", nullptr, 3, "cannot open COM0: no such port"},
        {"read --port /dev/null", nullptr, 3, "serial port"},
        {"read --port PORT --out out.bin", "", 3, "the port is busy, another program holds it",
         20, -1, true},
        // The key buffer file, checked before the port (which is not there).
        {"write --port PORT short.bin", nullptr, 4,
         "short.bin holds 4095 bytes; a key buffer file must hold exactly 4096 bytes."},
        {"write --port PORT long.bin", nullptr, 4, "holds 4097 bytes"},
        {"write --port PORT empty.bin", nullptr, 4, "holds 0 bytes"},
        {"write --port PORT missing.bin", nullptr, 4, "cannot read missing.bin"},
        {"write --port PORT folder", nullptr, 4, "cannot read folder"},
        {"verify --port PORT short.bin", nullptr, 4, "holds 4095 bytes"},
        {"verify --port PORT absent-ключ-鍵.bin", nullptr, 4, "cannot read absent-ключ-鍵.bin: "},
        {"verify --port PORT absent-\xE9\xFF.bin", nullptr, 4, "cannot read absent-\xE9\xFF.bin: "},
        // Bad responses; a silent device ends the read within the answer time-out.
        {"read --port PORT --out out.bin", "--fault silent", 5, "did not answer within 2 s",
         answerBound},
        {"read --port PORT --out out.bin", "--fault short:100", 5, "incomplete response from"},
        {"read --port PORT --out out.bin", "--fault garbage:4097", 5,
         "the character at offset 4097 (0x47) is not a hex digit"},
        {"verify --port PORT in.bin", "--fault short:8191", 5, "8191 of 8192 characters"},
        // The device lost during a write: 63 pauses of 10 ms, then at once.
        {"write --port PORT in.bin", "--fault hangup:1001", 6,
         "device lost on */device *partly written", 2.0},
        // ... and at its very last byte: never a success.
        {"write --port PORT --delay 0 in.bin", "--fault hangup:4096", 6,
         "device lost on */device *write it again."},
        // The output file.
        {"read --port PORT --out missing/out.bin", "", 7, "the folder missing does not exist"},
        {"read --port PORT --out folder", "", 7, "it is a folder"},
        {"read --port PORT --out /proc/version", "", 7, "the existing file is untouched"},
        // A difference, named by its first offset and its count.
        {"write --port PORT --delay 0 --verify in.bin", "--fault flip:4095", 8,
         "differs from in.bin in 1 of 4096 bytes, the first at offset 4095 (0x0FFF)"},
        {"verify --port PORT --json changed.bin", "", 8,
         "differs from changed.bin in 2 of 4096 bytes, the first at offset 300 (0x012C)"},
        // Ctrl-C: a read at 2400 baud (34 s) stops at once, a write after its block.
        {"read --port PORT --out out.bin", "--line-rate 2400", 130,
         "interrupted; nothing was saved.", 1.5, 500},
        {"write --port PORT --delay 50 in.bin", "", 130, "interrupted after *partly written",
         3.4, 400},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("vantri-key ") + c.args + " / devsim " +
                     (c.device != nullptr ? c.device : "none"));
        TempDir deviceDir;
        std::optional<Devsim> device;
        if (c.device != nullptr) {
            device.emplace(deviceDir, Words(c.device));
            ASSERT_TRUE(device->ready());
        }
        const std::string port = device ? device->port() : (dir / "no-such-tty").string();
        std::vector<std::string> args = Words(c.args);
        for (auto& a : args) {
            a = a == "PORT" ? port : a;
        }
        if (c.holdPort) {
            ASSERT_EQ(OpenComPort(port, 115200, 0, 0, 100, 0, 2000, 1, 1000), 0);
        }
        const auto before = Snapshot(dir);
        std::optional<milliseconds> interrupt;
        if (c.interruptAfterMs >= 0) {
            interrupt = milliseconds(c.interruptAfterMs);
        }
        const KeyRun run = RunKey(args, dir, interrupt);
        CloseComPort();
        EXPECT_EQ(run.code, c.code) << run.err;
        // With --json a failure after the line was understood is also one object.
        if (std::string(c.args).find("--json") == std::string::npos || c.code == 2) {
            EXPECT_EQ(run.out, "");
        } else {
            EXPECT_TRUE(std::regex_match(
                run.out, std::regex("\\{\"command\": .*\"result\": "
                                    "\"failed\", .*\"exit\": " +
                                    std::to_string(c.code) + ", \"message\": \".+\"\\}\n")))
                << run.out;
        }
        EXPECT_EQ(run.err.rfind("vantri-key: ", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_TRUE(HoldsInOrder(run.err, c.says)) << run.err;
        EXPECT_LT(run.seconds, c.within);
        EXPECT_EQ(Snapshot(dir), before);
        if (device) {  // no write completed, but the one --verify reads back
            EXPECT_EQ(fs::exists(device->saveFile()),
                      std::string(c.args).find("--verify") != std::string::npos);
        }
    }
}

}  // namespace
}  // namespace vantri::test
