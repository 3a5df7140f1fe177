// How the device's bytes reach the client: at the line rate, 10 bits a
// byte; held up by a stall; handed over in chunks by a burst adapter; cut
// off at the hangup count.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sim/device.h"

namespace vantri::sim {
namespace {

using std::chrono::nanoseconds;
constexpr std::uint64_t kTenBitsNs = 10'000'000'000;  // ten bits at 1 baud

// Time until `count` bytes have gone at `rate`.
nanoseconds LineTime(std::uint64_t count, std::uint64_t rate) {
    return nanoseconds(count / rate * kTenBitsNs + count % rate * kTenBitsNs / rate);
}

// Bytes gone at `rate` in `elapsed`.
std::uint64_t BytesIn(Clock::duration elapsed, std::uint64_t rate) {
    const auto ns =
        static_cast<std::uint64_t>(std::max<std::int64_t>(0, nanoseconds(elapsed).count()));
    return ns / kTenBitsNs * rate + ns % kTenBitsNs * rate / kTenBitsNs;
}

}  // namespace

std::size_t Simulator::Impl::Handover() const {
    std::size_t limit = out.size() - outPos;
    if (!stalls.empty()) {
        limit = std::min(limit, stalls.front().after - outPos);
    }
    if (hangupAfter) {
        limit =
            crossed >= *hangupAfter
                ? 0
                : static_cast<std::size_t>(std::min<std::uint64_t>(limit, *hangupAfter - crossed));
    }
    if (burst) {
        limit = std::min<std::size_t>(limit, burst->n);
    }
    return limit;
}

// The line rate lets a byte out only once its ten bits have crossed the
// line, counted from paceOrigin; burst hands a chunk over once all of it has
// crossed and the gap since the last handover is over, while the line goes
// on carrying the next bytes meanwhile, as an adapter's does.  So the client
// never has more than the line could have carried since paceOrigin.  Every
// pause of the line itself (a stall, a blocked port, nothing to send)
// restarts the count at its end: the line is never credited with time it
// was quiet, so it never makes a pause up by going faster afterwards.
void Simulator::Impl::SendDue(Clock::time_point now) {
    const std::uint64_t rate = options.lineRate;
    while (outPos < out.size() && !waitingWritable) {
        if (holdUntil) {
            if (now < *holdUntil) {
                return;
            }
            holdUntil.reset();
            lineIdle = true;
        }
        if (!stalls.empty() && stalls.front().after == outPos) {
            const Stall s = stalls.front();
            stalls.erase(stalls.begin());
            Event("fault stall: pausing " + std::to_string(s.ms) + " ms after " +
                  std::to_string(s.after - answerStart) + " characters");
            holdUntil = now + std::chrono::milliseconds(s.ms);
            continue;
        }
        std::size_t limit = Handover();
        if (limit == 0) {
            return;  // the hangup takes it from here
        }
        if (rate != 0 && lineIdle) {
            paceOrigin = now;
            paceCount = 0;
            lineIdle = false;
        }
        if (burst && now < nextHandover) {
            return;
        }
        if (rate != 0) {
            const std::uint64_t due = BytesIn(now - paceOrigin, rate);
            if (due < paceCount + (burst ? limit : 1)) {
                return;
            }
            limit = static_cast<std::size_t>(std::min<std::uint64_t>(limit, due - paceCount));
        }
        const ssize_t n = ::write(pty.master.Get(), out.data() + outPos, limit);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                waitingWritable = errno == EAGAIN;
                lineIdle = true;  // a blocked line banks no time
                return;
            }
            ClosePort(std::string("line lost: ") + std::strerror(errno));
            return;
        }
        outPos += static_cast<std::size_t>(n);
        crossed += static_cast<std::uint64_t>(n);
        lastSent = Clock::now();
        paceCount += static_cast<std::uint64_t>(n);
        if (burst) {
            nextHandover = lastSent + std::chrono::milliseconds(burst->ms);
        }
        if (answering && outPos >= answerEnd) {
            answering = false;
            Event("read answer sent");
        }
        if (static_cast<std::size_t>(n) < limit) {
            waitingWritable = true;
            lineIdle = true;
        }
        if (outPos == out.size()) {
            out.clear();
            outPos = answerStart = answerEnd = 0;
            lineIdle = true;
        }
        if (hangupAfter && crossed >= *hangupAfter) {
            return;
        }
    }
}

std::optional<Clock::duration> Simulator::Impl::NextWake(Clock::time_point now) const {
    if (hangupBegun) {
        return std::chrono::milliseconds(2);  // watching the client drain the line
    }
    std::optional<Clock::time_point> wake;
    const auto earliest = [&wake](Clock::time_point t) { wake = wake ? std::min(*wake, t) : t; };
    const std::uint64_t rate = options.lineRate;
    if (portOpen && outPos < out.size() && !waitingWritable) {
        if (holdUntil) {
            earliest(*holdUntil);
        } else if (rate != 0 && lineIdle) {
            earliest(now);  // SendDue starts the line
        } else {
            Clock::time_point at = burst ? std::max(now, nextHandover) : now;
            if (rate != 0) {
                const std::uint64_t need = burst ? std::max<std::size_t>(Handover(), 1) : 1;
                at = std::max(at, paceOrigin + LineTime(paceCount + need, rate));
            }
            earliest(at);
        }
    }
    if (storeAt) {
        earliest(*storeAt);
    }
    if (portOpen) {
        earliest(nextLineCheck);
    }
    if (inWrite) {
        earliest(lastWriteByte + kWriteIdleLimit);
    }
    if (!wake) {
        return std::nullopt;
    }
    return std::max<Clock::duration>(Clock::duration::zero(), *wake - now);
}

}  // namespace vantri::sim
