// The serving thread's state, behind Simulator.  One object, three files by
// responsibility: devsim.cpp runs the loop, owns the port and its hang-ups;
// firmware.cpp is what the device does with the bytes it receives (the
// receive buffer, requests, writes, answers); output.cpp is how its bytes
// reach the client (line rate, stalls, bursts, the hangup count).  Only the
// getters' part, under `mutex`, is read from other threads.
#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/answer.h"
#include "sim/devsim.h"
#include "sim/event_log.h"
#include "sim/pty.h"
#include "sim/unique_fd.h"

namespace vantri::sim {

using Clock = std::chrono::steady_clock;

// Waits on `fds` until one is ready or `timeout` has passed (none: no
// limit), as poll() does.  Per system: wait_linux.cpp, wait_posix.cpp.
int Wait(pollfd* fds, nfds_t count, std::optional<Clock::duration> timeout);

// A write exchange that receives no byte for this long is abandoned, so a
// client that gave up half-way does not leave the device swallowing the
// next read request as data.
inline constexpr std::chrono::milliseconds kWriteIdleLimit{2000};

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

    // Shared with the getters.
    mutable std::mutex mutex;
    std::string buffer;
    int writesCompleted = 0;
    // From the latest write request on, so a device that serves for ever
    // keeps one write's worth; at most two writes' worth, the oldest dropped.
    std::deque<Received> received;
    std::uint64_t receivedFirst = 0;  // arrival number of received.front()
    bool hungUp = false;
    LineSettings line;

    // The faults that are a state of the device rather than of an answer.
    bool silent = false;
    bool chatter = false;
    bool busyDrop = false;
    std::optional<std::uint32_t> flipAt;                 // the byte each write stores inverted
    std::optional<std::chrono::milliseconds> storeTime;  // slow-store
    std::optional<Fault> burst;                          // hands over n bytes at a time, ms apart
    std::optional<std::uint64_t> hangupAfter;

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

    // output.cpp: out[outPos..] is still to go.
    std::string out;
    std::size_t outPos = 0;
    bool answering = false;  // out holds an answer, from answerStart to answerEnd
    std::size_t answerStart = 0;
    std::size_t answerEnd = 0;
    std::vector<Stall> stalls;  // `after` counts from the start of out
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
    void Event(const std::string& text) { log.Event(batchAt.value_or(Since(Clock::now())), text); }

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
    void Handle(const Pending& next, Clock::time_point now);
    void DropRecordsBefore(std::uint64_t number);
    void BeginAnswer();
    void CompleteWrite();
    void AbandonIdleWrite(Clock::time_point now);
    // output.cpp
    std::size_t Handover() const;  // bytes the next write to the client may carry
    void SendDue(Clock::time_point now);
    std::optional<Clock::duration> NextWake(Clock::time_point now) const;
};

}  // namespace vantri::sim
