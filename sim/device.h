// The serving thread's state, behind Simulator.  One object, two files by
// responsibility: devsim.cpp runs the loop, owns the port and its hang-ups;
// firmware.cpp is what the device does with the bytes it receives (the
// receive buffer, requests, writes, answers) and how its own bytes reach the
// client (line rate, stalls, bursts, the hangup count).  Only the getters'
// part, under `mutex`, is read from other threads.
//
// The log (Options::logFile) has a line per byte received, "<microseconds>
// <hex>", and a line per event, "<microseconds> event <text>", times counted
// from the start; it is flushed after every batch and event, so a test can
// read it while the simulator runs.
#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/devsim.h"
#include "sim/pty.h"

namespace vantri::sim {

using Clock = std::chrono::steady_clock;

inline constexpr std::size_t KeyBufferSize = 4096;
inline constexpr std::size_t ResponseLength = 2 * KeyBufferSize;
// Upper bound on the characters extra:N may add, so a typo cannot make the
// device build a response of gigabytes.
inline constexpr std::uint32_t MaxExtra = 1u << 20;
// A write exchange that receives no byte for this long is abandoned, so a
// client that gave up half-way does not leave the device swallowing the
// next read request as data.
inline constexpr std::chrono::milliseconds kWriteIdleLimit{2000};

// Waits on `fds` until one is ready or `timeout` has passed (none: no
// limit), as poll() does.  Per system: wait_linux.cpp, wait_posix.cpp.
int Wait(pollfd* fds, nfds_t count, std::optional<Clock::duration> timeout);

struct Stall {
    std::size_t after;  // characters of `out` sent before the pause
    std::uint32_t ms;
};

struct Simulator::Impl {
    Options options;
    Pty pty;
    HeldLink link;                 // declared after pty: released before the port goes
    UniqueFd wakeRead, wakeWrite;  // a byte on it wakes the serving thread
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> log{nullptr, &std::fclose};
    Clock::time_point start;
    std::thread thread;
    std::atomic<bool> stopping{false};

    // Shared with the getters.
    mutable std::mutex mutex;
    std::string buffer;
    int writesCompleted = 0;
    // From the latest write request on, so a device that serves for ever
    // keeps one write's worth; at most two writes' worth, the oldest dropped.
    std::deque<Received> received;
    bool hungUp = false;
    LineSettings line;
    template <typename F>
    auto Locked(F read) const {
        std::lock_guard lock(mutex);
        return read();
    }

    // The latest fault of `kind` given, or none.
    const Fault* Find(Fault::Kind kind) const {
        for (auto f = options.faults.rbegin(); f != options.faults.rend(); ++f)
            if (f->kind == kind)
                return &*f;
        return nullptr;
    }
    const Fault* burst = nullptr;              // hands over n bytes at a time, ms apart
    std::optional<std::uint64_t> hangupAfter;  // the least of the hangup faults

    // devsim.cpp: the port.
    bool portOpen = true;
    std::uint64_t crossed = 0;  // bytes over the line, both ways
    // Set once the hangup count is reached: the line takes no more bytes and
    // closes as soon as the client has what was sent before.
    std::optional<Clock::time_point> hangupBegun;
    // A client's tcsetattr shows nowhere on the master, so the settings are
    // read when bytes arrive and at this pace in between.
    static constexpr std::chrono::milliseconds kLineCheckEvery{100};
    Clock::time_point nextLineCheck;

    // firmware.cpp: the receive buffer, what arrived while the device was
    // busy, with each byte's arrival number, handled in order once it is free.
    struct Pending {
        std::uint64_t number;
        std::uint8_t byte;
    };
    std::deque<Pending> pending;
    std::uint64_t arrivals = 0;  // bytes received so far; the next one's number
    bool inWrite = false;
    std::string incoming;
    Clock::time_point lastWriteByte;
    std::optional<Clock::time_point> storeAt;  // slow-store: busy until then

    // firmware.cpp, output: out[outPos..] is still to go.
    std::string out;
    std::size_t outPos = 0;
    bool answering = false;  // out holds an answer, from answerStart to answerEnd
    std::size_t answerStart = 0, answerEnd = 0;
    std::vector<Stall> stalls;  // in order of `after`
    std::optional<Clock::time_point> holdUntil;
    bool waitingWritable = false;
    Clock::time_point lastSent;
    // Pacing: byte k after paceOrigin is on the line at paceOrigin + (k+1)
    // byte times.  Deadlines, not a sleep per byte, so the rate never drifts.
    bool lineIdle = true;
    Clock::time_point paceOrigin;
    std::uint64_t paceCount = 0;  // bytes handed to the client since paceOrigin
    Clock::time_point nextHandover;

    // Events caused by a received byte carry that byte's time, so the log
    // reads in order.
    std::optional<std::chrono::microseconds> batchAt;
    std::chrono::microseconds Since(Clock::time_point t) const {
        return std::chrono::duration_cast<std::chrono::microseconds>(t - start);
    }
    void Event(const std::string& text) {
        if (log) {
            const auto at = batchAt.value_or(Since(Clock::now())).count();
            std::fprintf(log.get(), "%lld event %s\n", static_cast<long long>(at), text.c_str());
            std::fflush(log.get());
        }
    }

    // Sending an answer or storing a buffer: what arrives meanwhile waits
    // (or, with busy-drop during an answer, is lost).
    bool Busy() const { return answering || storeAt.has_value(); }

    // devsim.cpp
    void Serve();
    void CheckLineSettings(Clock::time_point now);
    void CheckHangup();
    void ClosePort(const std::string& why);
    // firmware.cpp
    void Receive();
    void Process(Clock::time_point now);
    void BeginAnswer();
    void CompleteWrite();
    // firmware.cpp, output
    std::size_t Handover() const;  // bytes the next write to the client may carry
    void SendDue(Clock::time_point now);
    std::optional<Clock::duration> NextWake(Clock::time_point now) const;
};

}  // namespace vantri::sim
