// vantri-key run as a user or a script runs it, against the simulated
// device on a real pseudo-terminal: its runs, what they print and their exit
// codes, the files and the device afterwards; vantri-devsim's refusals; and
// the manual pages and completion against what the programs accept.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>

#include "serial/exchange.h"
#include "serial/zrkCommModule.h"
#include "tests/common/files.h"
#include "tests/common/sim_device.h"

namespace vantri {
namespace {

using namespace test;

std::vector<std::string> Words(const std::string& text) {
    static const std::regex word("\\S+");
    return {std::sregex_token_iterator(text.begin(), text.end(), word), {}};
}

struct Outcome {
    int code = -1;  // 137 when killed at 20 s
    std::string out, err;
};

// The shell line that runs "$@" from the build ("pre$@" prefixes the first
// word only) in "$0": timeout forwards the Ctrl-Cs to the program, in the
// foreground once each.
const char* const kRun = "cd \"$0\" && exec timeout --foreground -s KILL 20 \"" VANTRI_BIN_DIR
                         "/$@\" </dev/null >run.out 2>run.err";

// Runs the program from the build that `args` starts with, in `dir`, to its
// end (killed after 20 s), standard input /dev/null, output to run.out and
// run.err there.  Meanwhile Ctrl-C `times` times: the first once `device`
// has taken more than `after` bytes, the second once the program says it
// finishes the write.
Outcome RunProgram(std::vector<std::string> args, const TempDir& dir,
                   sim::Simulator* device = nullptr, std::size_t after = 0, int times = 0) {
    args.insert(args.begin(), {"/bin/sh", "-c", kRun, dir.path.string()});
    std::vector<char*> argv(args.size() + 1);  // ends with nullptr
    std::ranges::transform(args, argv.begin(), [](std::string& arg) { return arg.data(); });
    pid_t pid = -1;
    EXPECT_EQ(::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    for (int i = 0; i < times; ++i) {
        const bool ready = Eventually([&] {
            return device->ReceivedBytes().size() > after &&
                   (i == 0 || ReadFile(dir / "run.err").find("finishing") != std::string::npos);
        });
        EXPECT_TRUE(ready && ::kill(pid, SIGINT) == 0);
    }
    int status = -1;
    return {::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            ReadFile(dir / "run.out"), ReadFile(dir / "run.err")};
}

// The simulated device on a thread of the test, serving `buffer` with
// `fault` (empty: none) at `lineRate` (0: as fast as it goes), its port
// linked as `dir`/port.
std::unique_ptr<sim::Simulator> Device(const TempDir& dir, const char* fault,
                                       const std::string& buffer = {}, std::uint32_t lineRate = 0) {
    std::string error;
    // link, buffer, saveFile, lineRate, logFile, faults
    auto device =
        StartSimDevice({fault}, {(dir / "port").string(), buffer, {}, lineRate, {}, {}}, error);
    EXPECT_NE(device, nullptr) << error;
    return device;
}

// "a*b": `text` holds a, and b after it.
bool HoldsInOrder(const std::string& text, const std::string& fragments) {
    const std::regex special(R"([.^$|()[\]{}+?\\])"), star("\\*");
    const std::string literal = std::regex_replace(fragments, special, "\\$&");
    return std::regex_search(text, std::regex(std::regex_replace(literal, star, "[\\s\\S]*")));
}

// Every file and folder under `dir` with its size, but the programs' output
// and the device's link.
std::map<std::string, std::uintmax_t> Snapshot(const TempDir& dir) {
    std::map<std::string, std::uintmax_t> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path)) {
        if (!std::regex_search(entry.path().filename().string(), std::regex("^(run\\.|port)"))) {
            entries[entry.path().string()] = entry.is_regular_file() ? entry.file_size() : 0;
        }
    }
    return entries;
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
    // The device's buffer, and the files.
    const std::string in = RandomBytes(4096, 1);
    const std::string changed = char(in[0] ^ '\xFF') + in.substr(1, 4094) + char(in[4095] ^ '\x01');
    // clang-format off
    const std::pair<const char*, std::string> files[] = {{"in.bin", in}, {"k.bin", RandomBytes(4096, 2)},
        {"ключ-鍵.bin", RandomBytes(4096, 3)}, {"changed.bin", changed}, {"short.bin", std::string(4095, '\x5A')},
        {"precious", "keep me"}};
    // clang-format on
    for (const auto& [name, bytes] : files) {
        WriteFile(dir / name, bytes);
    }
    std::filesystem::create_directory(dir / "folder");
    struct Case {
        // Split at blanks; "port" is the device's link (none without a
        // device).  A first word VANTRI_PORT sets VANTRI_PORT=port; a first
        // word vantri-devsim runs that program.
        const char *args, *fault;  // fault: the device's ("" none); nullptr: no device
        int code;
        // out: standard output, a regular expression, or *a*b: fragments in
        // order.  err: fragments split at '*'.  file: holds the device's
        // buffer afterwards (run.out: standard output; "": the device holds
        // the file a write names).
        const char *out, *err, *file = nullptr;
        double min = 0, within = 20;  // seconds
        // held: another program has the port open; the device's line rate
        // (0: as fast as it goes) and Ctrl-Cs, see RunProgram.
        int held = 0, lineRate = 0, interrupts = 0, after = 0;
    };
    // clang-format off
    const Case cases[] = {
        {"read --port port", "", 0, "Read 4096 bytes from port in [0-9]+\\.[0-9][0-9] s -> Ram\\.Bin\n", "", "Ram.Bin"},
        // The default pacing, 257 pauses of 10 ms at the least, and the read-back
        // waiting for a device that takes 3 s to store the write.
        {"write --port port k.bin", "slow-store:3000", 0,
         "Wrote 4096 bytes from k\\.bin to port .*\\(blocksize 16, delay 10 ms\\), verified\n", "", "", 2.57},
        {"--quiet read --port port --out k2.bin", "", 0, "", "", "k2.bin"},
        {"VANTRI_PORT verify -q k2.bin", "", 0, "", ""},
        {"read --out - -pport", "", 0, R"([\s\S]*)", "-> standard output", "run.out"},
        {"VANTRI_PORT write --verify --json --delay 0 k.bin", "", 0, R"(\{"command": "write", "result": "ok", "port": "port", "file": "k\.bin", "bytes": 4096, "seconds": [0-9.]+, "exit": 0\}\n)", "", ""},
        {"verify --json --port=port in.bin", "", 0, R"(\{"command": "verify", "result": "ok", "port": "port", "file": "in\.bin", "bytes": 4096, "seconds": [0-9.]+, "exit": 0\}\n)", ""},
        {"read --json -p port --out=caf\xE9.bin", "", 0, R"(\{"command": "read", "result": "ok", "port": "port", "file": "caf\\u00e9\.bin", "bytes": 4096, "seconds": [0-9.]+, "exit": 0\}\n)", "", "caf\xE9.bin"},
        {"VANTRI_PORT ports --json", "", 0, "\\[.*\\]\n", ""},
        {"write -p port --blocksize 4096 --delay 0 --no-verify ключ-鍵.bin", "", 0, "Wrote .* from ключ-鍵\\.bin to .*ms\\)\n", "", ""},
        {"verify -p port caf\xE9.bin", "", 0, "*identical to caf\xE9.bin\n", ""},
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
        {"write --port 1 --blocksize 0 in.bin", nullptr, 2, "", "Blocksize must be a whole number from 1 to 32767."},
        // The port.
        {"read --port port", nullptr, 3, "", "no such port; try vantri-key ports"},
        {"read --port 0", nullptr, 2, "", "port numbers start at 1 (COM1)"},
        {"read --port /dev/null", nullptr, 3, "", "serial port"},
        {"read --port port --out out.bin", "", 3, "", "the port is busy, another program holds it", nullptr, 0, 20, 1},
        // The key buffer file, checked before the port (which is not there); with
        // --json a failure is one object too.
        {"write --port port short.bin", nullptr, 4, "", "short.bin holds 4095 bytes; a key buffer file must hold exactly 4096 bytes."},
        {"verify --port port --json absent-\xE9\xFF.bin", nullptr, 4, R"(\{"command": .*"result": "failed", .*"exit": 4, "message": ".+"\}\n)", "cannot read absent-\xE9\xFF.bin: "},
        {"verify --port port --json ключ-a\xF0\x9F\x94.\xED\xA0\x80\xC0\xAF\x01\"\\.bin", nullptr, 4, R"(\{"command": .*"result": "failed", .*"exit": 4, "message": ".+"\}\n)", "cannot read ключ-a"},
        // Bad responses; a silent device ends the read within the answer time-out.
        {"read --port port --out out.bin", "silent", 5, "", "did not answer within 2 s", nullptr, 0, 3},
        {"read --port port --out out.bin", "garbage:4097", 5, "", "the character at offset 4097 (0x47) is not a hex digit"},
        {"verify --port port in.bin", "short:8191", 5, "", "incomplete response from*8191 of 8192 characters"},
        // The device lost during a write: 63 pauses of 10 ms, then at once; and at its
        // very last byte: never a success.
        {"write --port port in.bin", "hangup:1001", 6, "", "device lost on port *partly written*switch it off and on", nullptr, 0, 2},
        {"write --port port --delay 0 in.bin", "hangup:4096", 6, "", "device lost on port *before anything else, then write again."},
        // The output file.
        {"read --port port --out missing/out.bin", "", 7, "", "the folder missing does not exist"},
        {"read --port port --out folder", "", 7, "", "it is a folder"},
        {"read --port port --out /proc/version", "", 7, "", "the existing file is untouched"},
        // A difference, named by its first offset and its count, never by its bytes (keys).
        {"write --port port --delay 0 in.bin", "flip:4095", 8, "", "differs from in.bin in 1 of 4096 bytes, the first at offset 4095 (0x0FFF).\n"},
        {"verify --port port --json changed.bin", "", 8, R"(\{"command": .*"result": "failed", .*"exit": 8, "message": ".+"\}\n)", "differs from changed.bin in 2 of 4096 bytes, the first at offset 0 (0x0000)"},
        // Ctrl-C: a read at 2400 baud (34 s) stops reading at once and lets the answer
        // run at most 5 s more; a started write is finished first; the second Ctrl-C
        // abandons it, during a pause, not after it.
        {"read --port port --out out.bin", "", 130, "", "letting the device finish its answer*interrupted; nothing was saved. "
         "The device may still be sending", nullptr, 0, 8, 0, 2400, 1},
        {"write --port port --delay 5 in.bin", "", 130, "", "finishing the write first*interrupted; the write was finished first",
         nullptr, 0, 20, 0, 0, 1, 200},
        {"write --port port --delay 30000 in.bin", "", 130, "",
         "finishing the write first*write abandoned after 0 of 4096 bytes: *switch it off and on", nullptr, 0, 10, 0, 0, 2},
        // vantri-devsim refuses what it cannot serve before it prints a port: a link
        // a live simulator serves (exit 1, as a device that cannot start), and a file
        // that is not a link; and bad options.
        {"vantri-devsim --link port", "", 1, "", "--link port: a running simulator serves this link"},
        {"vantri-devsim --link precious", nullptr, 2, "", "--link"},
        {"vantri-devsim --fault short:8193", nullptr, 2, "", "--fault"},
        {"vantri-devsim --line-rate 0", nullptr, 2, "", "--line-rate"},
        {"vantri-devsim stray", nullptr, 2, "", "stray"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.args) + " / fault " + (c.fault ? c.fault : "no device"));
        const auto device = c.fault ? Device(dir, c.fault, in, c.lineRate) : nullptr;
        const auto args = Words(std::regex_replace(
            std::string(c.args), std::regex("^(VANTRI_PORT )?(?!vantri-)"), "vantri-key "));
        std::string_view(c.args).starts_with("VANTRI_PORT ") ? ::setenv("VANTRI_PORT", "port", 1)
                                                             : ::unsetenv("VANTRI_PORT");
        ASSERT_TRUE(!c.held || OpenExchangePort(PortSetting{false, 0, device->PortPath()}) == 0);
        const auto before = Snapshot(dir);
        const auto start = std::chrono::steady_clock::now();
        const Outcome run = RunProgram(args, dir, device.get(), c.after, c.interrupts);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        CloseComPort();
        EXPECT_EQ(run.code, c.code) << run.err;
        EXPECT_TRUE(took.count() >= c.min && took.count() < c.within) << took.count();
        // --json prints what Python's json module reads, for a failure too.
        const std::string json = "python3 -m json.tool >/dev/null " + (dir / "run.out").string();
        EXPECT_TRUE(c.code == 2 || !std::ranges::count(args, "--json") ||
                    !std::system(json.c_str()));
        EXPECT_TRUE(*c.out == '*' ? HoldsInOrder(run.out, c.out + 1)
                                  : std::regex_match(run.out, std::regex(c.out)))
            << run.out;
        EXPECT_TRUE(c.code == 0 && *c.err == '\0' ? run.err.empty() : HoldsInOrder(run.err, c.err))
            << run.err;
        EXPECT_TRUE(!c.file || Eventually([&] {
            return *c.file ? ReadFile(dir / c.file) == in
                           : device->Buffer() == ReadFile(dir / args.back());
        }));
        if (c.code != 0) {
            EXPECT_TRUE(run.err.starts_with(args[0] + ": ")) << run.err;
            // One line, and one more for an exchange that Ctrl-C lets end first.
            EXPECT_EQ(std::ranges::count(run.err, '\n'), c.code == 130 ? 2 : 1) << run.err;
            EXPECT_EQ(Snapshot(dir), before);
            // No write completed, but the one read back or finished at Ctrl-C.
            EXPECT_TRUE(!device || device->WritesCompleted() ==
                                       (args[1] == "write" && (c.code == 8 || c.interrupts == 1)));
        }
    }
}

// A write abandoned half-way leaves the device taking what comes next as
// the rest of its buffer: the next write is never reported done, and once
// the device is switched off and on, as the message says, a write is right.
TEST(Cli, AfterAnAbandonedWriteOnlyAFreshStartHelps) {
    TempDir dir;
    WriteFile(dir / "a.bin", RandomBytes(4096, 6));
    WriteFile(dir / "b.bin", RandomBytes(4096, 7));
    auto device = Device(dir, "");
    const auto write = [&](const char* file, int interrupts = 0) {
        return RunProgram({"vantri-key", "write", "-p", "port", "--delay", "1", file}, dir,
                          device.get(), 1000, interrupts);
    };
    const Outcome cut = write("a.bin", 2), next = write("b.bin");
    EXPECT_TRUE(cut.code == 130 && HoldsInOrder(cut.err, "write abandoned")) << cut.err;
    EXPECT_TRUE(next.code == 5 || next.code == 8) << next.code << ": " << next.err;
    device.reset();  // switched off and on
    device = Device(dir, "");
    EXPECT_EQ(write("b.bin").code, 0);
    EXPECT_EQ(device->Buffer(), ReadFile(dir / "b.bin"));
}

// Each option that a program's help names (vantri-key's per command) is in
// its manual page and, for vantri-key, in the completion of that command
// (the top level's at its "" case); each option the manual pages name, the
// parsers accept.
TEST(Cli, ManualsAndCompletionNameWhatTheParsersAccept) {
    TempDir dir;
    const std::string source = VANTRI_SOURCE_DIR "/packaging/";
    const std::string completion = ReadFile(source + "vantri-key.bash-completion");
    // An option in a help, or a fault mode of vantri-devsim's help ("      name"
    // or "      name:N"); an option in a manual page.
    const std::regex option("(^|[ ,[|(])(--?[a-z][a-z-]*)|\n      ([a-z][a-z-]*)"),
        bold("\\*(--?[a-z][a-z-]*)");
    const std::vector<std::string> commands = {"", "read", "write", "verify", "ports"};
    for (const std::string program : {"vantri-key", "vantri-devsim"}) {
        const std::string manual = ReadFile(source + "man/" + program + ".1.scd");
        const bool key = program == "vantri-key";
        for (const std::string& command : key ? commands : std::vector<std::string>{""}) {
            const std::string help = RunProgram({program, command, "--help"}, dir).out;
            // The completion's options for the command; all it names at the top.
            std::smatch m;
            std::regex_search(completion, m, std::regex(command + "\\) options=(\"[^\"]*\")"));
            const std::string offered = command.empty() ? completion : m[1].str();
            for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it) {
                const std::string name = (*it)[2].str() + (*it)[3].str();  // one is empty
                SCOPED_TRACE(program + " " + command + ": " + name);
                // an option as *--name*, a fault mode as *name or *name:N
                EXPECT_NE(manual.find("*" + name + (name[0] == '-' ? "*" : "")), std::string::npos);
                EXPECT_TRUE(!key || name[0] != '-' ||
                            std::regex_search(offered, std::regex("[\" ]" + name + "[\" ]")));
            }
        }
        for (std::sregex_iterator it(manual.begin(), manual.end(), bold), end; it != end; ++it) {
            // vantri-devsim has no commands
            const auto args = Words(program + (key ? " ports " : " ") + (*it)[1].str());
            EXPECT_EQ(RunProgram(args, dir).err.find("unknown option"), std::string::npos)
                << args.back();
        }
    }
}

}  // namespace
}  // namespace vantri
