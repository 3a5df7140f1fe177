// The platform layer on POSIX: termios for the line, flock() and TIOCEXCL for
// exclusive use, poll() deadlines on the monotonic clock for the Win32
// time-out rules.  The descriptor stays non-blocking and every wait is a
// poll() with a deadline, so no call outlasts its time-outs and a hang-up
// ends a wait at once.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

#include "serial/platform.h"

namespace vantri::port {

namespace {

using Clock = std::chrono::steady_clock;

thread_local std::uint32_t lastError = 0;

bool Fail(int error) {
    lastError = static_cast<std::uint32_t>(error);
    return false;
}

// A handle is a file descriptor; anything outside int range is no handle.
std::optional<int> ToFd(Handle h) {
    if (h < 0 || h > INT_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(h);
}

// COMMTIMEOUTS live with the handle on Windows; here a small table keyed by
// descriptor keeps them until Close.  A handle without an entry has all
// time-outs 0: reads wait for every byte, writes for the last.
std::mutex timeoutsMutex;
std::map<int, Timeouts> timeoutsTable;

Timeouts TimeoutsOf(int fd) {
    std::lock_guard lock(timeoutsMutex);
    auto it = timeoutsTable.find(fd);
    return it == timeoutsTable.end() ? Timeouts{} : it->second;
}

// Deadlines further out than this are no deadlines: a 32-bit multiplier
// times a 32-bit count overflows what a steady_clock time point can hold,
// and nobody waits 30 years for a serial byte.
constexpr std::uint64_t MaxDeadlineMs = std::uint64_t{1} << 40;

std::optional<Clock::time_point> DeadlineAfter(Clock::time_point start, std::uint64_t ms) {
    if (ms > MaxDeadlineMs) {
        return std::nullopt;
    }
    return start + std::chrono::milliseconds(ms);
}

std::optional<Clock::time_point> Earlier(std::optional<Clock::time_point> a,
                                         std::optional<Clock::time_point> b) {
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    return std::min(*a, *b);
}

// How long to ask poll to wait towards `deadline`.  The kernel lets a poll
// time-out run late by 0.1 % of its length (2 ms on 2 s), so a long wait
// stops a little short and the rest is waited for with a short one.
Clock::duration WaitSpan(Clock::time_point deadline) {
    auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
    if (left > std::chrono::milliseconds(50)) {
        left -= left / 128;
    }
    return left;
}

// Waits until `fd` reports one of `events`, a hang-up or an error, or until
// the deadline (none: wait for ever; a past deadline: just look).  Returns
// the revents (0 on time-out), or nullopt with lastError set when poll fails.
// EINTR goes round again against the same deadline, or with `endOnSignal`
// ends the wait as a time-out would.
std::optional<short> WaitFor(int fd, short events, std::optional<Clock::time_point> deadline,
                             bool endOnSignal = false) {
    for (;;) {
        pollfd p{fd, events, 0};
        int rc;
#if defined(__linux__)
        // ppoll takes nanoseconds, so the time-outs do not round up to the
        // next millisecond.
        timespec ts{};
        timespec* tsp = nullptr;
        if (deadline) {
            auto left = WaitSpan(*deadline);
            auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            ts.tv_sec = static_cast<time_t>(ns / 1000000000);
            ts.tv_nsec = static_cast<long>(ns % 1000000000);
            tsp = &ts;
        }
        rc = ::ppoll(&p, 1, tsp, nullptr);
#else
        int ms = -1;
        if (deadline) {
            auto left = WaitSpan(*deadline);
            // Round up: waking a little late is harmless, early is a spin.
            auto count = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            ms = static_cast<int>(std::min<decltype(count)>(count, INT_MAX));
        }
        rc = ::poll(&p, 1, ms);
#endif
        if (rc > 0) {
            return p.revents;
        }
        if (rc == 0) {
            if (deadline && Clock::now() < *deadline) {
                continue;  // poll's own limit on a very long wait
            }
            return 0;
        }
        if (errno != EINTR) {
            Fail(errno);
            return std::nullopt;
        }
        if (endOnSignal) {
            return 0;
        }
    }
}

// The errno of a descriptor that polled as hung up or in error.
int LostError(short revents) {
    return (revents & POLLNVAL) != 0 ? EBADF : EIO;
}

// The standard rates; termios has no others without driver extensions.
struct Rate {
    std::uint32_t baud;
    speed_t speed;
};
constexpr Rate Rates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

std::optional<speed_t> ToSpeed(std::uint32_t baud) {
    for (const Rate& rate : Rates) {
        if (rate.baud == baud) {
            return rate.speed;
        }
    }
    return std::nullopt;
}

std::uint32_t FromSpeed(speed_t speed) {
    for (const Rate& rate : Rates) {
        if (rate.speed == speed) {
            return rate.baud;
        }
    }
    return 0;
}

static_assert(sizeof(termios) <= sizeof(LineSettings::native),
              "the native record must hold a termios");

// The parity bits of c_cflag for a Win32 parity code; false where the
// platform has no such parity.
bool ParityFlags(std::uint8_t parity, tcflag_t& flags) {
    switch (parity) {
        case NoParity:
            flags = 0;
            return true;
        case OddParity:
            flags = PARENB | PARODD;
            return true;
        case EvenParity:
            flags = PARENB;
            return true;
#ifdef CMSPAR
        case MarkParity:
            flags = PARENB | CMSPAR | PARODD;
            return true;
        case SpaceParity:
            flags = PARENB | CMSPAR;
            return true;
#endif
        default:
            return false;
    }
}

constexpr tcflag_t ParityMask = PARENB | PARODD
#ifdef CMSPAR
                                | CMSPAR
#endif
    ;

// strerror_r comes in a GNU flavour (returns the text) and an XSI one (fills
// the buffer); these take whichever this C library has.
[[maybe_unused]] std::string StrerrorResult(const char* text, const char*, std::uint32_t) {
    return text;
}
[[maybe_unused]] std::string StrerrorResult(int rc, const char* buffer, std::uint32_t error) {
    return rc == 0 ? std::string(buffer) : "error " + std::to_string(error);
}

}  // namespace

Handle OpenDevice(const std::string& name) {
    if (name.empty()) {
        Fail(ENOENT);
        return InvalidHandle;
    }
    // Look before opening: opening some character devices has side effects
    // (a watchdog starts ticking), so only terminals are opened at all.
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) {
        Fail(errno);
        return InvalidHandle;
    }
    if (!S_ISCHR(st.st_mode)) {
        Fail(ENOTTY);
        return InvalidHandle;
    }
    // Non-blocking, so an open without carrier does not hang and the fd
    // never blocks later: every wait is a poll with a deadline.
    int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Fail(errno);
        return InvalidHandle;
    }
    auto reject = [fd](int error) {
        ::close(fd);
        Fail(error);
        return InvalidHandle;
    };
    if (!::isatty(fd)) {
        return reject(ENOTTY);
    }
    // flock keeps out every other opener that asks, root included and our
    // own other handles; TIOCEXCL also keeps out programs that never ask,
    // except root, which it does not stop.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return reject(errno);
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        return reject(errno);
    }
    // Whatever waits in the input queue belongs to an earlier user; a Windows
    // port starts empty too.  The output side is left alone: on a pty it
    // still holds the tail of the previous handle's last writes, which the
    // device has yet to take.
    if (::tcflush(fd, TCIFLUSH) != 0) {
        int error = errno;
        ::ioctl(fd, TIOCNXCL);
        return reject(error);
    }
    return fd;
}

bool GetLineSettings(Handle h, LineSettings& settings) {
    auto fd = ToFd(h);
    if (!fd) {
        return Fail(EBADF);
    }
    termios t{};
    if (::tcgetattr(*fd, &t) != 0) {
        return Fail(errno);
    }
    std::memcpy(settings.native, &t, sizeof t);
    settings.BaudRate = FromSpeed(::cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5:
            settings.ByteSize = 5;
            break;
        case CS6:
            settings.ByteSize = 6;
            break;
        case CS7:
            settings.ByteSize = 7;
            break;
        default:
            settings.ByteSize = 8;
            break;
    }
    settings.Parity = NoParity;
    if ((t.c_cflag & PARENB) != 0) {
        bool odd = (t.c_cflag & PARODD) != 0;
        settings.Parity = odd ? OddParity : EvenParity;
#ifdef CMSPAR
        if ((t.c_cflag & CMSPAR) != 0) {
            settings.Parity = odd ? MarkParity : SpaceParity;
        }
#endif
    }
    settings.StopBits = (t.c_cflag & CSTOPB) != 0 ? TwoStopBits : OneStopBit;
    return true;
}

bool SetLineSettings(Handle h, const LineSettings& settings) {
    auto fd = ToFd(h);
    if (!fd) {
        return Fail(EBADF);
    }
    termios t{};
    static constexpr unsigned char zeros[sizeof(termios)] = {};
    if (std::memcmp(settings.native, zeros, sizeof zeros) == 0) {
        // No record from GetLineSettings: start from the port's own, so
        // its flow control and modem lines are still kept.
        if (::tcgetattr(*fd, &t) != 0) {
            return Fail(errno);
        }
    } else {
        std::memcpy(&t, settings.native, sizeof t);
    }

    std::optional<speed_t> speed = ToSpeed(settings.BaudRate);
    tcflag_t size = 0;
    switch (settings.ByteSize) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return Fail(EINVAL);
    }
    tcflag_t parity = 0;
    if (!speed || !ParityFlags(settings.Parity, parity)) {
        return Fail(EINVAL);
    }
    if (settings.StopBits != OneStopBit && settings.StopBits != TwoStopBits) {
        return Fail(EINVAL);  // one and a half stop bits: termios has none
    }
    tcflag_t stop = settings.StopBits == TwoStopBits ? CSTOPB : 0;

    // A raw 8-bit channel, as a Windows port is: every byte arrives as sent,
    // nothing is echoed, translated, buffered into lines, taken for flow
    // control or turned into a signal.  A break is dropped, not read as a
    // byte 0.  CRTSCTS, CLOCAL and HUPCL stay as the port had them.
    t.c_iflag &= ~static_cast<tcflag_t>(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY);
#ifdef IUCLC
    t.c_iflag &= ~static_cast<tcflag_t>(IUCLC);
#endif
#ifdef IMAXBEL
    t.c_iflag &= ~static_cast<tcflag_t>(IMAXBEL);
#endif
    t.c_iflag |= IGNBRK;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &=
        ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | TOSTOP);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | ParityMask | CSTOPB);
    t.c_cflag |= size | parity | stop | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, *speed) != 0 || ::cfsetospeed(&t, *speed) != 0) {
        return Fail(errno);
    }
    if (::tcsetattr(*fd, TCSANOW, &t) != 0) {
        return Fail(errno);
    }
    // tcsetattr succeeds when any part was applied; a driver may quietly
    // drop what it cannot do (a pty clears parity).  Refuse that, as
    // SetCommState refuses settings the port cannot take.
    termios now{};
    if (::tcgetattr(*fd, &now) != 0) {
        return Fail(errno);
    }
    constexpr tcflag_t checked = CSIZE | ParityMask | CSTOPB;
    if ((now.c_cflag & checked) != (t.c_cflag & checked) || ::cfgetospeed(&now) != *speed ||
        (now.c_lflag & (ICANON | ECHO)) != 0) {
        return Fail(EINVAL);
    }
    return true;
}

bool SetTimeouts(Handle h, const Timeouts& timeouts) {
    auto fd = ToFd(h);
    if (!fd || ::fcntl(*fd, F_GETFD) < 0) {
        return Fail(EBADF);
    }
    std::lock_guard lock(timeoutsMutex);
    timeoutsTable[*fd] = timeouts;
    return true;
}

bool SetQueueSizes(Handle h, std::uint32_t, std::uint32_t) {
    // The tty driver's buffers have fixed sizes; there is nothing to set.
    auto fd = ToFd(h);
    if (!fd || ::fcntl(*fd, F_GETFD) < 0) {
        return Fail(EBADF);
    }
    return true;
}

bool Write(Handle h, const void* data, std::uint32_t count, std::uint32_t& written) {
    written = 0;
    auto fd = ToFd(h);
    if (!fd) {
        return Fail(EBADF);
    }
    const auto start = Clock::now();
    const Timeouts t = TimeoutsOf(*fd);
    std::optional<Clock::time_point> deadline;
    if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
        deadline = DeadlineAfter(start, std::uint64_t{t.WriteTotalTimeoutMultiplier} * count +
                                            t.WriteTotalTimeoutConstant);
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (;;) {
        // Even a write of nothing goes to the device, so a dead port fails.
        ssize_t n = ::write(*fd, bytes + written, count - written);
        if (n > 0) {
            written += static_cast<std::uint32_t>(n);
            if (written == count) {
                return true;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return Fail(errno);  // EIO and the like: the device is gone
        }
        if (written == count) {
            return true;
        }
        // The output queue is full: wait for room, the deadline or a hang-up.
        auto revents = WaitFor(*fd, POLLOUT, deadline);
        if (!revents) {
            return false;
        }
        if (*revents == 0) {
            return true;  // timed out: a short write is no error
        }
        if ((*revents & POLLOUT) == 0) {
            return Fail(LostError(*revents));
        }
    }
}

bool Read(Handle h, void* buffer, std::uint32_t count, std::uint32_t& got) {
    got = 0;
    auto fd = ToFd(h);
    if (!fd) {
        return Fail(EBADF);
    }
    const auto start = Clock::now();
    const Timeouts t = TimeoutsOf(*fd);
    const std::uint32_t interval = t.ReadIntervalTimeout;
    const std::uint32_t multiplier = t.ReadTotalTimeoutMultiplier;
    const std::uint32_t constant = t.ReadTotalTimeoutConstant;

    // The Win32 rules, with their two MAXDWORD special cases.
    bool returnWhenAny = false;  // return as soon as anything has been read
    std::optional<Clock::time_point> total;
    std::uint32_t intervalMs = interval;
    if (interval == MaxDword && multiplier == 0 && constant == 0) {
        // Return at once with whatever is there.
        total = start;
        intervalMs = 0;
    } else if (interval == MaxDword && multiplier == MaxDword && constant > 0 &&
               constant < MaxDword) {
        // Whatever is there; if nothing, the first bytes that come within
        // the constant.
        total = start + std::chrono::milliseconds(constant);
        returnWhenAny = true;
        intervalMs = 0;
    } else if (multiplier != 0 || constant != 0) {
        total = DeadlineAfter(start, std::uint64_t{multiplier} * count + constant);
    }

    auto* bytes = static_cast<unsigned char*>(buffer);
    std::optional<Clock::time_point> intervalEnd;
    bool signalled = false;  // poll said readable since the last read
    bool lastLook = false;   // the deadline passed; one more look, then return
    while (got < count) {
        ssize_t n = ::read(*fd, bytes + got, count - got);
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
            signalled = false;
            if (intervalMs != 0) {
                intervalEnd = Clock::now() + std::chrono::milliseconds(intervalMs);
            }
            continue;  // take all that is queued before waiting again
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return Fail(errno);  // EIO and the like: the device is gone
        }
        // Nothing queued.  With VMIN = VTIME = 0 a raw tty reads 0 here (some
        // systems say EAGAIN); right after poll said readable, 0 is end of
        // file: a hung-up line.
        if (signalled && n == 0) {
            return Fail(EIO);
        }
        signalled = false;
        if (lastLook || (returnWhenAny && got > 0)) {
            break;
        }
        auto deadline = Earlier(total, intervalEnd);
        if (deadline && Clock::now() >= *deadline) {
            // Time is up; bytes that came in meanwhile, or a hang-up, still
            // count, so look once more without waiting.
            lastLook = true;
        }
        // A signal (Ctrl-C) ends the wait as its time-out would: the caller
        // asks whether to stop as soon as the read returns.
        auto revents = WaitFor(*fd, POLLIN, lastLook ? Clock::now() : deadline, true);
        if (!revents) {
            return false;
        }
        if (*revents == 0) {
            lastLook = true;
            continue;
        }
        if ((*revents & POLLIN) != 0) {
            // Read first even when POLLHUP came with it: queued bytes were
            // received before the line went.
            signalled = true;
            continue;
        }
        return Fail(LostError(*revents));
    }
    return true;
}

bool DrainOutput(Handle h) {
    auto fd = ToFd(h);
    if (!fd) {
        return Fail(EBADF);
    }
    // Bounded like a write of what is still queued, so a line that flow
    // control holds cannot hold the caller for ever; a hang-up ends the wait
    // at once.  A pty has no output queue of its own.
    int queued = 0;
    if (::ioctl(*fd, TIOCOUTQ, &queued) != 0) {
        return Fail(errno);
    }
    const Timeouts t = TimeoutsOf(*fd);
    std::optional<Clock::time_point> deadline;
    if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
        deadline =
            DeadlineAfter(Clock::now(), std::uint64_t{t.WriteTotalTimeoutMultiplier} *
                                                static_cast<std::uint32_t>(std::max(queued, 0)) +
                                            t.WriteTotalTimeoutConstant);
    }
    while (queued > 0) {
        if (deadline && Clock::now() >= *deadline) {
            return Fail(ETIMEDOUT);
        }
        auto revents = WaitFor(*fd, 0, Clock::now() + std::chrono::milliseconds(1));
        if (!revents) {
            return false;
        }
        if ((*revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return Fail(LostError(*revents));
        }
        if (::ioctl(*fd, TIOCOUTQ, &queued) != 0) {
            return Fail(errno);
        }
    }
    // The last bytes still in the UART: tcdrain blocks even on a
    // non-blocking descriptor, and fails with EIO once the line hung up.
    while (::tcdrain(*fd) != 0) {
        if (errno != EINTR) {
            return Fail(errno);
        }
    }
    return true;
}

bool ClearErrorAndCount(Handle h, std::uint32_t& errors, std::uint32_t& inQueue) {
    errors = 0;
    inQueue = 0;
    auto fd = ToFd(h);
    if (!fd) {
        return Fail(EBADF);
    }
    // A hung-up line still answers FIONREAD; only poll tells it is gone.
    auto revents = WaitFor(*fd, POLLIN, Clock::now());
    if (!revents) {
        return false;
    }
    if ((*revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return Fail(LostError(*revents));
    }
    // termios reports line errors in the data (PARMRK), which a raw channel
    // switches off, so there are no error bits to hand back.
    int queued = 0;
    if (::ioctl(*fd, FIONREAD, &queued) != 0) {
        return Fail(errno);
    }
    inQueue = static_cast<std::uint32_t>(std::max(queued, 0));
    return true;
}

bool QueryLine(Handle h) {
    auto fd = ToFd(h);
    if (!fd) {
        return Fail(EBADF);
    }
    int lines = 0;
    if (::ioctl(*fd, TIOCMGET, &lines) != 0 &&
        IsDeviceLostError(static_cast<std::uint32_t>(errno))) {
        return Fail(errno);
    }
    return true;
}

bool Close(Handle h) {
    auto fd = ToFd(h);
    if (!fd) {
        return Fail(EBADF);
    }
    {
        // Dropped before the close, so a descriptor number reused by the
        // next open cannot inherit these time-outs.
        std::lock_guard lock(timeoutsMutex);
        timeoutsTable.erase(*fd);
    }
    // The exclusive flag belongs to the tty, not to this descriptor; on a
    // pty it would outlive the close and keep later users out.
    ::ioctl(*fd, TIOCNXCL);
    // Output still queued in the driver here is stuck (every exchange drains
    // its own), for instance behind hardware flow control the port was left
    // with: the driver would hold the close for its closing wait, 30 s on a
    // UART.  Only then is it dropped: on a pty the "queue" is what the other
    // end has not read yet, and those bytes are on their way, not stuck.
    int queued = 0;
    if (::ioctl(*fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        ::tcflush(*fd, TCOFLUSH);
    }
    // Linux frees the descriptor even when close reports EINTR.
    if (::close(*fd) != 0 && errno != EINTR) {
        return Fail(errno);
    }
    return true;
}

std::uint32_t LastError() {
    return lastError;
}

std::string ComPortDevice(std::int16_t number) {
    if (number < 1) {
        return {};
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

std::string ErrorText(std::uint32_t error) {
    char buffer[256] = {};
    return StrerrorResult(::strerror_r(static_cast<int>(error), buffer, sizeof buffer), buffer,
                          error);
}

bool IsDeviceLostError(std::uint32_t error) {
    // EPROTO: a USB transfer to an adapter that is no longer there.
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE || error == EPROTO;
}

bool IsAccessDeniedError(std::uint32_t error) {
    return error == EACCES || error == EPERM;
}

bool IsBusyError(std::uint32_t error) {
    return error == EBUSY || error == EWOULDBLOCK;  // flock says EWOULDBLOCK
}

bool IsNoSuchDeviceError(std::uint32_t error) {
    // At open, ENXIO and ENODEV mean no device answers to the name.
    return error == ENOENT || error == ENXIO || error == ENODEV;
}

namespace {

namespace fs = std::filesystem;

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// "ttyS2" before "ttyS10": the name, then its trailing number.
bool NaturalLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        std::size_t i = s.size();
        while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') {
            --i;
        }
        unsigned long long number = 0;
        for (std::size_t j = i; j < s.size() && j < i + 18; ++j) {
            number = number * 10 + static_cast<unsigned>(s[j] - '0');
        }
        return std::make_pair(s.substr(0, i), number);
    };
    auto ka = split(a), kb = split(b);
    return ka != kb ? ka < kb : a < b;
}

// One system's view of its serial ports, read from its sysfs and /dev.
class PortScan {
  public:
    explicit PortScan(fs::path root) : root_(std::move(root)), sys_(root_ / "sys") {}

    std::vector<PortInfo> Ports() const {
        std::error_code ec;
        // kernel name -> the by-id link that udev made for it
        std::map<std::string, std::string> stable;
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(root_ / "dev/serial/by-id", ec)) {
            std::error_code linkError;
            const fs::path target = fs::canonical(entry.path(), linkError);
            if (!linkError) {
                const std::string name = target.filename().string();
                const std::string link = Shown(entry.path());
                auto [it, fresh] = stable.emplace(name, link);
                if (!fresh && link < it->second) {
                    it->second = link;  // the same choice on every run
                }
                names.insert(name);
            }
        }
        for (const auto& entry : fs::directory_iterator(sys_ / "class/tty", ec)) {
            const std::string name = entry.path().filename().string();
            if (IsPort(name)) {
                names.insert(name);
            }
        }
        std::vector<std::string> sorted(names.begin(), names.end());
        std::sort(sorted.begin(), sorted.end(), NaturalLess);

        const std::set<std::string> consoles = Consoles();
        std::vector<PortInfo> ports;
        for (const auto& name : sorted) {
            std::error_code missing;
            if (!fs::exists(root_ / "dev" / name, missing)) {
                continue;
            }
            PortInfo info;
            info.kernelName = "/dev/" + name;
            const auto link = stable.find(name);
            info.name = link != stable.end() ? link->second : info.kernelName;
            info.console = consoles.count(name) != 0;
            Describe(name, info);
            ports.push_back(std::move(info));
        }
        return ports;
    }

  private:
    // A path inside the tree as the system itself names it.
    std::string Shown(const fs::path& path) const {
        if (root_ == root_.root_path()) {
            return path.string();
        }
        return (fs::path("/") / path.lexically_relative(root_)).string();
    }

    // A tty with hardware behind it.  A ttyS node exists for every possible
    // UART; only those with a chip (type other than PORT_UNKNOWN, 0) count.
    bool IsPort(const std::string& name) const {
        std::error_code ec;
        if (!fs::exists(sys_ / "class/tty" / name / "device", ec)) {
            return false;
        }
        if (name.starts_with("ttyS")) {
            const std::string type = ReadLine(sys_ / "class/tty" / name / "type");
            return !type.empty() && type != "0";
        }
        return true;
    }

    // The ttys the kernel writes its console to ("ttyS0 tty0").
    std::set<std::string> Consoles() const {
        std::set<std::string> names;
        std::istringstream active(ReadLine(sys_ / "class/tty/console/active"));
        for (std::string name; active >> name;) {
            names.insert(name);
        }
        return names;
    }

    // The USB identity of the adapter behind the port, else the driver.
    void Describe(const std::string& name, PortInfo& info) const {
        std::error_code ec;
        fs::path dir = fs::canonical(sys_ / "class/tty" / name / "device", ec);
        std::string driver;
        for (int level = 0; !ec && level < 5 && dir.has_relative_path() && dir != sys_; ++level) {
            if (!ReadLine(dir / "idVendor").empty()) {
                info.vendorId = ReadLine(dir / "idVendor");
                info.productId = ReadLine(dir / "idProduct");
                info.manufacturer = ReadLine(dir / "manufacturer");
                info.product = ReadLine(dir / "product");
                info.serialNumber = ReadLine(dir / "serial");
                break;
            }
            if (driver.empty() || driver == "port") {
                std::error_code linkError;
                const fs::path link = fs::read_symlink(dir / "driver", linkError);
                if (!linkError) {
                    driver = link.filename().string();
                }
            }
            dir = dir.parent_path();
        }
        if (!info.product.empty()) {
            info.description =
                info.manufacturer.empty() ? info.product : info.manufacturer + " " + info.product;
        } else if (driver != "port") {
            info.description = driver;
        }
        // A ttyS port also answers to its number form, COM<n+1>.
        unsigned index = 0;
        const char* digits = name.data() + 4;
        const char* end = name.data() + name.size();
        if (name.starts_with("ttyS") && digits != end &&
            std::from_chars(digits, end, index).ptr == end && index < 32767) {
            const std::string com = "COM" + std::to_string(index + 1);
            info.description = info.description.empty() ? com : info.description + " (" + com + ")";
        }
    }

    fs::path root_;
    fs::path sys_;
};

}  // namespace

std::vector<PortInfo> ListPorts(const std::filesystem::path& root) {
    return PortScan(root).Ports();
}

std::vector<PortInfo> ListPorts() {
    return ListPorts("/");
}

}  // namespace vantri::port
