// vantri-key run as a user or a script runs it, against the simulated
// device on a real pseudo-terminal: its successful runs and what they print,
// its failures, each with its exit code and one line on standard error,
// within its time, changing no file; and vantri-devsim's refusal of options
// it cannot use and of a link another simulator serves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "serial/exchange.h"
#include "serial/zrkCommModule.h"
#include "tests/common/files.h"
#include "tests/common/sim_device.h"

namespace vantri {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace test;

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

// Shell-quoted.
std::string Quote(const std::string& text) {
    return "'" + std::regex_replace(text, std::regex("'"), "'\\''") + "'";
}

struct Outcome {
    int code = -1;  // 137 when killed at 20 s
    std::string out, err;
    double seconds = 0;
};

// Runs `program` from the build in `dir` to its end (killed after 20 s),
// standard input /dev/null.  `during`, when given, runs on the test's thread
// meanwhile with the program's process id, to send it signals when what it
// waits for happens.
Outcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const TempDir& dir, const std::function<void(pid_t)>& during = {}) {
    std::string command = "cd " + Quote(dir.path) +
                          " && echo $$ >run.pid && exec timeout --foreground --preserve-status " +
                          "-s KILL 20 " + Quote(std::string(VANTRI_BIN_DIR) + "/" + program);
    for (const auto& arg : args) {
        command += " " + Quote(arg);
    }
    fs::remove(dir / "run.pid");
    const auto start = Clock::now();
    int status = -1;
    std::thread runner(
        [&] { status = std::system((command + " </dev/null >run.out 2>run.err").c_str()); });
    if (during) {
        // timeout runs the program as its child: signal the child, not timeout.
        pid_t shell = 0;
        if (Eventually(
                [&] { return (shell = std::atoi(ReadFile(dir / "run.pid").c_str())) > 0; })) {
            pid_t child = 0;
            Eventually([&] {
                std::istringstream children(ReadFile("/proc/" + std::to_string(shell) + "/task/" +
                                                     std::to_string(shell) + "/children"));
                return static_cast<bool>(children >> child);
            });
            during(child > 0 ? child : shell);
        }
    }
    runner.join();
    Outcome run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.out = ReadFile(dir / "run.out");
    run.err = ReadFile(dir / "run.err");
    return run;
}

// The simulated device on a thread of the test, serving `buffer` (empty: its
// own) with `fault` (empty: none) at `lineRate` (0: as fast as it goes).
std::unique_ptr<sim::Simulator> Device(std::string_view fault, std::string buffer = {},
                                       std::uint32_t lineRate = 0) {
    std::string error;
    auto device = StartSimDevice(fault, std::move(buffer), lineRate, error);
    EXPECT_NE(device, nullptr) << error;
    return device;
}

// "a*b": `text` holds a, and b after it.
bool HoldsInOrder(const std::string& text, const std::string& fragments) {
    std::size_t at = 0;
    std::istringstream parts(fragments);
    for (std::string part; std::getline(parts, part, '*');) {
        if ((at = text.find(part, at)) == std::string::npos) {
            return false;
        }
        at += part.size();
    }
    return true;
}

// Successes in a row on one device, as a user or a script would run them:
// what each prints on standard output (nothing on standard error), and
// what the files and the device then hold.  -p and VANTRI_PORT name the
// port; a file name is the bytes given, UTF-8 or not.
TEST(Cli, SuccessesPrintWhatTheOptionsAsk) {
    TempDir dir;
    const std::string first = RandomBytes(4096, 1), key = RandomBytes(4096, 2),
                      utf8 = RandomBytes(4096, 3);
    WriteFile(dir / "k.bin", key);
    WriteFile(dir / "ключ-鍵.bin", utf8);
    const auto device = Device({}, first);
    ASSERT_NE(device, nullptr);
    const std::string json =
        "\\{\"command\": \"%s\", \"result\": \"ok\", \"port\": \"PORT\", \"file\": \"%s\", "
        "\"bytes\": 4096, \"seconds\": [0-9.]+, \"exit\": 0\\}\n";
    struct Case {
        const char* args;  // PORT: the device's port
        bool portInEnvironment;
        // A regular expression; RAW: exactly the key buffer; cmd|file: the
        // JSON object; *a*b: fragments in order.
        const char* out;
        const char* file = nullptr;  // then holding `holds`; "": the device's
        const std::string* holds = nullptr;
        double minSeconds = 0;
    };
    // clang-format off
    const Case cases[] = {
        {"read --port PORT", false,
         "Read 4096 bytes from PORT in [0-9]+\\.[0-9][0-9] s -> Ram\\.Bin\n", "Ram.Bin", &first},
        // The default pacing: 257 pauses of 10 ms at the least.
        {"write --port PORT k.bin", false,
         "Wrote 4096 bytes from k\\.bin to PORT .*\\(blocksize 16, delay 10 ms\\), verified\n", "",
         &key, 2.57},
        {"verify --port PORT k.bin", false, "*identical to k.bin\n"},
        {"read --port=PORT --out=Ram.Bin", false, "Read .*\n", "Ram.Bin", &key},  // replaced
        {"--quiet read --port PORT --out k2.bin", false, "", "k2.bin", &key},
        {"verify -q k2.bin", true, ""},
        {"read --out - -pPORT", false, "RAW"},
        {"write --verify --json --delay 0 k.bin", true, "write|k.bin"},
        {"verify --json --port=PORT k.bin", false, "verify|k.bin"},
        {"read --json -p PORT --out k3.bin", false, "read|k3.bin", "k3.bin", &key},
        {"ports --json", true, "\\[.*\\]\n"},
        {"write -p PORT --blocksize 4096 --delay 0 --no-verify ключ-鍵.bin", false,
         "Wrote .* from ключ-鍵\\.bin to .*ms\\)\n", "", &utf8},
        {"read -p PORT --out copy-\xE9.bin", false, "*-> copy-\xE9.bin\n", "copy-\xE9.bin", &utf8},
        {"verify -p PORT copy-\xE9.bin", false, "*identical to copy-\xE9.bin\n"},
        {"--help", false, "*read*--out FILE|-*write*--no-verify*verify*ports*-p PORT*"
         "VANTRI_PORT*--json*--quiet*Exit codes*  0 *  2 *  3 *  4 *  5 *  6 *  7 *  8 *130 "},
        {"--version", false, "vantri-key .*\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        std::vector<std::string> args = Words(c.args);
        for (auto& a : args) {
            a = std::regex_replace(a, std::regex("PORT"), device->PortPath());
        }
        if (c.portInEnvironment) {
            ::setenv("VANTRI_PORT", device->PortPath().c_str(), 1);
        }
        const Outcome run = RunProgram("vantri-key", args, dir);
        ::unsetenv("VANTRI_PORT");
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_GE(run.seconds, c.minSeconds);
        std::string pattern = c.out;
        if (const auto bar = pattern.find('|'); bar != std::string::npos && pattern[0] != '*') {
            char text[512];
            std::snprintf(text, sizeof text, json.c_str(), pattern.substr(0, bar).c_str(),
                          pattern.substr(bar + 1).c_str());
            pattern = text;
        }
        if (pattern == "RAW") {
            EXPECT_EQ(run.out, key);
            EXPECT_TRUE(HoldsInOrder(run.err, "-> standard output")) << run.err;
        } else {
            EXPECT_EQ(run.err, "");
            EXPECT_TRUE(pattern[0] == '*'
                            ? HoldsInOrder(run.out, pattern.substr(1))
                            : std::regex_match(
                                  run.out, std::regex(std::regex_replace(
                                               pattern, std::regex("PORT"), device->PortPath()))))
                << run.out;
        }
        if (c.file != nullptr) {
            EXPECT_TRUE(*c.file != '\0' ? ReadFile(dir / c.file) == *c.holds
                                        : Eventually([&] { return device->Buffer() == *c.holds; }));
        }
    }
}

// A device that takes 3 s to store a write answers the read-back only
// then: the write waits for it instead of calling a stored write a failure.
TEST(Cli, AWriteIsReadBackFromADeviceSlowToStore) {
    TempDir dir;
    const std::string key = RandomBytes(4096, 5);
    WriteFile(dir / "k.bin", key);
    const auto device = Device("slow-store:3000");
    ASSERT_NE(device, nullptr);
    const Outcome run =
        RunProgram("vantri-key", {"write", "-p", device->PortPath(), "--delay", "0", "k.bin"}, dir);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(HoldsInOrder(run.out, "Wrote 4096 bytes*, verified\n")) << run.out;
    EXPECT_EQ(device->Buffer(), key);
}

// A write abandoned half-way leaves the device taking what comes next as
// the rest of its buffer: the next write is never reported done, and once
// the device is switched off and on, as the message says, a write is right.
TEST(Cli, AfterAnAbandonedWriteOnlyAFreshStartHelps) {
    TempDir dir;
    const std::string a = RandomBytes(4096, 6), b = RandomBytes(4096, 7);
    WriteFile(dir / "a.bin", a);
    WriteFile(dir / "b.bin", b);
    auto device = Device({});
    ASSERT_NE(device, nullptr);
    const auto write = [&](const char* file, const std::function<void(pid_t)>& during = {}) {
        return RunProgram("vantri-key", {"write", "-p", device->PortPath(), "--delay", "1", file},
                          dir, during);
    };
    const Outcome cut = write("a.bin", [&](pid_t pid) {
        ASSERT_TRUE(Eventually([&] { return device->ReceivedBytes().size() > 1000; }));
        ::kill(pid, SIGINT);
        ASSERT_TRUE(Eventually(
            [&] { return ReadFile(dir / "run.err").find("finishing") != std::string::npos; }));
        ::kill(pid, SIGINT);
    });
    EXPECT_EQ(cut.code, 130) << cut.err;
    EXPECT_TRUE(HoldsInOrder(cut.err, "write abandoned after*switch it off and on")) << cut.err;

    const Outcome next = write("b.bin");
    EXPECT_TRUE(next.code == 5 || next.code == 8) << next.code << ": " << next.err;

    device = Device({});  // switched off and on
    ASSERT_NE(device, nullptr);
    const Outcome fresh = write("b.bin");
    EXPECT_EQ(fresh.code, 0) << fresh.err;
    EXPECT_EQ(device->Buffer(), b);
}

// Every file and folder under `dir` with its size, but the programs' output.
std::map<std::string, std::uintmax_t> Snapshot(const TempDir& dir) {
    std::map<std::string, std::uintmax_t> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path)) {
        if (entry.path().filename().string().rfind("run.", 0) != 0) {
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
    buffer[0] = static_cast<char>(buffer[0] ^ 0xFF);
    buffer[4095] = static_cast<char>(buffer[4095] ^ 0x01);
    WriteFile(dir / "changed.bin", buffer);
    WriteFile(dir / "short.bin", std::string(4095, '\x5A'));
    WriteFile(dir / "empty.bin", "");
    fs::create_directory(dir / "folder");
    const double answerBound = DeviceAnswerTimeoutMs / 1000.0 + 1.0;

    struct Case {
        const char* args;   // split at blanks; PORT: the device's port or a missing one
        const char* fault;  // the device's ("" none); nullptr: no device
        int code;
        const char* says;  // fragments in order, split at '*'
        double within = 20;
        bool holdPort = false;  // another program has the port open
        std::uint32_t lineRate = 0;
        // Ctrl-Cs, the first once the device has taken more than `after`
        // bytes, the second once the program says it finishes the write.
        int interrupts = 0;
        std::size_t after = 0;
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
        {"read -p 1 --json --out -", nullptr, 2, "--json and --out - would both"},
        {"write --port 1", nullptr, 2, "needs the key buffer file"},
        {"read --port 70000", nullptr, 2, "from -32768 to 32767"},
        {"write --port 1 --blocksize 0 in.bin", nullptr, 2,
         "Blocksize must be a whole number from 1 to 32767."},
        // The port.
        {"read --port PORT", nullptr, 3, "no such port; try vantri-key ports"},
        {"read --port 0", nullptr, 2, "port numbers start at 1 (COM1)"},
        {"read --port /dev/null", nullptr, 3, "serial port"},
        {"read --port PORT --out out.bin", "", 3, "the port is busy, another program holds it",
         20, true},
        // The key buffer file, checked before the port (which is not there).
        {"write --port PORT short.bin", nullptr, 4,
         "short.bin holds 4095 bytes; a key buffer file must hold exactly 4096 bytes."},
        {"write --port PORT missing.bin", nullptr, 4, "cannot read missing.bin"},
        {"verify --port PORT absent-\xE9\xFF.bin", nullptr, 4, "cannot read absent-\xE9\xFF.bin: "},
        // Bad responses; a silent device ends the read within the answer time-out.
        {"read --port PORT --out out.bin", "silent", 5, "did not answer within 2 s",
         answerBound},
        {"read --port PORT --out out.bin", "short:100", 5, "incomplete response from"},
        {"read --port PORT --out out.bin", "garbage:4097", 5,
         "the character at offset 4097 (0x47) is not a hex digit"},
        {"verify --port PORT in.bin", "short:8191", 5, "8191 of 8192 characters"},
        // The device lost during a write: 63 pauses of 10 ms, then at once.
        {"write --port PORT in.bin", "hangup:1001", 6,
         "device lost on /dev/pts/*partly written*switch it off and on", 2.0},
        // ... and at its very last byte: never a success.
        {"write --port PORT --delay 0 in.bin", "hangup:4096", 6,
         "device lost on /dev/pts/*before anything else, then write again."},
        // The output file.
        {"read --port PORT --out missing/out.bin", "", 7, "the folder missing does not exist"},
        {"read --port PORT --out folder", "", 7, "it is a folder"},
        {"read --port PORT --out /proc/version", "", 7, "the existing file is untouched"},
        // A difference, named by its first offset and its count.
        {"write --port PORT --delay 0 in.bin", "flip:4095", 8,
         "differs from in.bin in 1 of 4096 bytes, the first at offset 4095 (0x0FFF)"},
        {"verify --port PORT --json changed.bin", "", 8,
         "differs from changed.bin in 2 of 4096 bytes, the first at offset 0 (0x0000)"},
        // Ctrl-C: a read at 2400 baud (34 s) stops reading at once and lets the answer
        // run at most 5 s more; a started write is finished first.
        {"read --port PORT --out out.bin", "", 130,
         "letting the device finish its answer*interrupted; nothing was saved. The device may "
         "still be sending",
         8, false, 2400, 1},
        // A started write is finished at the first Ctrl-C, abandoned at once
        // at the second, with the words that get the device right again.
        {"write --port PORT --delay 5 in.bin", "", 130,
         "finishing the write first*interrupted; the write was finished first", 20, false, 0, 1,
         200},
        // The second acts during a pause, not after it.
        {"write --port PORT --delay 30000 in.bin", "", 130,
         "finishing the write first*write abandoned after 0 of 4096 bytes: *switch it off and on",
         10, false, 0, 2},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("vantri-key ") + c.args + " / fault " +
                     (c.fault != nullptr ? c.fault : "no device"));
        const auto device = c.fault != nullptr ? Device(c.fault, {}, c.lineRate) : nullptr;
        ASSERT_EQ(device == nullptr, c.fault == nullptr);
        const std::string port = device ? device->PortPath() : (dir / "no-such-tty").string();
        std::vector<std::string> args = Words(c.args);
        for (auto& a : args) {
            a = a == "PORT" ? port : a;
        }
        if (c.holdPort) {
            ASSERT_EQ(OpenComPort(port, 115200, 0, 0, 100, 0, 2000, 1, 1000), 0);
        }
        const auto before = Snapshot(dir);
        std::function<void(pid_t)> interrupt;
        if (c.interrupts != 0) {
            interrupt = [&](pid_t pid) {
                ASSERT_TRUE(Eventually([&] { return device->ReceivedBytes().size() > c.after; }));
                ::kill(pid, SIGINT);
                if (c.interrupts > 1) {
                    ASSERT_TRUE(Eventually([&] {
                        return ReadFile(dir / "run.err").find("finishing") != std::string::npos;
                    }));
                    ::kill(pid, SIGINT);
                }
            };
        }
        const Outcome run = RunProgram("vantri-key", args, dir, interrupt);
        CloseComPort();
        EXPECT_EQ(run.code, c.code) << run.err;
        // With --json a failure after the line was understood is also one object.
        if (std::string(c.args).find("--json") == std::string::npos || c.code == 2) {
            EXPECT_EQ(run.out, "");
        } else {
            EXPECT_TRUE(std::regex_match(
                run.out, std::regex("\\{\"command\": .*\"result\": \"failed\", .*\"exit\": " +
                                    std::to_string(c.code) + ", \"message\": \".+\"\\}\n")))
                << run.out;
        }
        EXPECT_EQ(run.err.rfind("vantri-key: ", 0), 0u) << run.err;
        // One line, and one more for an exchange that Ctrl-C lets end first.
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), c.code == 130 ? 2 : 1)
            << run.err;
        EXPECT_EQ(run.err.back(), '\n');
        EXPECT_TRUE(HoldsInOrder(run.err, c.says)) << run.err;
        EXPECT_LT(run.seconds, c.within);
        EXPECT_EQ(Snapshot(dir), before);
        if (device) {  // no write completed, but the one read back or finished at Ctrl-C
            const bool completes =
                std::string(c.fault).rfind("flip", 0) == 0 ||
                (c.interrupts == 1 && std::string(c.args).rfind("write", 0) == 0);
            EXPECT_EQ(device->WritesCompleted(), completes ? 1 : 0);
        }
    }
}

// vantri-devsim refuses what it cannot serve, with exit 2 and before it
// prints a port, and never replaces a file that is not a link; a link that
// another simulator serves it refuses with exit 1, as a device it cannot
// start.
TEST(Cli, DevsimRefusesWhatItCannotServe) {
    TempDir dir;
    WriteFile(dir / "precious", "keep me");
    for (const char* args : {"--link precious", "--fault short:8193", "--fault burst:0:16",
                             "--line-rate 0", "stray"}) {
        const Outcome run = RunProgram("vantri-devsim", Words(args), dir);
        EXPECT_TRUE(run.code == 2 && run.out.empty() && HoldsInOrder(run.err, Words(args)[0]))
            << args << ": " << run.err;
    }
    EXPECT_EQ(ReadFile(dir / "precious"), "keep me");

    // A link that a live simulator serves, here one in another process.
    sim::Options options;
    options.link = (dir / "port").string();
    std::string error;
    const auto live = sim::Simulator::Start(options, error);
    ASSERT_NE(live, nullptr) << error;
    const Outcome run = RunProgram("vantri-devsim", {"--link", "port"}, dir);
    EXPECT_TRUE(run.code == 1 && run.out.empty() &&
                HoldsInOrder(run.err, "--link port: a running simulator serves this link"))
        << run.err;
    EXPECT_EQ(fs::read_symlink(dir / "port"), live->PortPath());
}

// Every --json line parses (here by Python's json module), whatever bytes a
// file name holds: well-formed UTF-8 as it is, any other byte as the Latin-1
// character of that byte.
TEST(Cli, EveryJsonLineParses) {
    TempDir dir;
    const auto device = Device({});
    ASSERT_NE(device, nullptr);
    struct Case {
        const char* args;  // PORT: the device's port
        const char* file;  // "file" as Python reads it, in ASCII escapes
        int code;
    };
    // clang-format off
    const Case cases[] = {
        {"read --json -p PORT --out caf\xE9.bin", "caf\\u00e9.bin", 0},
        {"verify --json -p PORT caf\xE9.bin", "caf\\u00e9.bin", 0},
        {"verify --json -p PORT \xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87-\xE9\x8D\xB5.bin",
         "\\u043a\\u043b\\u044e\\u0447-\\u9375.bin", 4},
        {"verify --json -p PORT a\xF0\x9F\x94.\xED\xA0\x80\xC0\xAF\x01\"\\.bin",
         "a\\u00f0\\u009f\\u0094.\\u00ed\\u00a0\\u0080\\u00c0\\u00af\\u0001\\\"\\\\.bin", 4},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        std::vector<std::string> args = Words(c.args);
        for (auto& a : args) {
            a = a == "PORT" ? device->PortPath() : a;
        }
        const Outcome run = RunProgram("vantri-key", args, dir);
        EXPECT_EQ(run.code, c.code) << run.err;
        // The file's name, and that the message names it as the file.
        const std::string parse =
            "cd " + Quote(dir.path) +
            " && python3 -c 'import json; o = json.loads(open(\"run.out\").read()); "
            "assert o[\"file\"] in o.get(\"message\", o[\"file\"]); "
            "print(json.dumps(o[\"file\"]))'";
        FILE* pipe = ::popen(parse.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[256] = "";
        std::fgets(line, sizeof line, pipe);
        EXPECT_EQ(::pclose(pipe), 0) << run.out;
        EXPECT_EQ(std::string(line), "\"" + std::string(c.file) + "\"\n") << run.out;
    }
}

// Each option that a program's help names (vantri-key's per command) is in
// its manual page and, for vantri-key, in the completion of that command;
// each option the manual pages name, the parsers accept.
TEST(Cli, ManualsAndCompletionNameWhatTheParsersAccept) {
    TempDir dir;
    const std::string source = VANTRI_SOURCE_DIR "/packaging/";
    const std::string completion = ReadFile(source + "vantri-key.bash-completion");
    const std::regex option("(^|[ ,[|(])(--?[a-z][a-z-]*)"), bold("\\*(--?[a-z][a-z-]*)");
    for (const char* program : {"vantri-key", "vantri-devsim"}) {
        const std::string manual = ReadFile(source + "man/" + program + ".1.scd");
        const bool key = std::string(program) == "vantri-key";
        for (const char* command : {"", "read", "write", "verify", "ports"}) {
            if (!key && *command != '\0') {
                break;
            }
            const std::string help = RunProgram(program, {command, "--help"}, dir).out;
            // vantri-key's offered options for the command, all of them at the top.
            std::smatch m;
            std::regex_search(completion, m,
                              std::regex(std::string(command) + "\\) options=\"([^\"]*)\""));
            const auto offered = Words(
                *command ? m[1].str() : std::regex_replace(completion, std::regex("[\"|)=]"), " "));
            for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it) {
                const std::string name = (*it)[2];
                SCOPED_TRACE(std::string(program) + " " + command + ": " + name);
                EXPECT_NE(manual.find("*" + name + "*"), std::string::npos);
                EXPECT_TRUE(!key || std::count(offered.begin(), offered.end(), name) > 0);
            }
            // The fault modes: "      name" or "      name:N".
            const std::regex mode("\n      ([a-z-]+)");
            for (std::sregex_iterator it(help.begin(), help.end(), mode), end; it != end; ++it) {
                EXPECT_NE(manual.find("*" + (*it)[1].str()), std::string::npos) << (*it)[1];
            }
        }
        for (std::sregex_iterator it(manual.begin(), manual.end(), bold), end; it != end; ++it) {
            const Outcome run = RunProgram(program,
                                           key ? std::vector<std::string>{"ports", (*it)[1]}
                                               : std::vector<std::string>{(*it)[1]},
                                           dir);
            EXPECT_EQ(run.err.find("unknown option"), std::string::npos)
                << program << ": " << run.err;
        }
    }
}

}  // namespace
}  // namespace vantri
