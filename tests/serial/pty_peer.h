// The far end of a serial line for the link tests: the master side of a
// fresh pseudo-terminal, whose port side (Path()) the link opens like any
// serial port.  Writing to the master is the device sending, reading it the
// device receiving, closing it the device going away (the port side hangs up).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>

#include "serial/zrkCommModule.h"

namespace vantri::test {

using Clock = std::chrono::steady_clock;

class PtyPeer {
  public:
    // The master's termios would reach the port side's, which is what the
    // link sets up, so the master is left as it is.
    PtyPeer() {
        int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[128] = {};
        if (fd >= 0 && ::grantpt(fd) == 0 && ::unlockpt(fd) == 0 &&
            ::ptsname_r(fd, name, sizeof name) == 0) {
            master_ = fd;
            path_ = name;
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
    ~PtyPeer() {
        CloseMaster();
        if (slave_ >= 0) {
            ::close(slave_);
        }
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool Ok() const { return master_ >= 0; }
    const std::string& Path() const { return path_; }

    bool Send(std::string_view bytes) {
        while (!bytes.empty()) {
            ssize_t n = ::write(master_, bytes.data(), bytes.size());
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            pollfd p{master_, POLLOUT, 0};
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || ::poll(&p, 1, 1000) <= 0) {
                return false;
            }
        }
        return true;
    }

    // What the port side sent, up to `count` bytes, waiting at most `limit`.
    std::string Receive(std::size_t count, std::chrono::milliseconds limit) {
        std::string got;
        const auto end = Clock::now() + limit;
        while (got.size() < count) {
            char buffer[4096];
            ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) {
                got.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || left.count() <= 0) {
                break;
            }
            pollfd p{master_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left.count()));
        }
        return got;
    }

    void CloseMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    // A descriptor of the port side held by the test, to look at the line's
    // termios and exclusive mark; it stays open until the peer goes.
    int OpenSlave() {
        if (slave_ < 0 && !path_.empty()) {
            slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        }
        return slave_;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

inline double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Waits until the link's input queue holds exactly `count` bytes; the pty
// moves them across on a kernel worker, a moment after the far end wrote them.
inline bool WaitForQueued(int count) {
    const auto end = Clock::now() + std::chrono::seconds(2);
    while (vantri::InQueueCount() < count && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return vantri::InQueueCount() == count;
}

}  // namespace vantri::test
