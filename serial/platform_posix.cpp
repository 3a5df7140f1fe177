// The platform layer on POSIX: termios for the line, flock() and TIOCEXCL for
// exclusive use, ppoll() deadlines on the monotonic clock for the time-out
// rules.  The descriptor stays non-blocking and every wait is a ppoll() with
// a deadline, so no call outlasts its time-outs and a hang-up ends a wait at
// once.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "serial/platform.h"

namespace vantri::port {

namespace {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

thread_local std::uint32_t lastError = 0;

bool Fail(int error) {
    lastError = static_cast<std::uint32_t>(error);
    return false;
}

Handle Refuse(int error, int fd = -1) {
    if (fd >= 0) {
        ::close(fd);
    }
    Fail(error);
    return InvalidHandle;
}

// A handle is a file descriptor; anything outside int range is none (-1),
// which every system call below refuses with EBADF.
int Fd(Handle h) {
    return h < 0 || h > INT_MAX ? -1 : static_cast<int>(h);
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

// The write time-out of `count` bytes from now; none when both parts are 0.
// A 32-bit multiplier times a 32-bit count overflows what a steady_clock
// time point holds, and nobody waits 30 years for a serial byte: no deadline.
Deadline WriteDeadline(int fd, std::uint32_t count) {
    const Timeouts t = TimeoutsOf(fd);
    const std::uint64_t ms =
        std::uint64_t{t.WriteTotalTimeoutMultiplier} * count + t.WriteTotalTimeoutConstant;
    if (ms == 0 || ms > (std::uint64_t{1} << 40)) {
        return std::nullopt;
    }
    return Clock::now() + std::chrono::milliseconds(ms);
}

// Waits until `fd` reports one of `events`, a hang-up or an error, or until
// the deadline (none: wait for ever; a past deadline: just look).  Returns
// the revents when one of `events` came (also along with a hang-up), 0 on
// time-out, or -1 with lastError set when poll fails or the line hung up or
// is in error.  EINTR goes round again against the same deadline, or with
// `endOnSignal` ends the wait as a time-out would.
int WaitFor(int fd, short events, Deadline deadline, bool endOnSignal = false) {
    for (;;) {
        pollfd p{fd, events, 0};
        // ppoll takes nanoseconds, so the time-outs do not round up to the
        // next millisecond.  The kernel lets a poll run late by 0.1 % of its
        // length (2 ms on 2 s), so a long wait stops a little short and the
        // rest is waited for with a short one.
        timespec ts{};
        if (deadline) {
            auto left = std::max(Clock::duration::zero(), *deadline - Clock::now());
            left -= left > std::chrono::milliseconds(50) ? left / 128 : Clock::duration::zero();
            const auto ns = std::chrono::nanoseconds(left).count();
            ts = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        }
        const int rc = ::ppoll(&p, 1, deadline ? &ts : nullptr, nullptr);
        if (rc > 0 && (p.revents & events) != 0) {
            return p.revents;
        }
        if (rc > 0 || (rc < 0 && errno != EINTR)) {
            // A hang-up or error without the events asked for, or poll failed.
            Fail(rc < 0 ? errno : (p.revents & POLLNVAL) != 0 ? EBADF : EIO);
            return -1;
        }
        if (rc == 0 && Clock::now() < *deadline) {
            continue;  // poll's own limit on a very long wait
        }
        if (rc == 0 || endOnSignal) {
            return 0;
        }
    }
}

}  // namespace

Handle OpenDevice(const std::string& name) {
    // Look before opening: opening some character devices has side effects
    // (a watchdog starts ticking), so only terminals are opened at all.
    struct stat st {};
    if (name.empty() || ::stat(name.c_str(), &st) != 0) {
        return Refuse(name.empty() ? ENOENT : errno);
    }
    if (!S_ISCHR(st.st_mode)) {
        return Refuse(ENOTTY);
    }
    // Non-blocking, so an open without carrier does not hang and the fd
    // never blocks later: every wait is a poll with a deadline.
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Refuse(errno);
    }
    if (!::isatty(fd)) {
        return Refuse(ENOTTY, fd);
    }
    // flock keeps out every other opener that asks, root included and our
    // own other handles; TIOCEXCL also keeps out programs that never ask,
    // except root, which it does not stop.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return Refuse(errno, fd);
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        return Refuse(errno, fd);
    }
    // Whatever waits in the input queue belongs to an earlier user; a Windows
    // port starts empty too.  The output side is left alone: on a pty it
    // still holds the tail of the previous handle's last writes, which the
    // device has yet to take.
    if (::tcflush(fd, TCIFLUSH) != 0) {
        const int error = errno;
        ::ioctl(fd, TIOCNXCL);
        return Refuse(error, fd);
    }
    return fd;
}

bool GetLineSettings(Handle h, LineSettings& settings) {
    termios t{};
    if (::tcgetattr(Fd(h), &t) != 0) {
        return Fail(errno);
    }
    settings.BaudRate = ::cfgetospeed(&t) == B115200 ? SupportedBaudRate : 0;
    return true;
}

bool SetLineSettings(Handle h, const LineSettings& settings) {
    // Start from the port's own record, so its flow control and modem lines
    // are kept.
    const int fd = Fd(h);
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        return Fail(errno);
    }
    if (!IsSupported(settings)) {
        return Fail(EINVAL);
    }
    // A raw 8-bit channel, as a Windows port is: every byte arrives as sent,
    // nothing is echoed, translated, buffered into lines, taken for flow
    // control or turned into a signal.  A break is dropped, not read as a
    // byte 0.  CRTSCTS, CLOCAL and HUPCL stay as the port had them.
    t.c_iflag &= ~static_cast<tcflag_t>(BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | IUCLC | IMAXBEL);
    t.c_iflag |= IGNBRK;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &=
        ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | TOSTOP);
    constexpr tcflag_t line = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    t.c_cflag = (t.c_cflag & ~line) | CS8 | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    // tcsetattr succeeds when any part was applied; a driver may quietly
    // drop what it cannot do.  Refuse that, as SetCommState refuses settings
    // the port cannot take.
    termios now{};
    if (::cfsetspeed(&t, B115200) != 0 || ::tcsetattr(fd, TCSANOW, &t) != 0 ||
        ::tcgetattr(fd, &now) != 0) {
        return Fail(errno);
    }
    if ((now.c_cflag & line) != (t.c_cflag & line) || ::cfgetospeed(&now) != B115200 ||
        (now.c_lflag & (ICANON | ECHO)) != 0) {
        return Fail(EINVAL);
    }
    return true;
}

bool SetTimeouts(Handle h, const Timeouts& timeouts) {
    if (!SetQueueSizes(h, 0, 0)) {
        return false;
    }
    if (!IsSupported(timeouts)) {
        return Fail(EINVAL);
    }
    std::lock_guard lock(timeoutsMutex);
    timeoutsTable[Fd(h)] = timeouts;
    return true;
}

bool SetQueueSizes(Handle h, std::uint32_t, std::uint32_t) {
    // The tty driver's buffers have fixed sizes; there is nothing to set.
    return ::fcntl(Fd(h), F_GETFD) >= 0 || Fail(EBADF);
}

bool Write(Handle h, const void* data, std::uint32_t count, std::uint32_t& written) {
    written = 0;
    const int fd = Fd(h);
    const auto deadline = WriteDeadline(fd, count);
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (;;) {
        // Even a write of nothing goes to the device, so a dead port fails.
        const ssize_t n = ::write(fd, bytes + written, count - written);
        const int error = n < 0 ? errno : 0;
        if (error != 0 && error != EINTR && error != EAGAIN) {
            return Fail(error);  // EIO and the like: the device is gone
        }
        written += n > 0 ? static_cast<std::uint32_t>(n) : 0;
        if (written == count) {
            return true;
        }
        if (n > 0 || error == EINTR) {
            continue;
        }
        // The output queue is full: wait for room, the deadline or a hang-up.
        const int revents = WaitFor(fd, POLLOUT, deadline);
        if (revents <= 0) {
            return revents == 0;  // timed out: a short write is no error
        }
    }
}

bool Read(Handle h, void* buffer, std::uint32_t count, std::uint32_t& got) {
    got = 0;
    const int fd = Fd(h);
    const Timeouts t = TimeoutsOf(fd);
    Deadline total, intervalEnd;
    if (t.ReadTotalTimeoutConstant != 0) {
        total = Clock::now() + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    bool signalled = false;  // poll said readable since the last read
    bool lastLook = false;   // the deadline passed; one more look, then return
    while (got < count) {
        const ssize_t n = ::read(fd, bytes + got, count - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return Fail(errno);  // EIO and the like: the device is gone
        }
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
            signalled = false;
            if (t.ReadIntervalTimeout != 0) {
                intervalEnd = Clock::now() + std::chrono::milliseconds(t.ReadIntervalTimeout);
            }
            continue;  // take all that is queued before waiting again
        }
        // Nothing queued.  With VMIN = VTIME = 0 a raw tty reads 0 here (some
        // systems say EAGAIN); right after poll said readable, 0 is end of
        // file: a hung-up line.
        if (std::exchange(signalled, false) && n == 0) {
            return Fail(EIO);
        }
        if (lastLook) {
            break;
        }
        Deadline deadline = total;
        if (intervalEnd && (!deadline || *intervalEnd < *deadline)) {
            deadline = intervalEnd;
        }
        // Time is up: bytes that came in meanwhile, or a hang-up, still
        // count, so look once more without waiting.
        lastLook = deadline && Clock::now() >= *deadline;
        // A signal (Ctrl-C) ends the wait as its time-out would: the caller
        // asks whether to stop as soon as the read returns.
        // Read first even when POLLHUP came with POLLIN: queued bytes were
        // received before the line went.
        const int revents = WaitFor(fd, POLLIN, lastLook ? Clock::now() : deadline, true);
        if (revents < 0) {
            return false;
        }
        lastLook = lastLook || revents == 0;
        signalled = revents != 0;
    }
    return true;
}

bool DrainOutput(Handle h) {
    // Bounded like a write of what is still queued, so a line that flow
    // control holds cannot hold the caller for ever; a hang-up ends the wait
    // at once.  A pty has no output queue of its own.
    const int fd = Fd(h);
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0) {
        return Fail(errno);
    }
    const auto deadline = WriteDeadline(fd, static_cast<std::uint32_t>(std::max(queued, 0)));
    while (queued > 0) {
        if (deadline && Clock::now() >= *deadline) {
            return Fail(ETIMEDOUT);
        }
        if (WaitFor(fd, 0, Clock::now() + std::chrono::milliseconds(1)) < 0) {
            return false;
        }
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0) {
            return Fail(errno);
        }
    }
    // The last bytes still in the UART: tcdrain blocks even on a
    // non-blocking descriptor, and fails with EIO once the line hung up.
    while (::tcdrain(fd) != 0) {
        if (errno != EINTR) {
            return Fail(errno);
        }
    }
    return true;
}

bool ClearErrorAndCount(Handle h, std::uint32_t& errors, std::uint32_t& inQueue) {
    errors = 0;
    inQueue = 0;
    // A hung-up line still answers FIONREAD; only poll tells it is gone.
    // termios reports line errors in the data (PARMRK), which a raw channel
    // switches off, so there are no error bits to hand back.
    const int fd = Fd(h);
    if (WaitFor(fd, 0, Clock::now()) < 0) {
        return false;
    }
    int queued = 0;
    if (::ioctl(fd, FIONREAD, &queued) != 0) {
        return Fail(errno);
    }
    inQueue = static_cast<std::uint32_t>(std::max(queued, 0));
    return true;
}

bool QueryLine(Handle h) {
    const int fd = Fd(h);
    int lines = 0;
    if (fd < 0 || (::ioctl(fd, TIOCMGET, &lines) != 0 &&
                   IsDeviceLostError(static_cast<std::uint32_t>(errno)))) {
        return Fail(fd < 0 ? EBADF : errno);
    }
    return true;
}

bool Close(Handle h) {
    const int fd = Fd(h);
    {
        // Dropped before the close, so a descriptor number reused by the
        // next open cannot inherit these time-outs.
        std::lock_guard lock(timeoutsMutex);
        timeoutsTable.erase(fd);
    }
    // The exclusive flag belongs to the tty, not to this descriptor; on a
    // pty it would outlive the close and keep later users out.
    ::ioctl(fd, TIOCNXCL);
    // Output still queued in the driver here is stuck (every exchange drains
    // its own), for instance behind hardware flow control the port was left
    // with: the driver would hold the close for its closing wait, 30 s on a
    // UART.  Only then is it dropped: on a pty the "queue" is what the other
    // end has not read yet, and those bytes are on their way, not stuck.
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        ::tcflush(fd, TCOFLUSH);
    }
    // Linux frees the descriptor even when close reports EINTR.
    return ::close(fd) == 0 || errno == EINTR || Fail(errno);
}

std::uint32_t LastError() {
    return lastError;
}

std::string ComPortDevice(std::int16_t number) {
    return number < 1 ? "" : "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace vantri::port
