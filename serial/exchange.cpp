#include "serial/exchange.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "image/hexfileHandle.h"
#include "serial/pause.h"
#include "serial/platform.h"
#include "serial/port_choices.h"
#include "serial/quiet_line.h"
#include "serial/zrkCommModule.h"

namespace vantri {
namespace {

using Clock = std::chrono::steady_clock;

// A pause is cut into slices this long when the caller can cancel, so a
// cancel acts at once even during a long Delay.
constexpr std::uint32_t PauseSliceMs = 50;

// Calls a hook the caller may have left empty.
template <typename Hook, typename... Args>
void Tell(const Hook& hook, Args... args) {
    if (hook) {
        hook(args...);
    }
}

// Pauses `ms`, or less if the cancel check says stop meanwhile (true).
bool PauseOrCancel(std::uint32_t ms, const ExchangeHooks& hooks) {
    for (std::uint32_t left = ms; left > 0;) {
        if (hooks.cancelled && hooks.cancelled()) {
            return true;
        }
        const std::uint32_t slice = hooks.cancelled ? std::min(left, PauseSliceMs) : left;
        PauseMs(slice);
        left -= slice;
    }
    return false;
}

// Sends one byte as its own write and says whether it went out.  A failed
// write gives its error; a write that timed out with nothing sent gives 0.
bool SendByte(const ExchangeHooks& hooks, char byte, std::uint32_t& error) {
    std::uint32_t written = 0;
    Tell(hooks.portCall, PortCall::Write, 1u);
    return SendString(std::string_view(&byte, 1), &written, &error) != 0 && written == 1;
}

// Sends the request byte; from there on a stop leaves the device mid-way.
bool SendRequest(const ExchangeHooks& hooks, std::uint8_t request, bool& sent,
                 std::uint32_t& error) {
    sent = SendByte(hooks, static_cast<char>(request), error);
    if (sent) {
        Tell(hooks.requestSent);
    }
    return sent;
}

// Reads and discards what the device sent meanwhile.  The count fails when
// the device is gone, so this is also the check that the line is still
// there; other read trouble leaves nothing worth keeping anyway.
bool Drain(std::uint32_t& error) {
    if (InQueueCount(&error) > 0) {
        std::uint32_t readError = 0;
        ReadBytes(InQueueCount(), &readError);
        error = port::IsDeviceLostError(readError) ? readError : 0;
    }
    return error == 0;
}

}  // namespace

std::int32_t OpenExchangePort(const PortSetting& port, std::uint32_t answerTimeoutMs) {
    // The first byte of every read waits at most answerTimeoutMs: a total
    // time-out with no per-byte part, the same bound on every platform.
    return OpenComPort(port.numbered ? port::ComPortDevice(port.number) : port.device, LineBaudRate,
                       port::NoParity, port::OneStopBit, ReadIntervalTimeoutMs, 0, answerTimeoutMs,
                       WriteMultiplierMs, WriteConstantMs);
}

ReadOutcome ReadKeyBuffer(const ExchangeHooks& hooks) {
    ReadOutcome outcome;
    std::uint32_t error = 0;
    const auto failed = [&](std::uint32_t readError) {
        outcome.error = readError;
        if (readError != 0) {
            Tell(hooks.readFailed, readError);
        }
        return outcome;
    };
    // Waits for a quiet line (see AwaitQuietLine); true to go on, else the
    // outcome says how the read ended.
    const auto quietThen = [&](bool stopAtHex, std::uint32_t pauseMs = QuietLineMs,
                               std::size_t owed = 0) {
        const auto stopped = AwaitQuietLine(hooks, stopAtHex, error, pauseMs, owed);
        if (stopped == ExchangeStatus::DeviceLost) {
            failed(error);
        } else if (stopped && (!owed || stopped == ExchangeStatus::Cancelled)) {
            outcome.status = *stopped;
        }
        return !stopped;
    };
    // Whatever the device still sends from an earlier exchange must be over
    // before it is asked, or the end of that answer would become the start
    // of this one.
    if (!quietThen(false)) {
        return outcome;
    }
    if (!SendRequest(hooks, ReadRequest, outcome.requestSent, error)) {
        // The device was never asked, so no answer can come: waiting for one
        // would only hold the caller for the answer time-out.
        return failed(error);
    }

    outcome.response.reserve(ResponseLength);
    for (int k = 1; k <= KeyBufferSize; ++k) {
        std::uint32_t readError = 0;
        const KeyBytes got = ReadBytes(2, &readError);
        if (readError != 0) {
            // Reported once: every later read would fail the same way.
            return failed(readError);
        }
        if (got.empty()) {
            // Nothing within the answer time-out: the response can no longer
            // be complete, and waiting out the remaining reads changes nothing.
            // An answer that stopped half-way may still resume: let it end
            // here, not in the next read.
            if (!outcome.response.empty()) {
                quietThen(false, ResumeWaitMs, ResponseLength - outcome.response.size());
            }
            return outcome;
        }
        outcome.response += got;
        Tell(hooks.afterRead, k);
        if (ProcessEventsAndCheckCancel(hooks)) {
            outcome.status = ExchangeStatus::Cancelled;
            return outcome;
        }
    }

    if (static_cast<int>(outcome.response.size()) != ResponseLength) {
        return outcome;
    }
    // HexToBin reads a non-digit as 0; a key buffer made up that way must not
    // be saved as if the device had sent it.
    outcome.badPosition = FindNonHexDigit(outcome.response);
    if (outcome.badPosition != std::string::npos) {
        outcome.status = ExchangeStatus::Invalid;
        return outcome;
    }
    // The answer is only the answer if nothing like more of it follows: more
    // hex digits mean it began before the request (the rest of an earlier
    // answer came first) or the device answered twice, and either way the
    // 8192 characters are not the buffer in order.  Anything else after it,
    // such as a line end, is the device's business.
    if (!quietThen(true)) {
        return outcome;
    }
    outcome.keyBuffer = HexToBin(outcome.response);
    outcome.status = ExchangeStatus::Done;
    return outcome;
}

ExchangeStatus LetAnswerEnd(const ExchangeHooks& hooks, const ReadOutcome& cut) {
    std::uint32_t error = 0;
    const std::size_t owed =
        ResponseLength - std::min<std::size_t>(cut.response.size(), ResponseLength);
    return AwaitQuietLine(hooks, false, error, ResumeWaitMs, owed).value_or(ExchangeStatus::Done);
}

WriteOutcome WriteKeyBuffer(std::string_view keyBuffer, int blockSize, std::uint32_t delayMs,
                            const ExchangeHooks& hooks) {
    WriteOutcome outcome;
    std::uint32_t error = 0;
    const auto status = [&](ExchangeStatus s) {
        outcome.status = s;
        return outcome;
    };
    // A failed or empty write, drain or line check.
    const auto stop = [&](int position) {
        outcome.position = position;
        outcome.error = error;
        return status(error != 0 && port::IsDeviceLostError(error) ? ExchangeStatus::DeviceLost
                                                                   : ExchangeStatus::WriteFailed);
    };
    if (keyBuffer.size() != static_cast<std::size_t>(KeyBufferSize)) {
        // A partial or oversized buffer would leave the device with a mix of
        // old and new keys; nothing is sent.
        return status(ExchangeStatus::WriteFailed);
    }
    // Taken once: the block starts and the block lengths must agree, or
    // blocks would overlap or leave gaps.
    const int step = std::clamp(blockSize, 1, 32767);
    PrecisePauses precise;
    std::uint32_t delay = delayMs;

    // A device still answering an earlier request would take 0x06 only once
    // it is done, and whatever it sent meanwhile would fill its input for
    // nothing; ask only on a quiet line.
    if (const auto stopped = AwaitQuietLine(hooks, false, error)) {
        return *stopped == ExchangeStatus::DeviceLost ? stop(0) : status(*stopped);
    }

    // A pause is quiet time on the wire for the device to store what it got,
    // so it begins only once everything written has left the port.  It is
    // measured from there, so that a pause held far beyond its Delay shows.
    Clock::time_point quietSince;
    bool cancelled = false;
    const auto pause = [&] {
        Tell(hooks.portCall, PortCall::DrainOutput, 0u);
        if (DrainOutput(&error) == 0) {
            return false;
        }
        quietSince = Clock::now();
        if (hooks.delay) {
            if (const auto asked = hooks.delay()) {
                delay = *asked;
            }
        }
        Tell(hooks.portCall, PortCall::Pause, delay);
        cancelled = PauseOrCancel(delay, hooks);
        return true;
    };

    if (!SendRequest(hooks, WriteRequest, outcome.requestSent, error)) {
        return stop(0);
    }
    if (!pause()) {
        return stop(0);
    }
    if (cancelled) {
        return status(ExchangeStatus::Cancelled);
    }
    if (!Drain(error)) {
        return stop(0);
    }

    for (int p = 1; p <= KeyBufferSize; p += step) {
        // The device waits for the rest of a write only so long; past that it
        // gives the write up and takes what follows as commands.
        const auto quiet =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - quietSince);
        if (quiet.count() > static_cast<std::int64_t>(delay) + HoldLimitMs) {
            outcome.heldMs = static_cast<std::uint32_t>(quiet.count());
            return status(ExchangeStatus::Held);
        }
        const int last = std::min(p + step - 1, KeyBufferSize);
        for (int i = p; i <= last; ++i) {
            if (!SendByte(hooks, keyBuffer[static_cast<std::size_t>(i - 1)], error)) {
                return stop(i);
            }
            ++outcome.bytesSent;
        }
        ++outcome.blocks;
        Tell(hooks.afterBlock, p);
        if (!pause()) {
            return stop(0);
        }
        if (cancelled || ProcessEventsAndCheckCancel(hooks)) {
            return status(ExchangeStatus::Cancelled);
        }
    }

    // Done only if the line is still there after the last byte has left the
    // port (drained before the last pause) and the device has had a moment
    // to show a hang-up: a device that takes the last bytes badly, or an
    // adapter that still held them, must not end in a false success.
    PauseMs(LineSettleMs);
    if (!Drain(error) || QueryLine(&error) == 0) {
        return stop(0);
    }
    outcome.status = ExchangeStatus::Done;
    return outcome;
}

std::optional<std::string> CompareKeyBuffers(const PortSetting& port, const std::string& file,
                                             std::string_view expected, std::string_view actual) {
    int differing = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != actual[i]) {
            first = differing++ == 0 ? i : first;
        }
    }
    if (differing == 0) {
        return std::nullopt;
    }
    // Where, never what: the bytes themselves are keys.
    char detail[64];
    std::snprintf(detail, sizeof detail, "the first at offset %zu (0x%04zX)", first, first);
    return "the device on " + PortLabel(port) + " differs from " + file + " in " +
           std::to_string(differing) + " of " + std::to_string(KeyBufferSize) + " bytes, " +
           detail + ".";
}

}  // namespace vantri
