#include "tests/sim/client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace vantri::sim::test {

std::string ExpectedHex(std::string_view buffer) {
    std::string hex;
    for (const char c : buffer) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned char>(c));
        hex += two;
    }
    return hex;
}

std::string ExpectedDefaultBuffer() {
    std::string buffer;
    for (int i = 0; i < 4096; ++i) {
        buffer.push_back(static_cast<char>((i * 7 + 3) % 256));
    }
    return buffer;
}

std::string PatternBuffer() {
    std::string buffer;
    for (int i = 0; i < 4096; ++i) {
        buffer.push_back(static_cast<char>((i * 13 + i / 256) % 256));
    }
    return buffer;
}

Client::Client(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    // As a serial program takes a port: exclusive, raw, queues emptied.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd_, TIOCEXCL) != 0) {
        error_ = errno;
        Close();
        return;
    }
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(fd_, TCSANOW, &tio);
    ::tcflush(fd_, TCIOFLUSH);
}

Client::~Client() {
    Close();
}

void Client::Close() {
    if (fd_ >= 0) {
        // On a pty the exclusive flag outlives the close; clear it so the
        // next open by an ordinary user is not refused.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }
}

bool Client::Send(std::string_view bytes) {
    const Clock::time_point deadline = Clock::now() + milliseconds(2000);
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
    return true;
}

std::string Client::Read(std::size_t count, milliseconds quiet, milliseconds limit,
                         std::vector<Clock::time_point>* times) {
    std::string got;
    const Clock::time_point end = Clock::now() + limit;
    Clock::time_point quietEnd = Clock::now() + quiet;
    while (got.size() < count) {
        const Clock::time_point now = Clock::now();
        const Clock::time_point until = std::min(end, quietEnd);
        if (now >= until) {
            break;
        }
        pollfd p{fd_, POLLIN, 0};
        const auto wait = std::chrono::ceil<milliseconds>(until - now).count();
        if (::poll(&p, 1, static_cast<int>(wait)) <= 0) {
            continue;
        }
        char buf[4096];
        const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - got.size()));
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            break;  // hung up
        }
        const Clock::time_point at = Clock::now();
        got.append(buf, static_cast<std::size_t>(n));
        if (times != nullptr) {
            times->insert(times->end(), static_cast<std::size_t>(n), at);
        }
        quietEnd = at + quiet;
    }
    return got;
}

bool Client::WaitHangup(milliseconds limit) {
    const Clock::time_point end = Clock::now() + limit;
    while (Clock::now() < end) {
        pollfd p{fd_, POLLIN, 0};
        const auto wait = std::chrono::ceil<milliseconds>(end - Clock::now()).count();
        if (::poll(&p, 1, static_cast<int>(std::max<long long>(wait, 0))) <= 0) {
            continue;
        }
        if ((p.revents & (POLLHUP | POLLERR)) != 0) {
            return true;
        }
        char buf[4096];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno == EIO)) {
            return true;
        }
    }
    return false;
}

}  // namespace vantri::sim::test
