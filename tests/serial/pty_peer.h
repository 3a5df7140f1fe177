// The far end of a serial line for the tests: the master side of a fresh
// pseudo-terminal, whose port side (Path()) the link opens like any serial
// port.  Writing to the master is a device sending; reading it is the device
// receiving; closing it is the device going away (the port side hangs up).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace vantri::test {

class PtyPeer {
  public:
    PtyPeer();  // Ok() tells whether the pty could be made
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool Ok() const { return master_ >= 0; }
    const std::string& Path() const { return path_; }
    int Master() const { return master_; }

    // Sends all of `bytes` to the port side.
    bool Send(std::string_view bytes);
    // What the port side sent, up to `count` bytes, waiting at most `limit`.
    std::string Receive(std::size_t count, std::chrono::milliseconds limit);
    // Unplugs the device: the port side hangs up.
    void CloseMaster();

    // A descriptor of the port side held by the test itself, to look at the
    // line's termios; it stays open until the peer goes.
    int OpenSlave();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Milliseconds since `start`, fractional.
double MsSince(std::chrono::steady_clock::time_point start);

}  // namespace vantri::test
