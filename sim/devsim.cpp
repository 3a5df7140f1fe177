#include "sim/devsim.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "sim/answer.h"
#include "sim/event_log.h"
#include "sim/pty.h"
#include "sim/unique_fd.h"

namespace vantri::sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::nanoseconds;

constexpr std::uint8_t kReadRequest = 0x05;
constexpr std::uint8_t kWriteRequest = 0x06;
// What the chatter fault sends back: not a hex digit, so a client that lets
// it into a read answer finds it there.
constexpr char kChatterByte = '*';
constexpr std::size_t kChatterEvery = 16;
// Records of received bytes kept: a write and room for what follows it.
constexpr std::size_t kRecordLimit = 2 * (KeyBufferSize + 1);

// Waits on `fds` until one is ready or `timeout` has passed (none: no limit).
int Wait(pollfd* fds, nfds_t count, std::optional<Clock::duration> timeout) {
#if defined(__linux__)
    // The line rate needs finer steps than poll's milliseconds: a byte at
    // 115200 baud takes 87 microseconds.
    if (!timeout) {
        return ::ppoll(fds, count, nullptr, nullptr);
    }
    const auto ns = std::max<std::int64_t>(0, nanoseconds(*timeout).count());
    const timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    return ::ppoll(fds, count, &ts, nullptr);
#else
    if (!timeout) {
        return ::poll(fds, count, -1);
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*timeout).count();
    return ::poll(fds, count, static_cast<int>(std::clamp<std::int64_t>(ms, 0, 1 << 30)));
#endif
}

// Writes `bytes` to `path` through a temporary file in the same folder that
// is renamed over it, so the file never holds a half-written buffer.
std::string SaveAtomically(const std::filesystem::path& path, const std::string& bytes) {
    std::string temp = path.string() + ".tmp-XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.Valid()) {
        return std::strerror(errno);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            ::unlink(temp.c_str());
            return std::strerror(err);
        }
        done += static_cast<std::size_t>(n);
    }
    int err = ::fsync(fd.Get()) == 0 ? 0 : errno;
    if (::close(fd.Release()) != 0 && err == 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(temp.c_str());
        return std::strerror(err);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        err = errno;
        ::unlink(temp.c_str());
        return std::strerror(err);
    }
    return {};
}

}  // namespace

std::string LineSettingsText(const LineSettings& settings) {
    std::string text = settings.baud != 0 ? std::to_string(settings.baud) : "unknown speed";
    text += " " + std::to_string(settings.dataBits) + settings.parity +
            std::to_string(settings.stopBits) + ", ";
    std::string flow;
    for (const auto& [on, name] :
         {std::pair{settings.rtsCts, " RTS/CTS"}, std::pair{settings.ixon, " IXON"},
          std::pair{settings.ixoff, " IXOFF"}}) {
        flow += on ? name : "";
    }
    return text + (flow.empty() ? "no flow control" : "flow control" + flow);
}

std::string DefaultBuffer() {
    std::string buffer(KeyBufferSize, '\0');
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<char>((i * 7 + 3) % 256);
    }
    return buffer;
}

struct Simulator::Impl {
    Options options;
    Pty pty;
    HeldLink link;  // declared after pty: released before the port goes
    UniqueFd wakeRead;
    UniqueFd wakeWrite;
    EventLog log;
    Clock::time_point start;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::mutex stopMutex;

    // Shared with the getters.
    mutable std::mutex mutex;
    std::string buffer;
    int writesCompleted = 0;
    int readsAnswered = 0;
    // From the latest write request on, so a device that serves for ever
    // keeps one write's worth; at most kRecordLimit, the oldest dropped.
    std::deque<Received> received;
    std::uint64_t receivedFirst = 0;  // arrival number of received.front()
    bool hungUp = false;
    LineSettings line;

    // The serving thread's own state.
    bool portOpen = true;
    bool silent = false;
    bool chatter = false;
    bool busyDrop = false;
    std::optional<std::uint32_t> flipAt;  // the byte each write stores inverted
    std::optional<std::uint64_t> hangupAfter;
    std::uint64_t crossed = 0;  // bytes over the line, both ways
    // Set once the hangup count is reached: the line takes no more bytes and
    // closes as soon as the client has what was sent before.
    std::optional<Clock::time_point> hangupBegun;
    Clock::time_point lastSent;

    std::string out;  // bytes to send; out[outPos..] still to go
    std::size_t outPos = 0;
    bool answering = false;  // out holds an answer, from answerStart to answerEnd
    std::size_t answerStart = 0;
    std::size_t answerEnd = 0;
    std::vector<Stall> stalls;  // `after` counts from the start of out
    std::optional<Clock::time_point> holdUntil;
    bool waitingWritable = false;
    // Pacing: byte k after paceOrigin is on the line at paceOrigin + (k+1)
    // byte times.  Deadlines, not a sleep per byte, so the rate never drifts.
    bool lineIdle = true;
    Clock::time_point paceOrigin;
    std::uint64_t paceCount = 0;  // bytes handed to the client since paceOrigin
    std::optional<Fault> burst;   // hands over n bytes at a time, ms apart
    Clock::time_point nextHandover;

    bool inWrite = false;
    std::string incoming;
    Clock::time_point lastWriteByte;
    // slow-store: a complete write is stored once storeAt has come; the
    // device is busy until then.
    std::optional<std::chrono::milliseconds> storeTime;
    std::optional<Clock::time_point> storeAt;

    // The receive buffer: what arrived while the device was busy, with each
    // byte's arrival number, handled in order once it is free.
    struct Pending {
        std::uint64_t number;
        std::uint8_t byte;
    };
    std::deque<Pending> pending;
    std::uint64_t arrivals = 0;  // bytes received so far; the next one's number

    // A client's tcsetattr shows nowhere on the master, so the settings are
    // read when bytes arrive and at this pace in between.
    static constexpr std::chrono::milliseconds kLineCheckEvery{100};
    Clock::time_point nextLineCheck;

    microseconds Since(Clock::time_point t) const {
        return std::chrono::duration_cast<microseconds>(t - start);
    }
    // Events caused by a received byte carry that byte's time, so the log
    // reads in order.
    std::optional<microseconds> batchAt;
    void Event(const std::string& text) { log.Event(batchAt.value_or(Since(Clock::now())), text); }

    // Time from paceOrigin until `count` bytes have gone at the line rate.
    nanoseconds LineTime(std::uint64_t count) const {
        constexpr std::uint64_t kTenBitsNs = 10'000'000'000;
        const std::uint64_t rate = options.lineRate;
        return nanoseconds(count / rate * kTenBitsNs + count % rate * kTenBitsNs / rate);
    }
    std::uint64_t BytesDue(Clock::time_point now) const {
        constexpr std::uint64_t kTenBitsNs = 10'000'000'000;
        const std::uint64_t rate = options.lineRate;
        const auto elapsed = static_cast<std::uint64_t>(
            std::max<std::int64_t>(0, nanoseconds(now - paceOrigin).count()));
        return elapsed / kTenBitsNs * rate + elapsed % kTenBitsNs * rate / kTenBitsNs;
    }

    // Sending an answer or storing a buffer: what arrives meanwhile waits
    // (or, with busy-drop during an answer, is lost).
    bool Busy() const { return answering || storeAt.has_value(); }

    void Serve();
    void Receive();
    void Record(microseconds at, std::uint8_t byte, std::uint64_t number);
    void Process(Clock::time_point now);
    void Handle(const Pending& next, Clock::time_point now);
    void BeginAnswer();
    void CompleteWrite();
    void Queue(std::string_view bytes) { out.append(bytes); }
    std::size_t Handover() const;  // bytes the next write to the client may carry
    void SendDue(Clock::time_point now);
    std::optional<Clock::duration> NextWake(Clock::time_point now) const;
    void CheckLineSettings(Clock::time_point now);
    void CheckHangup();
    void ClosePort(const std::string& why);
};

void Simulator::Impl::Serve() {
    while (!stopping.load()) {
        Clock::time_point now = Clock::now();
        if (portOpen) {
            CheckHangup();
        }
        if (portOpen) {
            SendDue(now);
            CheckHangup();
        }
        now = Clock::now();
        if (portOpen && now >= nextLineCheck) {
            CheckLineSettings(now);
        }
        if (storeAt && now >= *storeAt) {
            storeAt.reset();
            CompleteWrite();
        }
        Process(now);
        if (inWrite && options.writeIdleLimit.count() > 0 &&
            now - lastWriteByte >= options.writeIdleLimit) {
            Event("write abandoned after " + std::to_string(incoming.size()) +
                  " of 4096 bytes: nothing came for " +
                  std::to_string(options.writeIdleLimit.count()) + " ms");
            inWrite = false;
            incoming.clear();
        }

        pollfd fds[2] = {{wakeRead.Get(), POLLIN, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        if (portOpen && !hangupBegun) {
            fds[1] = {pty.master.Get(),
                      static_cast<short>(POLLIN | (waitingWritable ? POLLOUT : 0)), 0};
            count = 2;
        }
        if (Wait(fds, count, NextWake(now)) < 0) {
            if (errno == EINTR) {
                continue;
            }
            Event(std::string("stopped serving: poll failed: ") + std::strerror(errno));
            return;
        }
        if (fds[0].revents != 0) {
            char drain[64];
            while (::read(wakeRead.Get(), drain, sizeof drain) > 0) {
            }
            continue;
        }
        if (count == 2 && fds[1].revents != 0) {
            if ((fds[1].revents & POLLOUT) != 0) {
                waitingWritable = false;
            }
            if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0) {
                Receive();
            }
        }
    }
}

void Simulator::Impl::Receive() {
    char buf[4096];
    std::size_t cap = sizeof buf;
    if (hangupAfter) {
        // Take no byte beyond the one the line dies at.
        if (crossed >= *hangupAfter) {
            return;
        }
        cap = static_cast<std::size_t>(std::min<std::uint64_t>(cap, *hangupAfter - crossed));
    }
    const ssize_t n = ::read(pty.master.Get(), buf, cap);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (n <= 0) {
        ClosePort(std::string("line lost: ") + (n < 0 ? std::strerror(errno) : "end of file"));
        return;
    }
    const Clock::time_point now = Clock::now();
    CheckLineSettings(now);  // before the bytes that were sent with them
    const microseconds at = Since(now);
    crossed += static_cast<std::uint64_t>(n);
    batchAt = at;
    std::size_t discarded = 0;
    std::size_t lost = 0;
    for (ssize_t i = 0; i < n; ++i) {
        const auto byte = static_cast<std::uint8_t>(buf[i]);
        const std::uint64_t number = arrivals++;
        log.Byte(at, byte);
        Record(at, byte, number);
        if (busyDrop && answering) {
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
    if (discarded != 0) {
        Event("fault busy-drop: " + std::to_string(discarded) + " bytes discarded while answering");
    }
    if (lost != 0) {
        Event("overrun: the receive buffer is full (" + std::to_string(ReceiveBufferSize) +
              " bytes), " + std::to_string(lost) + " bytes lost");
    }
    batchAt.reset();
    log.Flush();
}

// On arrival, before the byte is handled, so whoever sees its effect also
// finds it here.
void Simulator::Impl::Record(microseconds at, std::uint8_t byte, std::uint64_t number) {
    std::lock_guard lock(mutex);
    if (received.empty()) {
        receivedFirst = number;
    }
    received.push_back({at, byte});
    if (received.size() > kRecordLimit) {
        received.pop_front();
        ++receivedFirst;
    }
}

void Simulator::Impl::Process(Clock::time_point now) {
    while (!pending.empty() && !Busy()) {
        const Pending next = pending.front();
        pending.pop_front();
        Handle(next, now);
    }
}

void Simulator::Impl::Handle(const Pending& next, Clock::time_point now) {
    const std::uint8_t byte = next.byte;
    if (inWrite) {
        incoming.push_back(static_cast<char>(byte));
        lastWriteByte = now;
        if (chatter && incoming.size() % kChatterEvery == 0) {
            Queue(std::string_view(&kChatterByte, 1));
            Event("fault chatter: one byte back after byte " + std::to_string(incoming.size()) +
                  " of the write");
        }
        if (incoming.size() == KeyBufferSize) {
            inWrite = false;
            if (storeTime) {
                storeAt = now + *storeTime;
                Event("fault slow-store: busy storing for " + std::to_string(storeTime->count()) +
                      " ms");
            } else {
                CompleteWrite();
            }
        }
        return;
    }
    if (byte == kReadRequest) {
        BeginAnswer();
    } else if (byte == kWriteRequest) {
        inWrite = true;
        incoming.clear();
        lastWriteByte = now;
        {
            // The records now start at this request; what came before it is
            // another exchange's.
            std::lock_guard lock(mutex);
            while (!received.empty() && receivedFirst < next.number) {
                received.pop_front();
                ++receivedFirst;
            }
        }
        Event("write request: taking 4096 bytes");
    }
    // Any other byte outside an exchange means nothing to the device.
}

void Simulator::Impl::BeginAnswer() {
    if (silent) {
        Event("fault silent: read request not answered");
        return;
    }
    std::string current;
    {
        std::lock_guard lock(mutex);
        current = buffer;
        ++readsAnswered;
    }
    const Answer answer = PlanAnswer(current, options.faults);
    Event("read request: answering with " + std::to_string(answer.text.size()) + " characters");
    for (const std::string& e : answer.events) {
        Event(e);
    }
    if (answer.text.empty()) {
        Event("read answer sent");
        return;
    }
    answerStart = out.size();
    out += answer.text;
    for (const Stall& s : answer.stalls) {
        stalls.push_back({answerStart + s.after, s.ms});
    }
    answering = true;
    answerEnd = out.size();
}

void Simulator::Impl::CompleteWrite() {
    inWrite = false;
    if (flipAt && *flipAt < incoming.size()) {
        incoming[*flipAt] = static_cast<char>(~incoming[*flipAt]);
        Event("fault flip: byte " + std::to_string(*flipAt) + " stored inverted");
    }
    Event("write complete: buffer replaced");
    // Saved before it is published, so whoever sees WritesCompleted() rise
    // also finds the file in place.
    if (!options.saveFile.empty()) {
        const std::string failure = SaveAtomically(options.saveFile, incoming);
        if (failure.empty()) {
            Event("saved to " + options.saveFile.string());
        } else {
            Event("save to " + options.saveFile.string() + " failed: " + failure);
            std::fprintf(stderr, "vantri-devsim: save to %s failed: %s\n", options.saveFile.c_str(),
                         failure.c_str());
        }
    }
    std::lock_guard lock(mutex);
    buffer = std::move(incoming);
    incoming.clear();
    ++writesCompleted;
}

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
        if (options.lineRate != 0 && lineIdle) {
            paceOrigin = now;
            paceCount = 0;
            lineIdle = false;
        }
        if (burst && now < nextHandover) {
            return;
        }
        if (options.lineRate != 0) {
            const std::uint64_t due = BytesDue(now);
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
            outPos = 0;
            answerStart = 0;
            answerEnd = 0;
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
    if (portOpen && outPos < out.size() && !waitingWritable) {
        if (holdUntil) {
            earliest(*holdUntil);
        } else if (options.lineRate != 0 && lineIdle) {
            earliest(now);  // SendDue starts the line
        } else {
            Clock::time_point at = now;
            if (burst) {
                at = std::max(at, nextHandover);
            }
            if (options.lineRate != 0) {
                const std::uint64_t need = burst ? std::max<std::size_t>(Handover(), 1) : 1;
                at = std::max(at, paceOrigin + LineTime(paceCount + need));
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
    if (inWrite && options.writeIdleLimit.count() > 0) {
        earliest(lastWriteByte + options.writeIdleLimit);
    }
    if (!wake) {
        return std::nullopt;
    }
    return std::max<Clock::duration>(Clock::duration::zero(), *wake - now);
}

void Simulator::Impl::CheckLineSettings(Clock::time_point now) {
    nextLineCheck = now + kLineCheckEvery;
    LineSettings seen;
    if (!ReadLineSettings(pty.slave.Get(), seen)) {
        return;
    }
    {
        std::lock_guard lock(mutex);
        if (seen == line) {
            return;
        }
        line = seen;
    }
    Event("line settings: " + LineSettingsText(seen));
}

void Simulator::Impl::CheckHangup() {
    if (!hangupAfter || crossed < *hangupAfter) {
        return;
    }
    // Closing the master discards what the client has not read yet, so wait
    // until the bytes sent have reached it (briefly: a client that reads
    // nothing more does not hold the hangup up).
    const Clock::time_point now = Clock::now();
    if (!hangupBegun) {
        hangupBegun = now;
    }
    int queued = 0;
    const bool drained = ::ioctl(pty.slave.Get(), FIONREAD, &queued) == 0 && queued == 0 &&
                         now - lastSent >= std::chrono::milliseconds(10);
    if (!drained && now - *hangupBegun < std::chrono::milliseconds(1000)) {
        return;
    }
    {
        // Set before the line goes, so a client that sees the hang-up finds
        // HungUp() already true.
        std::lock_guard lock(mutex);
        hungUp = true;
    }
    ClosePort("fault hangup:" + std::to_string(*hangupAfter) + ": line closed after " +
              std::to_string(crossed) + " bytes");
    hangupBegun.reset();
}

void Simulator::Impl::ClosePort(const std::string& why) {
    // Both handles go, as when an adapter is unplugged: the client's own
    // handle then reports a hang-up.
    pty.master.Reset();
    pty.slave.Reset();
    portOpen = false;
    out.clear();
    outPos = 0;
    answering = false;
    stalls.clear();
    holdUntil.reset();
    inWrite = false;
    pending.clear();
    Event(why + "; no port from now on");
    if (!options.link.empty()) {
        // The kernel may give the pty's number to the next program that asks,
        // so a link left to it would lead a client to someone else's terminal.
        link.Release();
        Event("link " + options.link + " removed");
    }
}

std::unique_ptr<Simulator> Simulator::Start(const Options& options, std::string& error) {
    if (std::string problem = CheckOptions(options); !problem.empty()) {
        error = problem;
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->options = options;
    impl->buffer = options.buffer.empty() ? DefaultBuffer() : options.buffer;
    for (const Fault& f : options.faults) {
        if (f.kind == Fault::Kind::Silent) {
            impl->silent = true;
        } else if (f.kind == Fault::Kind::Chatter) {
            impl->chatter = true;
        } else if (f.kind == Fault::Kind::BusyDrop) {
            impl->busyDrop = true;
        } else if (f.kind == Fault::Kind::SlowStore) {
            impl->storeTime = std::chrono::milliseconds(f.ms);
        } else if (f.kind == Fault::Kind::Burst) {
            impl->burst = f;
        } else if (f.kind == Fault::Kind::Flip) {
            impl->flipAt = f.n;
        } else if (f.kind == Fault::Kind::Hangup) {
            impl->hangupAfter = std::min<std::uint64_t>(impl->hangupAfter.value_or(f.n), f.n);
        }
    }
    if (!options.logFile.empty() && !impl->log.Open(options.logFile, error)) {
        return nullptr;
    }
    if (!OpenPty(impl->pty, error)) {
        return nullptr;
    }
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return nullptr;
    }
    impl->wakeRead.Reset(wake[0]);
    impl->wakeWrite.Reset(wake[1]);
    if (!options.link.empty() && !impl->link.Take(options.link, impl->pty.portPath, error)) {
        return nullptr;
    }
    impl->start = Clock::now();
    std::string started = "serving on " + impl->pty.portPath;
    for (const Fault& f : options.faults) {
        started += " --fault " + FaultText(f);
    }
    ReadLineSettings(impl->pty.slave.Get(), impl->line);
    impl->nextLineCheck = impl->start + Impl::kLineCheckEvery;
    impl->Event(started + "; line settings at start: " + LineSettingsText(impl->line));
    try {
        impl->thread = std::thread([p = impl.get()] { p->Serve(); });
    } catch (const std::system_error& e) {
        error = std::string("cannot start the serving thread: ") + e.what();
        return nullptr;
    }
    return std::unique_ptr<Simulator>(new Simulator(std::move(impl)));
}

Simulator::Simulator(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Simulator::~Simulator() {
    Stop();
    impl_->link.Release();
}

void Simulator::Stop() {
    std::lock_guard lock(impl_->stopMutex);
    if (!impl_->thread.joinable()) {
        return;
    }
    impl_->stopping.store(true);
    const char wake = 1;
    static_cast<void>(::write(impl_->wakeWrite.Get(), &wake, 1));
    impl_->thread.join();
    impl_->Event("stopped");
}

const std::string& Simulator::PortPath() const {
    return impl_->pty.portPath;
}

std::string Simulator::Buffer() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->buffer;
}

int Simulator::WritesCompleted() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->writesCompleted;
}

int Simulator::ReadsAnswered() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->readsAnswered;
}

std::vector<Received> Simulator::ReceivedBytes() const {
    std::lock_guard lock(impl_->mutex);
    return {impl_->received.begin(), impl_->received.end()};
}

bool Simulator::HungUp() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->hungUp;
}

LineSettings Simulator::LastLineSettings() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->line;
}

}  // namespace vantri::sim
