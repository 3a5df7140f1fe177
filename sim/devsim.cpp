// The serving loop, the port and its hang-ups, and the Simulator's getters.
#include "sim/devsim.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "sim/device.h"

namespace vantri::sim {

std::string LineSettingsText(const LineSettings& s) {
    const std::string flow = std::string(s.rtsCts ? " RTS/CTS" : "") + (s.ixon ? " IXON" : "") +
                             (s.ixoff ? " IXOFF" : "");
    return (s.baud != 0 ? std::to_string(s.baud) : "unknown speed") + " " +
           std::to_string(s.dataBits) + s.parity + std::to_string(s.stopBits) + ", " +
           (flow.empty() ? "no flow control" : "flow control" + flow);
}

std::string DefaultBuffer() {
    std::string buffer(KeyBufferSize, '\0');
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<char>((i * 7 + 3) % 256);
    return buffer;
}

void Simulator::Impl::Serve() {
    while (!stopping.load()) {
        Clock::time_point now = Clock::now();
        CheckHangup();
        if (portOpen) {
            SendDue(now);
            CheckHangup();
        }
        now = Clock::now();
        if (portOpen && now >= nextLineCheck)
            CheckLineSettings(now);
        if (storeAt && now >= *storeAt) {
            storeAt.reset();
            CompleteWrite();
        }
        Process(now);

        pollfd fds[2] = {{wakeRead.Get(), POLLIN, 0}, {-1, 0, 0}};
        const nfds_t count = portOpen && !hangupBegun ? 2 : 1;
        if (count == 2)
            fds[1] = {pty.master.Get(),
                      static_cast<short>(POLLIN | (waitingWritable ? POLLOUT : 0)), 0};
        if (Wait(fds, count, NextWake(now)) < 0 && errno != EINTR)
            return Event(std::string("stopped serving: poll failed: ") + std::strerror(errno));
        if (fds[0].revents != 0) {
            char drain[64];
            while (::read(wakeRead.Get(), drain, sizeof drain) > 0) {
            }
            continue;
        }
        waitingWritable &= (fds[1].revents & POLLOUT) == 0;
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0)
            Receive();
    }
}

void Simulator::Impl::CheckLineSettings(Clock::time_point now) {
    nextLineCheck = now + kLineCheckEvery;
    LineSettings seen;
    if (!ReadLineSettings(pty.slave.Get(), seen) || Locked([&] { return seen == line; }))
        return;
    Locked([&] { return line = seen; });
    Event("line settings: " + LineSettingsText(seen));
}

void Simulator::Impl::CheckHangup() {
    if (!portOpen || !hangupAfter || crossed < *hangupAfter)
        return;
    // Closing the master discards what the client has not read yet, so wait
    // until the bytes sent have reached it (briefly: a client that reads
    // nothing more does not hold the hangup up).
    const Clock::time_point now = Clock::now();
    hangupBegun = hangupBegun.value_or(now);
    int queued = 0;
    const bool drained = ::ioctl(pty.slave.Get(), FIONREAD, &queued) == 0 && queued == 0 &&
                         now - lastSent >= std::chrono::milliseconds(10);
    if (!drained && now - *hangupBegun < std::chrono::milliseconds(1000))
        return;
    // Set before the line goes, so a client that sees the hang-up finds
    // HungUp() already true.
    Locked([this] { return hungUp = true; });
    ClosePort("fault hangup:" + std::to_string(*hangupAfter) + ": line closed after " +
              std::to_string(crossed) + " bytes");
    hangupBegun.reset();
}

void Simulator::Impl::ClosePort(const std::string& why) {
    // Both handles go, as when an adapter is unplugged: the client's own
    // handle then reports a hang-up.
    pty.master.Reset();
    pty.slave.Reset();
    portOpen = answering = inWrite = false;
    out.clear();
    outPos = 0;
    stalls.clear();
    holdUntil.reset();
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
    error = CheckOptions(options);
    if (!error.empty())
        return nullptr;
    auto impl = std::make_unique<Impl>();
    Impl& d = *impl;
    d.options = options;
    d.buffer = options.buffer.empty() ? DefaultBuffer() : options.buffer;
    std::string started;
    for (const Fault& f : options.faults) {
        started += " --fault " + FaultText(f);
        if (f.kind == Fault::Kind::Hangup)
            d.hangupAfter = std::min<std::uint64_t>(d.hangupAfter.value_or(f.n), f.n);
    }
    d.burst = d.Find(Fault::Kind::Burst);
    const auto fail = [&error](const std::string& what) {
        error = what + ": " + std::strerror(errno);
        return nullptr;
    };
    d.log.reset(options.logFile.empty() ? nullptr : std::fopen(options.logFile.c_str(), "we"));
    if (!options.logFile.empty() && !d.log)
        return fail("--log " + options.logFile.string());
    if (!OpenPty(d.pty, error))
        return nullptr;
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail("cannot create a pipe");
    d.wakeRead.Reset(wake[0]);
    d.wakeWrite.Reset(wake[1]);
    if (!options.link.empty() && !d.link.Take(options.link, d.pty.portPath, error))
        return nullptr;
    d.start = Clock::now();
    ReadLineSettings(d.pty.slave.Get(), d.line);
    d.nextLineCheck = d.start + Impl::kLineCheckEvery;
    d.Event("serving on " + d.pty.portPath + started +
            "; line settings at start: " + LineSettingsText(d.line));
    try {
        d.thread = std::thread([&d] { d.Serve(); });
    } catch (const std::system_error& e) {
        error = std::string("cannot start the serving thread: ") + e.what();
        return nullptr;
    }
    return std::unique_ptr<Simulator>(new Simulator(std::move(impl)));
}

Simulator::Simulator(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Simulator::~Simulator() {
    impl_->stopping.store(true);
    static_cast<void>(::write(impl_->wakeWrite.Get(), "", 1));
    impl_->thread.join();
    impl_->Event("stopped");
    impl_->link.Release();
}

const std::string& Simulator::PortPath() const {
    return impl_->pty.portPath;
}

std::string Simulator::Buffer() const {
    return impl_->Locked([this] { return impl_->buffer; });
}

int Simulator::WritesCompleted() const {
    return impl_->Locked([this] { return impl_->writesCompleted; });
}

std::vector<Received> Simulator::ReceivedBytes() const {
    const std::deque<Received>& r = impl_->received;
    return impl_->Locked([&r] { return std::vector<Received>(r.begin(), r.end()); });
}

bool Simulator::HungUp() const {
    return impl_->Locked([this] { return impl_->hungUp; });
}

LineSettings Simulator::LastLineSettings() const {
    return impl_->Locked([this] { return impl_->line; });
}

}  // namespace vantri::sim
