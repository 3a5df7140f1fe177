// How closely the emulated read time-outs keep to their nominal lengths on
// a real pseudo-terminal: the 100 ms interval after a byte, and the 200 ms
// and 2000 ms totals of a read that gets nothing.  Prints the overshoot per
// case (mean, max, min over the runs); fails only when a time-out ends early
// or more than 50 ms late.
//
//   serial-timeout-accuracy [--runs N] [--long-runs M]
//
// N runs of the short cases (default 20), M of the 2000 ms case (default 20).
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serial/zrkCommModule.h"

namespace {

using namespace std::chrono_literals;

// The master side of a fresh pseudo-terminal: the far end of the line, whose
// port side the link opens.
struct Pty {
    int master = -1;
    std::string path;
    Pty() {
        int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[128] = {};
        if (fd >= 0 && ::grantpt(fd) == 0 && ::unlockpt(fd) == 0 &&
            ::ptsname_r(fd, name, sizeof name) == 0) {
            master = fd;
            path = name;
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
    ~Pty() {
        if (master >= 0) {
            ::close(master);
        }
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
};

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

struct Case {
    const char* name;
    std::uint32_t interval, multiplier, constant;
    bool byteFirst;  // a byte waits in the queue: the interval times the read
    double nominal;  // ms
    int runs;
};

bool Measure(const Pty& pty, const Case& c) {
    if (vantri::OpenComPort(pty.path, 115200, 0, 0, c.interval, c.multiplier, c.constant, 0, 0) !=
        0) {
        std::fprintf(stderr, "cannot open %s\n", pty.path.c_str());
        return false;
    }
    std::vector<double> over;
    for (int i = 0; i < c.runs; ++i) {
        if (c.byteFirst) {
            if (::write(pty.master, "a", 1) != 1) {
                std::fprintf(stderr, "cannot send to %s\n", pty.path.c_str());
                return false;
            }
            auto end = std::chrono::steady_clock::now() + 1s;
            while (vantri::InQueueCount() < 1 && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(1ms);
            }
        }
        auto start = std::chrono::steady_clock::now();
        vantri::KeyBytes got = vantri::ReadBytes(2);
        over.push_back(MsSince(start) - c.nominal);
        if (got.size() != (c.byteFirst ? 1u : 0u)) {
            std::fprintf(stderr, "%s: read %zu bytes\n", c.name, got.size());
            return false;
        }
    }
    vantri::CloseComPort();
    double sum = 0;
    for (double o : over) {
        sum += o;
    }
    auto [lo, hi] = std::minmax_element(over.begin(), over.end());
    std::printf("%-40s runs %3d  overshoot ms: mean %7.3f  max %7.3f  min %7.3f\n", c.name, c.runs,
                sum / c.runs, *hi, *lo);
    return *lo >= 0 && *hi <= 50;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 20, longRuns = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--long-runs") == 0) {
            longRuns = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    Pty pty;
    if (pty.master < 0) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    const Case cases[] = {
        {"interval 100 ms", 100, 0, 0, true, 100, runs},
        {"interval 100 ms, total 2000 ms", 100, 0, 2000, true, 100, runs},
        {"total 200 ms", 0, 0, 200, false, 200, runs},
        {"total 2000 ms", 0, 0, 2000, false, 2000, longRuns},
    };
    bool ok = true;
    for (const Case& c : cases) {
        ok = Measure(pty, c) && ok;
    }
    return ok ? 0 : 1;
}
