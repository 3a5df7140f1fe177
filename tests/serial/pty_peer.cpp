#include "tests/serial/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

namespace vantri::test {

PtyPeer::PtyPeer() {
    int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    char name[128] = {};
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
        ::close(fd);
        return;
    }
    // The master's termios calls would reach the port side's termios, which
    // is what the link under test sets up, so the master is left as it is.
    master_ = fd;
    path_ = name;
}

PtyPeer::~PtyPeer() {
    CloseMaster();
    if (slave_ >= 0) {
        ::close(slave_);
    }
}

bool PtyPeer::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd p{master_, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) {
            return false;
        }
    }
    return true;
}

std::string PtyPeer::Receive(std::size_t count, std::chrono::milliseconds limit) {
    std::string got;
    auto end = std::chrono::steady_clock::now() + limit;
    while (got.size() < count) {
        char buffer[4096];
        ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd p{master_, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left.count()));
    }
    return got;
}

void PtyPeer::CloseMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

int PtyPeer::OpenSlave() {
    if (slave_ < 0 && !path_.empty()) {
        slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    return slave_;
}

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace vantri::test
