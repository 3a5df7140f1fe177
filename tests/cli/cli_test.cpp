// vantri-key run as a user or a script runs it, against the simulated
// device on a real pseudo-terminal: its runs, what they print and their exit
// codes, the files and the device afterwards; vantri-devsim's refusals; and
// the manual pages and completion against what the programs accept.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
    int code = -1;  // -1 when killed at 20 s
    std::string out, err;
    double seconds = 0;
};

// Runs `program` from the build in `dir` to its end (killed after 20 s),
// standard input /dev/null, output to run.out and run.err there.  `during`,
// when given, runs on the test's thread meanwhile with the program's process
// id, to send it signals when what it waits for happens.
Outcome RunProgram(const std::string& program, std::vector<std::string> args, const TempDir& dir,
                   const std::function<void(pid_t)>& during = {}) {
    args.insert(args.begin(), std::string(VANTRI_BIN_DIR) + "/" + program);
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const std::string folder = dir.path.string(), outFile = folder + "/run.out",
                      errFile = folder + "/run.err";
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {  // only async-signal-safe calls: the simulator's threads may hold locks
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (::dup2(::open("/dev/null", O_RDONLY), 0) == 0 && ::dup2(out, 1) == 1 &&
            ::dup2(err, 2) == 2 && ::chdir(folder.c_str()) == 0) {
            ::execv(argv[0], argv.data());
        }
        ::_exit(126);
    }
    if (during) {
        during(pid);
    }
    int status = -1;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() - start > std::chrono::seconds(20)) {
            ::kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
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

// Ctrl-C `times` times to the program: the first once the device has taken
// more than `after` bytes, the second once the program says it finishes the
// write.
std::function<void(pid_t)> CtrlC(sim::Simulator& device, const TempDir& dir, std::size_t after,
                                 int times) {
    return [&device, &dir, after, times](pid_t pid) {
        ASSERT_TRUE(Eventually([&] { return device.ReceivedBytes().size() > after; }));
        ::kill(pid, SIGINT);
        if (times > 1) {
            ASSERT_TRUE(Eventually(
                [&] { return ReadFile(dir / "run.err").find("finishing") != std::string::npos; }));
            ::kill(pid, SIGINT);
        }
    };
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

// Whether Python's json module reads the run's standard output.
bool ParsesAsJson(const TempDir& dir) {
    return std::system(("cd " + Quote(dir.path) +
                        " && python3 -c 'import json; json.loads(open(\"run.out\", "
                        "encoding=\"utf-8\").read())'")
                           .c_str()) == 0;
}

// Runs in a row, each against a fresh simulated device (or none), as a user
// or a script runs them.  A run gives its exit code; on standard output what
// it asks for, and with --json one object that Python's json module reads
// (a byte of a file name that is part of no UTF-8 sequence as the \u00XX of
// that byte), for a failure too; on standard error nothing on success and
// one line on failure; within its time.  Then the files and the device hold
// what they should, and a failure has changed no file.  -p and VANTRI_PORT
// name the port; a file name is the bytes given, UTF-8 or not.
TEST(Cli, RunsGiveTheirOutputExitCodeAndFiles) {
    TempDir dir;
    std::string in(4096, '\0');  // the device's own buffer
    for (std::size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    }
    const std::string key = RandomBytes(4096, 2), utf8 = RandomBytes(4096, 3);
    std::string changed = in;
    changed[0] = static_cast<char>(changed[0] ^ 0xFF);
    changed[4095] = static_cast<char>(changed[4095] ^ 0x01);
    for (const auto& [name, bytes] :
         std::map<std::string, std::string>{{"in.bin", in},
                                            {"k.bin", key},
                                            {"ключ-鍵.bin", utf8},
                                            {"changed.bin", changed},
                                            {"short.bin", std::string(4095, '\x5A')},
                                            {"precious", "keep me"}}) {
        WriteFile(dir / name, bytes);
    }
    fs::create_directory(dir / "folder");
    const double answerBound = DeviceAnswerTimeoutMs / 1000.0 + 1.0;
    const std::string json =
        "\\{\"command\": \"%s\", \"result\": \"ok\", \"port\": \"PORT\", \"file\": \"%s\", "
        "\"bytes\": 4096, \"seconds\": [0-9.]+, \"exit\": 0\\}\n";

    struct Case {
        // Split at blanks; PORT: the device's port, or a missing one.  A
        // first word VANTRI_PORT=... goes to the environment; a first word
        // vantri-devsim runs that program.
        const char* args;
        const char* fault;  // the device's ("" none); nullptr: no device
        int code;
        // Standard output: a regular expression; *a*b: fragments in order;
        // RAW: exactly the device's buffer; cmd|file: the JSON object of a
        // success.  With --json a failure's is checked without it.
        const char* out;
        const char* err;             // standard error, fragments split at '*'
        const char* file = nullptr;  // then holding `holds`; "": the device's buffer
        const std::string* holds = nullptr;
        const std::string* buffer = nullptr;  // the device's at the start
        double min = 0, within = 20;          // seconds
        bool holdPort = false;                // another program has the port open
        std::uint32_t lineRate = 0;
        int interrupts = 0;  // Ctrl-Cs, see CtrlC

        std::size_t after = 0;
    };
    // clang-format off
    const Case cases[] = {
        {"read --port PORT", "", 0,
         "Read 4096 bytes from PORT in [0-9]+\\.[0-9][0-9] s -> Ram\\.Bin\n", "", "Ram.Bin", &in},
        // The default pacing, 257 pauses of 10 ms at the least, and the read-back
        // waiting for a device that takes 3 s to store the write.
        {"write --port PORT k.bin", "slow-store:3000", 0,
         "Wrote 4096 bytes from k\\.bin to PORT .*\\(blocksize 16, delay 10 ms\\), verified\n", "", "",
         &key, nullptr, 2.57},
        {"read --port=PORT --out=Ram.Bin", "", 0, "Read .*\n", "", "Ram.Bin", &key, &key},  // replaced
        {"--quiet read --port PORT --out k2.bin", "", 0, "", "", "k2.bin", &in},
        {"VANTRI_PORT=PORT verify -q k2.bin", "", 0, "", ""},
        {"read --out - -pPORT", "", 0, "RAW", "-> standard output"},
        {"VANTRI_PORT=PORT write --verify --json --delay 0 k.bin", "", 0, "write|k\\.bin", "", "", &key},
        {"verify --json --port=PORT in.bin", "", 0, "verify|in\\.bin", ""},
        {"read --json -p PORT --out caf\xE9.bin", "", 0, "read|caf\\\\u00e9\\.bin", "", "caf\xE9.bin", &in},
        {"VANTRI_PORT=PORT ports --json", "", 0, "\\[.*\\]\n", ""},
        {"write -p PORT --blocksize 4096 --delay 0 --no-verify ключ-鍵.bin", "", 0,
         "Wrote .* from ключ-鍵\\.bin to .*ms\\)\n", "", "", &utf8},
        {"verify -p PORT caf\xE9.bin", "", 0, "*identical to caf\xE9.bin\n", ""},
        {"--help", nullptr, 0, "*read*--out FILE|-*write*--no-verify*verify*ports*-p PORT*"
         "VANTRI_PORT*--json*--quiet*Exit codes*  0 *  2 *  3 *  4 *  5 *  6 *  7 *  8 *130 ", ""},
        {"--version", nullptr, 0, "vantri-key .*\n", ""},
        // Usage errors and unusable settings, found before the port is opened.
        {"", nullptr, 2, "", "no command"},
        {"erase", nullptr, 2, "", "unknown command 'erase'"},
        {"read", nullptr, 2, "", "needs --port"},
        {"read --port", nullptr, 2, "", "--port needs a value"},
        {"read --port 1 --port 2", nullptr, 2, "", "given twice"},
        {"read --port 1 --blocksize 8", nullptr, 2, "", "--blocksize is not an option of read"},
        {"read -p 1 --json --out -", nullptr, 2, "", "--json and --out - would both"},
        {"write --port 1", nullptr, 2, "", "needs the key buffer file"},
        {"read --port 70000", nullptr, 2, "", "from -32768 to 32767"},
        {"write --port 1 --blocksize 0 in.bin", nullptr, 2, "",
         "Blocksize must be a whole number from 1 to 32767."},
        // The port.
        {"read --port PORT", nullptr, 3, "", "no such port; try vantri-key ports"},
        {"read --port 0", nullptr, 2, "", "port numbers start at 1 (COM1)"},
        {"read --port /dev/null", nullptr, 3, "", "serial port"},
        {"read --port PORT --out out.bin", "", 3, "", "the port is busy, another program holds it",
         nullptr, nullptr, nullptr, 0, 20, true},
        // The key buffer file, checked before the port (which is not there).
        {"write --port PORT short.bin", nullptr, 4, "",
         "short.bin holds 4095 bytes; a key buffer file must hold exactly 4096 bytes."},
        {"verify --port PORT --json absent-\xE9\xFF.bin", nullptr, 4, "", "cannot read absent-\xE9\xFF.bin: "},
        {"verify --port PORT --json ключ-a\xF0\x9F\x94.\xED\xA0\x80\xC0\xAF\x01\"\\.bin", nullptr, 4, "",
         "cannot read ключ-a"},
        // Bad responses; a silent device ends the read within the answer time-out.
        {"read --port PORT --out out.bin", "silent", 5, "", "did not answer within 2 s",
         nullptr, nullptr, nullptr, 0, answerBound},
        {"read --port PORT --out out.bin", "garbage:4097", 5, "",
         "the character at offset 4097 (0x47) is not a hex digit"},
        {"verify --port PORT in.bin", "short:8191", 5, "", "incomplete response from*8191 of 8192 characters"},
        // The device lost during a write: 63 pauses of 10 ms, then at once.
        {"write --port PORT in.bin", "hangup:1001", 6, "",
         "device lost on /dev/pts/*partly written*switch it off and on", nullptr, nullptr, nullptr, 0, 2.0},
        // ... and at its very last byte: never a success.
        {"write --port PORT --delay 0 in.bin", "hangup:4096", 6, "",
         "device lost on /dev/pts/*before anything else, then write again."},
        // The output file.
        {"read --port PORT --out missing/out.bin", "", 7, "", "the folder missing does not exist"},
        {"read --port PORT --out folder", "", 7, "", "it is a folder"},
        {"read --port PORT --out /proc/version", "", 7, "", "the existing file is untouched"},
        // A difference, named by its first offset and its count, never by its
        // bytes (keys).
        {"write --port PORT --delay 0 in.bin", "flip:4095", 8, "",
         "differs from in.bin in 1 of 4096 bytes, the first at offset 4095 (0x0FFF).\n"},
        {"verify --port PORT --json changed.bin", "", 8, "",
         "differs from changed.bin in 2 of 4096 bytes, the first at offset 0 (0x0000)"},
        // Ctrl-C: a read at 2400 baud (34 s) stops reading at once and lets the answer
        // run at most 5 s more; a started write is finished first.
        {"read --port PORT --out out.bin", "", 130, "",
         "letting the device finish its answer*interrupted; nothing was saved. The device may "
         "still be sending", nullptr, nullptr, nullptr, 0, 8, false, 2400, 1},
        {"write --port PORT --delay 5 in.bin", "", 130, "",
         "finishing the write first*interrupted; the write was finished first",
         nullptr, nullptr, nullptr, 0, 20, false, 0, 1, 200},
        // The second abandons it, during a pause, not after it.
        {"write --port PORT --delay 30000 in.bin", "", 130, "",
         "finishing the write first*write abandoned after 0 of 4096 bytes: *switch it off and on",
         nullptr, nullptr, nullptr, 0, 10, false, 0, 2},
        // vantri-devsim refuses what it cannot serve before it prints a port,
        // and never replaces a file that is not a link.
        {"vantri-devsim --link precious", nullptr, 2, "", "--link"},
        {"vantri-devsim --fault short:8193", nullptr, 2, "", "--fault"},
        {"vantri-devsim --fault burst:0:16", nullptr, 2, "", "--fault"},
        {"vantri-devsim --line-rate 0", nullptr, 2, "", "--line-rate"},
        {"vantri-devsim stray", nullptr, 2, "", "stray"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.args) + " / fault " + (c.fault ? c.fault : "no device"));
        const auto device =
            c.fault ? Device(c.fault, c.buffer ? *c.buffer : std::string(), c.lineRate) : nullptr;
        ASSERT_EQ(device == nullptr, c.fault == nullptr);
        const std::string port = device ? device->PortPath() : (dir / "no-such-tty").string();
        std::vector<std::string> args =
            Words(std::regex_replace(c.args, std::regex("PORT(?!=)"), port));
        std::string program = "vantri-key";
        if (!args.empty() && args[0].rfind("VANTRI_PORT=", 0) == 0) {
            ::setenv("VANTRI_PORT", args[0].substr(12).c_str(), 1);
            args.erase(args.begin());
        } else if (!args.empty() && args[0] == "vantri-devsim") {
            program = args[0];
            args.erase(args.begin());
        }
        if (c.holdPort) {
            ASSERT_EQ(OpenComPort(port, 115200, 0, 0, 100, 0, 2000, 1, 1000), 0);
        }
        const auto before = Snapshot(dir);
        const Outcome run =
            RunProgram(program, args, dir,
                       c.interrupts ? CtrlC(*device, dir, c.after, c.interrupts) : nullptr);
        ::unsetenv("VANTRI_PORT");
        CloseComPort();
        EXPECT_EQ(run.code, c.code) << run.err;
        EXPECT_GE(run.seconds, c.min);
        EXPECT_LT(run.seconds, c.within);
        std::string pattern = c.out;
        if (std::string(c.args).find("--json") != std::string::npos && c.code != 2) {
            EXPECT_TRUE(ParsesAsJson(dir)) << run.out;
            if (c.code != 0) {
                pattern = "\\{\"command\": .*\"result\": \"failed\", .*\"exit\": " +
                          std::to_string(c.code) + ", \"message\": \".+\"\\}\n";
            }
        }
        if (const auto bar = pattern.find('|'); bar != std::string::npos && pattern[0] != '*') {
            char text[512];
            std::snprintf(text, sizeof text, json.c_str(), pattern.substr(0, bar).c_str(),
                          pattern.substr(bar + 1).c_str());
            pattern = text;
        }
        if (pattern == "RAW") {
            EXPECT_EQ(run.out, in);
        } else {
            EXPECT_TRUE(pattern[0] == '*'
                            ? HoldsInOrder(run.out, pattern.substr(1))
                            : std::regex_match(run.out, std::regex(std::regex_replace(
                                                            pattern, std::regex("PORT"), port))))
                << run.out;
        }
        EXPECT_TRUE(c.code == 0 && *c.err == '\0' ? run.err.empty() : HoldsInOrder(run.err, c.err))
            << run.err;
        if (c.file != nullptr) {
            EXPECT_TRUE(*c.file != '\0' ? ReadFile(dir / c.file) == *c.holds
                                        : Eventually([&] { return device->Buffer() == *c.holds; }));
        }
        if (c.code == 0) {
            continue;
        }
        EXPECT_EQ(run.err.rfind(program + ": ", 0), 0u) << run.err;
        // One line, and one more for an exchange that Ctrl-C lets end first.
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), c.code == 130 ? 2 : 1)
            << run.err;
        EXPECT_EQ(Snapshot(dir), before);
        if (device) {  // no write completed, but the one read back or finished at Ctrl-C
            const bool completes =
                std::string(c.fault).rfind("flip", 0) == 0 ||
                (c.interrupts == 1 && std::string(c.args).rfind("write", 0) == 0);
            EXPECT_EQ(device->WritesCompleted(), completes ? 1 : 0);
        }
    }
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
    const Outcome cut = write("a.bin", CtrlC(*device, dir, 1000, 2));
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

// A link that a live simulator serves, here one in another process, is
// refused with exit 1, as a device that cannot start, and stays its.
TEST(Cli, DevsimRefusesALinkAnotherServes) {
    TempDir dir;
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
