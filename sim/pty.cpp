#include "sim/pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

namespace vantri::sim {
namespace {

std::string Reason(int err) {
    return std::strerror(err);
}

bool SetFdFlags(int fd, std::string& error) {
    const int fl = ::fcntl(fd, F_GETFL);
    const int fd_flags = ::fcntl(fd, F_GETFD);
    if (fl < 0 || fd_flags < 0 || ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) < 0 ||
        ::fcntl(fd, F_SETFD, fd_flags | FD_CLOEXEC) < 0) {
        error = "cannot set up the pty: " + Reason(errno);
        return false;
    }
    return true;
}

}  // namespace

bool OpenPty(Pty& pty, std::string& error) {
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY));
    if (!master.Valid()) {
        error = "cannot create a pseudo-terminal: " + Reason(errno);
        return false;
    }
    if (!SetFdFlags(master.Get(), error)) {
        return false;
    }
    if (::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0) {
        error = "cannot unlock the pseudo-terminal: " + Reason(errno);
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(master.Get(), name, sizeof name) != 0) {
        error = "cannot name the pseudo-terminal: " + Reason(errno);
        return false;
    }
    // Our own handle on the port side keeps the pair alive while clients come
    // and go: without it the master reads EIO whenever no client has it open.
    // It is opened before any client can set TIOCEXCL, and never locked, so
    // it does not stand in the way of a client's exclusive open.
    UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!slave.Valid()) {
        error = std::string("cannot open ") + name + ": " + Reason(errno);
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave.Get(), &tio) != 0) {
        error = std::string("cannot read the line settings of ") + name + ": " + Reason(errno);
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(slave.Get(), TCSANOW, &tio) != 0) {
        error = std::string("cannot set ") + name + " raw: " + Reason(errno);
        return false;
    }
    pty.master = std::move(master);
    pty.slave = std::move(slave);
    pty.portPath = name;
    return true;
}

bool ReadLineSettings(int fd, LineSettings& settings) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return false;
    }
    // The rates every termios has.
    static constexpr struct {
        speed_t speed;
        std::uint32_t baud;
    } kRates[] = {
        {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},     {B150, 150},
        {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},   {B1800, 1800},
        {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200}, {B38400, 38400},
        {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
    };
    const speed_t speed = ::cfgetospeed(&tio);
    settings.baud = 0;
    for (const auto& rate : kRates) {
        if (rate.speed == speed) {
            settings.baud = rate.baud;
        }
    }
    settings.dataBits = 8;
    for (const auto& [size, bits] : {std::pair{CS5, 5}, std::pair{CS6, 6}, std::pair{CS7, 7}}) {
        if ((tio.c_cflag & CSIZE) == static_cast<tcflag_t>(size)) {
            settings.dataBits = bits;
        }
    }
    settings.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
    settings.parity = (tio.c_cflag & PARENB) == 0 ? 'N' : (tio.c_cflag & PARODD) != 0 ? 'O' : 'E';
    settings.rtsCts = (tio.c_cflag & CRTSCTS) != 0;
    settings.ixon = (tio.c_iflag & IXON) != 0;
    settings.ixoff = (tio.c_iflag & IXOFF) != 0;
    return true;
}

std::string CheckLinkPath(const std::string& link) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        return "--link " + link + ": exists and is not a symbolic link; not replacing it";
    }
    return {};
}

namespace {

std::string LockPath(const std::string& link) {
    return link + ".lock";
}

// The process named in a lock file, for the refusal's message; empty if it
// says none.
std::string LockOwner(int fd) {
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    std::string owner(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    return owner.find_first_not_of("0123456789") == std::string::npos ? owner : "";
}

bool MakeLink(const std::string& link, const std::string& target, std::string& error) {
    error = CheckLinkPath(link);
    if (!error.empty()) {
        return false;
    }
    // A fresh link under a temporary name, renamed over the old one: a client
    // never finds the name missing or half made.
    std::random_device rd;
    const std::string temp =
        link + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(rd());
    if (::symlink(target.c_str(), temp.c_str()) != 0) {
        error = "--link " + link + ": cannot create the link: " + Reason(errno);
        return false;
    }
    if (::rename(temp.c_str(), link.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        error = "--link " + link + ": cannot create the link: " + Reason(err);
        return false;
    }
    return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
    std::error_code ec;
    if (std::filesystem::is_symlink(link, ec) &&
        std::filesystem::read_symlink(link, ec) == target && !ec) {
        ::unlink(link.c_str());
    }
}

}  // namespace

bool HeldLink::Take(const std::string& link, const std::string& target, std::string& error) {
    Release();
    const std::string lockPath = LockPath(link);
    UniqueFd lock;
    // The lock file may be removed by its last holder between our open and
    // our lock; a lock on a file no longer under that name holds nothing,
    // so then the name is opened again.
    for (int attempt = 0;; ++attempt) {
        lock.Reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!lock.Valid()) {
            error = "--link " + link + ": cannot create its lock file " + lockPath + ": " +
                    Reason(errno);
            return false;
        }
        if (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) {
                const std::string owner = LockOwner(lock.Get());
                error = "--link " + link + ": a running simulator serves this link" +
                        (owner.empty() ? "" : " (process " + owner + ")") +
                        "; stop it or choose another path";
            } else {
                error = "--link " + link + ": cannot lock " + lockPath + ": " + Reason(errno);
            }
            return false;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(lock.Get(), &held) == 0 && ::stat(lockPath.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            break;
        }
        if (attempt == 10) {
            error = "--link " + link + ": its lock file " + lockPath + " keeps changing";
            return false;
        }
    }
    // The process number is for a refused newcomer's message only, so a
    // failure to write it is no reason to refuse.
    const std::string pid = std::to_string(::getpid());
    const bool named =
        ::ftruncate(lock.Get(), 0) == 0 &&
        ::pwrite(lock.Get(), pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
    static_cast<void>(named);
    if (!MakeLink(link, target, error)) {
        ::unlink(lockPath.c_str());
        return false;
    }
    link_ = link;
    target_ = target;
    lock_ = std::move(lock);
    return true;
}

void HeldLink::Release() {
    if (!lock_.Valid()) {
        return;
    }
    RemoveLink(link_, target_);
    // Removed while still locked, so no newcomer locks a file that is about
    // to lose its name.
    ::unlink(LockPath(link_).c_str());
    lock_.Reset();
}

}  // namespace vantri::sim
