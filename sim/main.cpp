// vantri-devsim: the simulated key buffer device as a program, for the demo,
// benchmarks and manual tests with any serial client.
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "sim/devsim.h"

namespace {

constexpr const char* kUsage =
    R"(usage: vantri-devsim [--link PATH] [--buffer FILE] [--save FILE] [--line-rate BAUD]
                     [--log FILE] [--fault MODE]...

Plays the key buffer device on a pseudo-terminal.  The first line printed is
the port to open; it serves until SIGINT or SIGTERM.  Like real firmware it
handles what it receives in order: bytes that arrive while it is busy wait
(up to 16384) until it is free.

  --link PATH       make PATH a symbolic link to the port, held by PATH.lock
                    while serving (refused if a running simulator serves it;
                    removed at exit, or at once when the line hangs up)
  --buffer FILE     start with the 4096 bytes of FILE (default: byte i = i*7+3)
  --save FILE       write each buffer received by a write to FILE
  --line-rate BAUD  send at BAUD, 10 bits a byte (default: as fast as it goes)
  --log FILE        log each byte received and each event (line settings too),
                    with microseconds
  --fault MODE      repeatable:
      silent        never answer a read request (0x05)
      short:N       send only the first N characters of an answer
      stall:N:MS    pause MS ms after the first N characters of an answer
      garbage:N     send 'G' in place of answer character N (from 0)
      extra:N       send N more hex characters after the 8192
      hangup:N      close the line after N bytes have crossed it, either way
      chatter       send a byte back for every 16 received during a write
      flip:N        store byte N (from 0) of each write inverted
      busy-drop     discard what arrives while an answer is being sent
      double        answer every read request twice, back to back
      slow-store:MS stay busy MS ms after a write's last byte, then store it
      burst:N:MS    hand the output over N bytes at a time, MS ms apart at least
  --help            show this text
)";

// Reads the key buffer file into `bytes`, refusing anything that is not a
// regular file of exactly 4096 bytes (without reading a large file to find
// out).  Empty when read, else what is wrong.
std::string ReadBufferFile(const std::string& path, std::string& bytes) {
    const std::string where = "--buffer " + path + ": ";
    struct stat st {};
    errno = 0;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return where + (errno != 0 ? std::strerror(errno) : "not a regular file");
    if (st.st_size == 4096) {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof())
            return where + "cannot read it";
    }
    // Either size, should the file change meanwhile.
    const auto size = st.st_size == 4096 ? static_cast<off_t>(bytes.size()) : st.st_size;
    return size == 4096 ? ""
                        : where + "holds " + std::to_string(size) +
                              " bytes; a key buffer file is exactly 4096 bytes";
}

// Takes the value of one option into `options`; empty, or what is wrong.
std::string SetOption(vantri::sim::Options& options, const std::string& arg,
                      const std::string& value) {
    std::string error;
    if (arg == "--buffer")
        return ReadBufferFile(value, options.buffer);
    if (arg == "--line-rate") {
        const char* end = value.data() + value.size();
        const bool rate = value.size() <= 9 &&
                          std::from_chars(value.data(), end, options.lineRate).ptr == end &&
                          options.lineRate != 0;
        return rate ? "" : "--line-rate " + value + ": not a baud rate (a whole number)";
    }
    if (arg == "--fault") {
        if (const auto fault = vantri::sim::ParseFault(value, error))
            options.faults.push_back(*fault);
        return error;
    }
    if (arg == "--link")
        options.link = value;
    else
        (arg == "--save" ? options.saveFile : options.logFile) = value;
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    vantri::sim::Options options;
    std::string problem;
    for (int i = 1; i < argc && problem.empty(); ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::optional<std::string> value;
        if (const std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != arg.npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        if (!value && i + 1 < argc)
            value = argv[++i];
        const bool known = arg == "--link" || arg == "--buffer" || arg == "--save" ||
                           arg == "--line-rate" || arg == "--log" || arg == "--fault";
        problem = !known           ? "unknown option '" + arg + "' (see --help)"
                  : !value         ? arg + ": missing its value (see --help)"
                  : value->empty() ? arg + ": empty value"
                                   : SetOption(options, arg, *value);
    }
    if (problem.empty())
        problem = vantri::sim::CheckOptions(options);
    if (!problem.empty()) {
        std::fprintf(stderr, "vantri-devsim: %s\n", problem.c_str());
        return 2;  // a usage error
    }

    // The signals are taken by sigwait below; blocking them first means the
    // serving thread inherits the mask and never sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<vantri::sim::Simulator> sim = vantri::sim::Simulator::Start(options, problem);
    if (!sim) {
        std::fprintf(stderr, "vantri-devsim: %s\n", problem.c_str());
        return 1;
    }
    std::printf("%s\n", sim->PortPath().c_str());
    std::fflush(stdout);
    if (!options.link.empty())
        std::fprintf(stderr, "vantri-devsim: %s -> %s\n", options.link.c_str(),
                     sim->PortPath().c_str());
    for (int signal = 0; sigwait(&stopSignals, &signal) != 0;) {
    }
    sim.reset();  // stops serving and removes the link
    return 0;
}
