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

// Sets `error` to "`what`: <the system's reason>" and says false.
bool Fail(std::string& error, const std::string& what, int err = errno) {
    error = what + ": " + std::strerror(err);
    return false;
}

}  // namespace

bool OpenPty(Pty& pty, std::string& error) {
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY));
    if (!master.Valid())
        return Fail(error, "cannot create a pseudo-terminal");
    const int fl = ::fcntl(master.Get(), F_GETFL);
    if (fl < 0 || ::fcntl(master.Get(), F_SETFL, fl | O_NONBLOCK) < 0 ||
        ::fcntl(master.Get(), F_SETFD, FD_CLOEXEC) < 0)
        return Fail(error, "cannot set up the pty");
    if (::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0)
        return Fail(error, "cannot unlock the pseudo-terminal");
    char name[128] = {};
    if (::ptsname_r(master.Get(), name, sizeof name) != 0)
        return Fail(error, "cannot name the pseudo-terminal");
    // Our own handle on the port side keeps the pair alive while clients come
    // and go: without it the master reads EIO whenever no client has it open.
    // It is opened before any client can set TIOCEXCL, and never locked, so
    // it does not stand in the way of a client's exclusive open.
    UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!slave.Valid())
        return Fail(error, std::string("cannot open ") + name);
    termios tio{};
    if (::tcgetattr(slave.Get(), &tio) != 0)
        return Fail(error, std::string("cannot read the line settings of ") + name);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(slave.Get(), TCSANOW, &tio) != 0)
        return Fail(error, std::string("cannot set ") + name + " raw");
    pty = {std::move(master), std::move(slave), name};
    return true;
}

bool ReadLineSettings(int fd, LineSettings& settings) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    // The rates every termios has.
    static constexpr std::pair<speed_t, std::uint32_t> kRates[] = {
        {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},     {B150, 150},
        {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},   {B1800, 1800},
        {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200}, {B38400, 38400},
        {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
    };
    settings.baud = 0;
    for (const auto& [speed, baud] : kRates)
        settings.baud = speed == ::cfgetospeed(&tio) ? baud : settings.baud;
    const tcflag_t size = tio.c_cflag & CSIZE;
    settings.dataBits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    settings.stopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
    settings.parity = (tio.c_cflag & PARENB) == 0 ? 'N' : (tio.c_cflag & PARODD) != 0 ? 'O' : 'E';
    settings.rtsCts = (tio.c_cflag & CRTSCTS) != 0;
    settings.ixon = (tio.c_iflag & IXON) != 0;
    settings.ixoff = (tio.c_iflag & IXOFF) != 0;
    return true;
}

std::string CheckLinkPath(const std::string& link) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        return "--link " + link + ": exists and is not a symbolic link; not replacing it";
    return {};
}

bool HeldLink::Take(const std::string& link, const std::string& target, std::string& error) {
    Release();
    const std::string where = "--link " + link + ": ";
    const std::string lockPath = link + ".lock";
    UniqueFd lock;
    // The lock file may be removed by its last holder between our open and
    // our lock; a lock on a file no longer under that name holds nothing,
    // so then the name is opened again.
    for (int attempt = 0;; ++attempt) {
        lock.Reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!lock.Valid())
            return Fail(error, where + "cannot create its lock file " + lockPath);
        if (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK)
                return Fail(error, where + "cannot lock " + lockPath);
            // The process named in the lock file, if it names one.
            char text[32] = {};
            const std::string owner(text, std::max<ssize_t>(0, ::pread(lock.Get(), text, 31, 0)));
            error = where + "a running simulator serves this link" +
                    (owner.empty() || owner.find_first_not_of("0123456789") != owner.npos
                         ? ""
                         : " (process " + owner + ")") +
                    "; stop it or choose another path";
            return false;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(lock.Get(), &held) == 0 && ::stat(lockPath.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            break;
        if (attempt == 10) {
            error = where + "its lock file " + lockPath + " keeps changing";
            return false;
        }
    }
    // The process number is for a refused newcomer's message only, so a
    // failure to write it is no reason to refuse.
    const std::string pid = std::to_string(::getpid());
    if (::ftruncate(lock.Get(), 0) == 0)
        static_cast<void>(::pwrite(lock.Get(), pid.data(), pid.size(), 0));
    // A fresh link under a temporary name, renamed over the old one: a client
    // never finds the name missing or half made.
    const std::string temp = link + ".tmp" + pid + "-" + std::to_string(std::random_device()());
    error = CheckLinkPath(link);
    if (error.empty() && (::symlink(target.c_str(), temp.c_str()) != 0 ||
                          ::rename(temp.c_str(), link.c_str()) != 0)) {
        Fail(error, where + "cannot create the link");
        ::unlink(temp.c_str());
    }
    if (!error.empty()) {
        ::unlink(lockPath.c_str());
        return false;
    }
    link_ = link;
    target_ = target;
    lock_ = std::move(lock);
    return true;
}

void HeldLink::Release() {
    if (!lock_.Valid())
        return;
    std::error_code ec;
    if (std::filesystem::is_symlink(link_, ec) &&
        std::filesystem::read_symlink(link_, ec) == target_ && !ec)
        ::unlink(link_.c_str());
    // Removed while still locked, so no newcomer locks a file that is about
    // to lose its name.
    ::unlink((link_ + ".lock").c_str());
    lock_.Reset();
}

}  // namespace vantri::sim
