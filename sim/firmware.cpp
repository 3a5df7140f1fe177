// What the device does with the bytes it receives: the receive buffer,
// handled strictly in order once the device is free; read requests begin
// an answer, bent by the fault modes of a response (short, stall, garbage,
// extra, double); write requests take the next 4096 bytes whatever they are.
// Then how the device's bytes reach the client.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "sim/device.h"

namespace vantri::sim {
namespace {

constexpr std::uint8_t kReadRequest = 0x05;
constexpr std::uint8_t kWriteRequest = 0x06;
// What the chatter fault sends back: not a hex digit, so a client that lets
// it into a read answer finds it there.
constexpr char kChatterByte = '*';
constexpr std::size_t kChatterEvery = 16;
// Records of received bytes kept: a write and room for what follows it.
constexpr std::size_t kRecordLimit = 2 * (KeyBufferSize + 1);

// Writes `bytes` to `path` through a temporary file in the same folder that
// is renamed over it, so the file never holds a half-written buffer.  Empty
// when saved, else why not.
std::string SaveAtomically(const std::filesystem::path& path, const std::string& bytes) {
    std::string temp = path.string() + ".tmp-XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.Valid())
        return std::strerror(errno);
    std::size_t done = 0;
    for (ssize_t n = 1; done < bytes.size() && (n > 0 || errno == EINTR);) {
        n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
        errno = n == 0 ? EIO : errno;  // a write that takes nothing
    }
    if (done == bytes.size() && ::fsync(fd.Get()) == 0 && ::close(fd.Release()) == 0 &&
        ::rename(temp.c_str(), path.c_str()) == 0)
        return {};
    const std::string failure = std::strerror(errno);
    ::unlink(temp.c_str());
    return failure;
}

// Two upper-case hex digits per byte, high digit first.
std::string HexText(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes)
        text += {kDigits[static_cast<unsigned char>(c) >> 4], kDigits[c & 0x0F]};
    return text;
}

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

void Simulator::Impl::Receive() {
    char buf[4096];
    // Take no byte beyond the one the line dies at.
    const std::uint64_t cap =
        hangupAfter ? *hangupAfter - std::min(crossed, *hangupAfter) : sizeof buf;
    if (cap == 0)
        return;
    const ssize_t n = ::read(pty.master.Get(), buf, std::min<std::uint64_t>(sizeof buf, cap));
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0)
        return ClosePort(std::string("line lost: ") +
                         (n < 0 ? std::strerror(errno) : "end of file"));
    const Clock::time_point now = Clock::now();
    CheckLineSettings(now);  // before the bytes that were sent with them
    batchAt = Since(now);
    crossed += static_cast<std::uint64_t>(n);
    std::size_t discarded = 0, lost = 0;
    for (ssize_t i = 0; i < n; ++i) {
        const auto byte = static_cast<std::uint8_t>(buf[i]);
        const std::uint64_t number = arrivals++;
        if (log)
            std::fprintf(log.get(), "%lld %02X\n", static_cast<long long>(batchAt->count()), byte);
        {
            // On arrival, before the byte is handled, so whoever sees its
            // effect also finds it here.
            std::lock_guard lock(mutex);
            received.push_back({*batchAt, byte});
            if (received.size() > kRecordLimit)
                received.pop_front();
        }
        if (Find(Fault::Kind::BusyDrop) && answering) {
            ++discarded;
        } else if (pending.size() >= ReceiveBufferSize) {
            ++lost;
        } else {
            pending.push_back({number, byte});
            // Byte by byte, so a request starts its answer before the bytes
            // behind it arrive in the device's eyes.
            Process(now);
        }
    }
    if (discarded != 0)
        Event("fault busy-drop: " + std::to_string(discarded) + " bytes discarded while answering");
    if (lost != 0)
        Event("overrun: the receive buffer is full (" + std::to_string(ReceiveBufferSize) +
              " bytes), " + std::to_string(lost) + " bytes lost");
    batchAt.reset();
    if (log)
        std::fflush(log.get());
}

void Simulator::Impl::Process(Clock::time_point now) {
    if (inWrite && now - lastWriteByte >= kWriteIdleLimit) {
        Event("write abandoned after " + std::to_string(incoming.size()) +
              " of 4096 bytes: nothing came for " + std::to_string(kWriteIdleLimit.count()) +
              " ms");
        inWrite = false;
    }
    while (!pending.empty() && !Busy()) {
        const Pending next = pending.front();
        pending.pop_front();
        if (inWrite) {
            incoming.push_back(static_cast<char>(next.byte));
            lastWriteByte = now;
            if (Find(Fault::Kind::Chatter) && incoming.size() % kChatterEvery == 0) {
                out.push_back(kChatterByte);
                Event("fault chatter: one byte back after byte " + std::to_string(incoming.size()) +
                      " of the write");
            }
            if (incoming.size() == KeyBufferSize) {
                inWrite = false;
                if (const Fault* slow = Find(Fault::Kind::SlowStore)) {
                    storeAt = now + std::chrono::milliseconds(slow->ms);
                    Event("fault slow-store: busy storing for " + std::to_string(slow->ms) + " ms");
                } else {
                    CompleteWrite();
                }
            }
        } else if (next.byte == kReadRequest) {
            BeginAnswer();
        } else if (next.byte == kWriteRequest) {
            inWrite = true;
            incoming.clear();
            lastWriteByte = now;
            // The records now start at this request; what came before it is
            // another exchange's.
            // (They are the latest arrivals: the request is arrivals - number
            // from the end.)
            Locked([&] {
                const std::size_t keep = std::min(received.size(), arrivals - next.number);
                return received.erase(received.begin(), received.end() - keep);
            });
            Event("write request: taking 4096 bytes");
        }
        // Any other byte outside an exchange means nothing to the device.
    }
}

void Simulator::Impl::BeginAnswer() {
    if (Find(Fault::Kind::Silent))
        return Event("fault silent: read request not answered");
    const std::string hex = HexText(Locked([this] { return buffer; }));
    std::string text = hex;
    std::vector<Stall> planned;
    std::vector<std::string> events;
    const auto each = [this](Fault::Kind kind, auto apply) {
        for (const Fault& f : options.faults)
            if (f.kind == kind)
                apply(f, "fault " + FaultText(f) + ": ");
    };
    // Extra characters continue the buffer's hex text from its start, so they
    // look like more of a valid answer: only the count tells them apart.
    each(Fault::Kind::Extra, [&](const Fault& f, const std::string& fault) {
        for (std::uint32_t i = 0; i < f.n; ++i)
            text.push_back(hex[i % hex.size()]);
        if (f.n > 0)
            events.push_back(fault + std::to_string(f.n) + " characters after the answer");
    });
    each(Fault::Kind::Garbage, [&](const Fault& f, const std::string& fault) {
        if (f.n < text.size()) {
            text[f.n] = 'G';
            events.push_back(fault + "character " + std::to_string(f.n) + " sent as G");
        }
    });
    each(Fault::Kind::Short, [&](const Fault& f, const std::string& fault) {
        if (f.n < text.size()) {
            text.resize(f.n);
            events.push_back(fault + "answer cut to " + std::to_string(f.n) + " characters");
        }
    });
    each(Fault::Kind::Stall, [&](const Fault& f, const std::string&) {
        if (f.n < text.size())
            planned.push_back({f.n, f.ms});
    });
    std::stable_sort(planned.begin(), planned.end(),
                     [](const Stall& a, const Stall& b) { return a.after < b.after; });
    bool twice = false;
    each(Fault::Kind::Double, [&](const Fault&, const std::string&) { twice = !text.empty(); });
    Event("read request: answering with " + std::to_string(text.size() * (twice ? 2 : 1)) +
          " characters");
    for (const std::string& e : events)
        Event(e);
    if (twice)
        Event("fault double: the answer sent twice");
    if (text.empty())
        return Event("read answer sent");
    answerStart = out.size();
    for (std::size_t copy = 0; copy < (twice ? 2 : 1); ++copy) {
        for (const Stall& s : planned)
            stalls.push_back({out.size() + s.after, s.ms});
        out += text;
    }
    answering = true;
    answerEnd = out.size();
}

void Simulator::Impl::CompleteWrite() {
    inWrite = false;
    if (const Fault* flip = Find(Fault::Kind::Flip); flip && flip->n < incoming.size()) {
        incoming[flip->n] = static_cast<char>(~incoming[flip->n]);
        Event("fault flip: byte " + std::to_string(flip->n) + " stored inverted");
    }
    Event("write complete: buffer replaced");
    // Saved before it is published, so whoever sees WritesCompleted() rise
    // also finds the file in place.
    if (!options.saveFile.empty()) {
        const std::string failure = SaveAtomically(options.saveFile, incoming);
        const std::string where = options.saveFile.string();
        Event(failure.empty() ? "saved to " + where : "save to " + where + " failed: " + failure);
        if (!failure.empty())
            std::fprintf(stderr, "vantri-devsim: save to %s failed: %s\n", where.c_str(),
                         failure.c_str());
    }
    std::lock_guard lock(mutex);
    buffer = std::exchange(incoming, {});
    ++writesCompleted;
}

// How the device's bytes reach the client: at the line rate, 10 bits a
// byte; held up by a stall; handed over in chunks by a burst adapter; cut
// off at the hangup count.
std::size_t Simulator::Impl::Handover() const {
    std::uint64_t limit = std::min<std::uint64_t>(out.size() - outPos, burst ? burst->n : ~0u);
    if (!stalls.empty())
        limit = std::min<std::uint64_t>(limit, stalls.front().after - outPos);
    if (hangupAfter)
        limit = crossed >= *hangupAfter ? 0 : std::min(limit, *hangupAfter - crossed);
    return static_cast<std::size_t>(limit);
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
            if (now < *holdUntil)
                return;
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
        if (limit == 0)
            return;  // the hangup takes it from here
        if (rate != 0 && lineIdle) {
            paceOrigin = now;
            paceCount = 0;
            lineIdle = false;
        }
        if (burst && now < nextHandover)
            return;
        if (rate != 0) {
            const std::uint64_t due = BytesIn(now - paceOrigin, rate);
            if (due < paceCount + (burst ? limit : 1))
                return;
            limit = static_cast<std::size_t>(std::min<std::uint64_t>(limit, due - paceCount));
        }
        const ssize_t n = ::write(pty.master.Get(), out.data() + outPos, limit);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return ClosePort(std::string("line lost: ") + std::strerror(errno));
        if (n < 0) {
            waitingWritable = errno == EAGAIN;
            lineIdle = true;  // a blocked line banks no time
            return;
        }
        outPos += static_cast<std::size_t>(n);
        crossed += static_cast<std::uint64_t>(n);
        lastSent = Clock::now();
        paceCount += static_cast<std::uint64_t>(n);
        if (burst)
            nextHandover = lastSent + std::chrono::milliseconds(burst->ms);
        if (answering && outPos >= answerEnd) {
            answering = false;
            Event("read answer sent");
        }
        if (static_cast<std::size_t>(n) < limit)
            waitingWritable = lineIdle = true;
        if (outPos == out.size()) {
            out.clear();
            outPos = answerStart = answerEnd = 0;
            lineIdle = true;
        }
        if (hangupAfter && crossed >= *hangupAfter)
            return;
    }
}

std::optional<Clock::duration> Simulator::Impl::NextWake(Clock::time_point now) const {
    if (hangupBegun)
        return std::chrono::milliseconds(2);  // watching the client drain the line
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
    if (storeAt)
        earliest(*storeAt);
    if (portOpen)
        earliest(nextLineCheck);
    if (inWrite)
        earliest(lastWriteByte + kWriteIdleLimit);
    if (!wake)
        return std::nullopt;
    return std::max<Clock::duration>(Clock::duration::zero(), *wake - now);
}

}  // namespace vantri::sim
