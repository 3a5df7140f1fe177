// The resident memory of a vantri-devsim process over many exchanges: it
// runs the program, then read, write and verify cycles against it through
// the real serial link, and prints the program's resident size as it goes.
//
//   devsim-memory [--cycles N] [--every K] [--log]
//
// N cycles (default 1000), a line every K (default 100); --log gives the
// program a --log file too, which must go to the file, not to memory.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "serial/exchange.h"
#include "serial/zrkCommModule.h"

extern char** environ;

namespace {

// VmRSS of `pid` in KiB, or -1.
long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    int cycles = 1000;
    int every = 100;
    bool log = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--cycles" && i + 1 < argc) {
            cycles = std::atoi(argv[++i]);
        } else if (arg == "--every" && i + 1 < argc) {
            every = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--log") {
            log = true;
        } else {
            std::fprintf(stderr, "usage: devsim-memory [--cycles N] [--every K] [--log]\n");
            return 2;
        }
    }
    const std::string program = std::string(VANTRI_BIN_DIR) + "/vantri-devsim";
    const std::filesystem::path logFile =
        std::filesystem::temp_directory_path() / ("devsim-memory-" + std::to_string(getpid()));
    int out[2];
    if (::pipe(out) != 0) {
        std::perror("pipe");
        return 1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string logArg = "--log=" + logFile.string();
    char* args[] = {const_cast<char*>(program.c_str()), log ? logArg.data() : nullptr, nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, args, environ) != 0) {
        std::fprintf(stderr, "cannot run %s\n", program.c_str());
        return 1;
    }
    ::close(out[1]);
    std::string port;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n') {
        port.push_back(c);
    }
    int result = 0;
    if (vantri::OpenExchangePort(vantri::PortSetting{false, 0, port}) != 0) {
        std::fprintf(stderr, "cannot open %s\n", port.c_str());
        result = 1;
    }
    const long first = ResidentKiB(pid);
    std::printf("cycle %5d  VmRSS %6ld KiB\n", 0, first);
    long last = first;
    for (int cycle = 1; result == 0 && cycle <= cycles; ++cycle) {
        const vantri::ReadOutcome read = vantri::ReadKeyBuffer({});
        vantri::KeyBytes next = read.keyBuffer;
        for (char& b : next) {
            b = static_cast<char>(b + cycle);
        }
        const vantri::WriteOutcome write = vantri::WriteKeyBuffer(next, 4096, 0, {});
        const vantri::ReadOutcome verify = vantri::ReadKeyBuffer({});
        if (read.status != vantri::ExchangeStatus::Done ||
            write.status != vantri::ExchangeStatus::Done || verify.keyBuffer != next) {
            std::fprintf(stderr, "cycle %d did not go through\n", cycle);
            result = 1;
        }
        if (cycle % every == 0) {
            last = ResidentKiB(pid);
            std::printf("cycle %5d  VmRSS %6ld KiB\n", cycle, last);
            std::fflush(stdout);
        }
    }
    std::printf("growth over %d cycles: %ld KiB\n", cycles, last - first);
    vantri::CloseComPort();
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    std::error_code ec;
    if (log) {
        std::printf("log file: %ju bytes\n",
                    static_cast<std::uintmax_t>(std::filesystem::file_size(logFile, ec)));
    }
    std::filesystem::remove(logFile, ec);
    return result;
}
