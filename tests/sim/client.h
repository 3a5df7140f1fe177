// The client side of the simulated device's port for the tests: plain POSIX
// on the pts, opened as a serial program opens a port (raw, exclusive), with
// every wait bounded by a deadline.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace vantri::sim::test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The device's answer for `buffer`, built here independently of the
// simulator: two upper-case hex digits a byte.
std::string ExpectedHex(std::string_view buffer);

// The documented default buffer: byte i = (i * 7 + 3) mod 256.
std::string ExpectedDefaultBuffer();

// 4096 bytes holding every byte value, the command bytes among them.
std::string PatternBuffer();

class Client {
  public:
    explicit Client(const std::string& path);  // check IsOpen()
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Error() const { return error_; }  // errno of a failed open

    // Writes all of `bytes`; false when the line refuses them.
    bool Send(std::string_view bytes);

    // Reads until `count` bytes arrived or nothing arrived for `quiet`, and
    // at most for `limit` in all.  `times`, if given, gets each byte's arrival.
    std::string Read(std::size_t count, milliseconds quiet, milliseconds limit = milliseconds(5000),
                     std::vector<Clock::time_point>* times = nullptr);

    // Waits up to `limit` for the line to report a hang-up (POLLHUP/POLLERR,
    // or a read ending in 0 or EIO).
    bool WaitHangup(milliseconds limit);

    void Close();

  private:
    int fd_ = -1;
    int error_ = 0;
};

}  // namespace vantri::sim::test
