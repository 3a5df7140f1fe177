// What the device does with the bytes it receives: the receive buffer,
// handled strictly in order once the device is free; read requests begin
// an answer, write requests take the next 4096 bytes whatever they are.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

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
// is renamed over it, so the file never holds a half-written buffer.
std::string SaveAtomically(const std::filesystem::path& path, const std::string& bytes) {
    std::string temp = path.string() + ".tmp-XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.Valid()) {
        return std::strerror(errno);
    }
    int err = 0;
    for (std::size_t done = 0; done < bytes.size() && err == 0;) {
        const ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            err = n < 0 ? errno : EIO;
        }
    }
    if (err == 0 && ::fsync(fd.Get()) != 0) {
        err = errno;
    }
    if (::close(fd.Release()) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(temp.c_str());
        return std::strerror(err);
    }
    return {};
}

}  // namespace

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
    const std::chrono::microseconds at = Since(now);
    crossed += static_cast<std::uint64_t>(n);
    batchAt = at;
    std::size_t discarded = 0;
    std::size_t lost = 0;
    for (ssize_t i = 0; i < n; ++i) {
        const auto byte = static_cast<std::uint8_t>(buf[i]);
        const std::uint64_t number = arrivals++;
        log.Byte(at, byte);
        {
            // On arrival, before the byte is handled, so whoever sees its
            // effect also finds it here.
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

void Simulator::Impl::DropRecordsBefore(std::uint64_t number) {
    std::lock_guard lock(mutex);
    while (!received.empty() && receivedFirst < number) {
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
    if (inWrite) {
        incoming.push_back(static_cast<char>(next.byte));
        lastWriteByte = now;
        if (chatter && incoming.size() % kChatterEvery == 0) {
            out.push_back(kChatterByte);
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
    } else if (next.byte == kReadRequest) {
        BeginAnswer();
    } else if (next.byte == kWriteRequest) {
        inWrite = true;
        incoming.clear();
        lastWriteByte = now;
        // The records now start at this request; what came before it is
        // another exchange's.
        DropRecordsBefore(next.number);
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

void Simulator::Impl::AbandonIdleWrite(Clock::time_point now) {
    if (inWrite && now - lastWriteByte >= kWriteIdleLimit) {
        Event("write abandoned after " + std::to_string(incoming.size()) +
              " of 4096 bytes: nothing came for " + std::to_string(kWriteIdleLimit.count()) +
              " ms");
        inWrite = false;
        incoming.clear();
    }
}

}  // namespace vantri::sim
