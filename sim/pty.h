// The pseudo-terminal the simulated device lives on, and the symbolic link
// that gives its port side a stable name.
//
// A link is held for as long as its simulator serves it: a lock file beside
// it, "PATH.lock", stays flock()ed by the simulator, so a second simulator
// asked for the same link finds it taken and refuses, while a link whose
// simulator is gone (killed, the machine restarted) holds no lock and is
// replaced.
#pragma once

#include <unistd.h>

#include <string>
#include <utility>

#include "sim/devsim.h"

namespace vantri::sim {

// A file descriptor that closes itself.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

struct Pty {
    UniqueFd master;       // the device's side, non-blocking
    UniqueFd slave;        // held open so the master never sees the port side vanish
    std::string portPath;  // the port side, "/dev/pts/N"
};

// Opens a pty pair with the port side in raw mode (8 bits through, no echo,
// no translation).  False with `error` set when the system has no pty to give.
bool OpenPty(Pty& pty, std::string& error);

// The settings of the pty that `fd` is open on.  False when it cannot read
// them.
bool ReadLineSettings(int fd, LineSettings& settings);

// "--link PATH: exists and is not a symbolic link; ..." when `link` names a
// file that is not a symbolic link, which is never replaced; else empty.
std::string CheckLinkPath(const std::string& link);

// A link to the port side, held while the object lives or until Release().
class HeldLink {
  public:
    ~HeldLink() { Release(); }

    // Locks `link`'s lock file and makes `link` a symbolic link to `target`,
    // replacing a stale one (atomically).  False with `error` set when a live
    // simulator holds the link, when `link` is a file that is not a symbolic
    // link (left alone), or when either cannot be made.
    bool Take(const std::string& link, const std::string& target, std::string& error);

    // Removes the link, if it still points at our target (a link that another
    // program has since taken over is left to it), then the lock file.
    void Release();

  private:
    std::string link_;
    std::string target_;
    UniqueFd lock_;
};

}  // namespace vantri::sim
