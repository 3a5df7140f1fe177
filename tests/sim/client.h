// What the sim tests share: the client side of the simulated device's port
// (plain POSIX on the pts, raw, every wait bounded), the answers expected,
// and a temporary folder.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vantri::sim::test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Two upper-case hex digits a byte, built independently of the simulator.
inline std::string ExpectedHex(std::string_view buffer) {
    std::string hex;
    for (const char c : buffer) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned char>(c));
        hex += two;
    }
    return hex;
}

// The answer for the documented default buffer: byte i = (i * 7 + 3) mod 256.
inline const std::string& DefaultHex() {
    static const std::string hex = [] {
        std::string buffer;
        for (int i = 0; i < 4096; ++i) {
            buffer.push_back(static_cast<char>((i * 7 + 3) % 256));
        }
        return ExpectedHex(buffer);
    }();
    return hex;
}

// 4096 bytes holding every byte value, the command bytes among them.
inline std::string PatternBuffer() {
    std::string buffer;
    for (int i = 0; i < 4096; ++i) {
        buffer.push_back(static_cast<char>((i * 13 + i / 256) % 256));
    }
    return buffer;
}

// Polls `done` until it holds or `limit` has passed.
inline bool Eventually(const std::function<bool()>& done, milliseconds limit = milliseconds(2000)) {
    const Clock::time_point end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

inline std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TempDir {
  public:
    TempDir() {
        std::string name = (std::filesystem::temp_directory_path() / "devsim-XXXXXX").string();
        path_ = ::mkdtemp(name.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

class Client {
  public:
    explicit Client(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
            ::tcflush(fd_, TCIOFLUSH);
        }
    }
    ~Client() { Close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    bool HungUp() const { return hungUp_; }  // a read met the end of the line
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    // Writes all of `bytes` within 2 s; false when the line refuses them.
    bool Send(std::string_view bytes) {
        const Clock::time_point deadline = Clock::now() + milliseconds(2000);
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
            if (n > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
            } else if ((n < 0 && errno != EAGAIN && errno != EINTR) || Clock::now() > deadline) {
                return false;
            } else {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 50);
            }
        }
        return true;
    }

    // Reads until `count` bytes arrived, nothing arrived for `quiet` or the
    // line hung up.  `times`, if given, gets each byte's arrival.
    std::string Read(std::size_t count, milliseconds quiet,
                     std::vector<Clock::time_point>* times = nullptr) {
        std::string got;
        Clock::time_point quietEnd = Clock::now() + quiet;
        while (got.size() < count && !hungUp_) {
            const auto wait = std::chrono::ceil<milliseconds>(quietEnd - Clock::now()).count();
            if (wait <= 0) {
                break;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(wait)) <= 0) {
                continue;
            }
            char buf[4096];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - got.size()));
            if (n <= 0) {
                hungUp_ = n == 0 || (errno != EAGAIN && errno != EINTR);
                continue;
            }
            const Clock::time_point at = Clock::now();
            quietEnd = at + quiet;
            got.append(buf, static_cast<std::size_t>(n));
            if (times != nullptr) {
                times->insert(times->end(), static_cast<std::size_t>(n), at);
            }
        }
        return got;
    }

  private:
    int fd_ = -1;
    bool hungUp_ = false;
};

}  // namespace vantri::sim::test
