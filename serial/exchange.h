// The key buffer exchanges with the device, shared by the window and the CLI.
//
// Read:  send 0x05, then 4096 reads of 2 bytes; the device's answer is 8192
//        hex characters, decoded into the 4096-byte key buffer.
// Write: send 0x06, pause, drain the input, then the 4096 bytes one per
//        write, in blocks of Blocksize bytes with a pause after each block,
//        then drain the input again.  Every pause begins only once the
//        output has left the port (DrainOutput), and the write is Done only
//        if the line is still there LineSettleMs after the last block.
//
// The device may still be busy with an earlier exchange that was cut
// (serial/quiet_line.h): both requests go out only on a quiet line, and a
// read answer counts only if no further hex digit follows it.
//
// Both run on the caller's thread against the port that OpenExchangePort
// opened, and report through hooks: progress, the pause length, event
// processing and a cancel check.  After every event processing, and during
// every pause, the exchange asks `cancelled` and, if true, returns Cancelled
// at once without touching the port again (the window may have closed it).
// A write cancelled that way leaves the device waiting for the rest of its
// buffer, so a caller that can should let a write finish instead.
//
// Every read waits at most DeviceAnswerTimeoutMs for its first byte, and the
// read exchange stops at the first read that brings nothing or fails, so a
// silent or unplugged device ends a Read within that bound.  Every write is
// examined: a write that fails, or sends nothing before its time-out, stops
// the write exchange at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "image/key_bytes.h"
#include "serial/platform.h"
#include "serial/settings.h"

namespace vantri {

inline constexpr std::uint8_t ReadRequest = 0x05;
inline constexpr std::uint8_t WriteRequest = 0x06;

// Line settings of both exchanges: 115200 baud, 8N1, 100 ms between two
// bytes of a read, 1 ms per byte + 1000 ms for a write.
inline constexpr std::int32_t LineBaudRate = port::SupportedBaudRate;
inline constexpr std::uint32_t ReadIntervalTimeoutMs = 100;
inline constexpr std::uint32_t WriteMultiplierMs = 1;
inline constexpr std::uint32_t WriteConstantMs = 1000;
// The longest a read waits for the device's first byte.  Passed as the read
// total time-out (with no per-byte multiplier), so every platform bounds the
// wait the same way.
inline constexpr std::uint32_t DeviceAnswerTimeoutMs = 2000;
// The same for a read that follows a write at once: a device may take
// seconds to store a buffer before it takes the next request.
inline constexpr std::uint32_t StoreAnswerTimeoutMs = 5000;

// After the last block a write waits this long before it checks that the
// line is still there.  A pty has no line time and USB adapters report
// bytes sent while they still hold them (their latency timer is 16 ms), so
// "left the port" is not yet "reached the device"; a device lost at the last
// bytes shows within this time.
inline constexpr std::uint32_t LineSettleMs = 50;

inline constexpr int ResponseLength = 8192;  // hex characters of a read answer

// The quiet time on the wire after a block may run this much past its Delay
// (a held window, a stalled machine) before the write is given up: a device
// drops a write that stops for long (the simulated one after 2 s), and the
// rest of the buffer would then reach it as commands.
inline constexpr std::uint32_t HoldLimitMs = 1000;

// Opens the port of `port` with the exchange's line settings (OpenComPort's
// result code: 0 opened, 1 to 5 the failed step); a read waits at most
// `answerTimeoutMs` for the device's first byte.
std::int32_t OpenExchangePort(const PortSetting& port,
                              std::uint32_t answerTimeoutMs = DeviceAnswerTimeoutMs);

enum class ExchangeStatus {
    Done,         // read: 8192 hex characters received and decoded; write: every
                  // block sent, and the line still there afterwards
    Incomplete,   // read: fewer than 8192 characters (`error` set if a read failed)
    Invalid,      // read: 8192 characters, but one is not a hex digit
    Overlong,     // read: more hex digits followed the 8192: the answer began before
                  // its request, or the device answered twice; nothing is decoded
    NotQuiet,     // the device kept sending: no request was sent (or, after a
                  // read answer, the line never went quiet)
    WriteFailed,  // write: a write, drain or line check failed, or a write timed out
    DeviceLost,   // write: the device went away (`error`), also after the last byte
    Held,         // write: a pause ran more than HoldLimitMs past its Delay; the
                  // rest was not sent
    Cancelled,    // the cancel check said stop
};

// The exchange's calls on the link, for ExchangeHooks::portCall.
enum class PortCall {
    Write,        // one platform write; `amount` is its byte count
    DrainOutput,  // waited until the output queue had left the port
    Pause,        // a pause of the write exchange; `amount` is its length in ms
};

struct ExchangeHooks {
    std::function<void(int k)> afterRead;   // after read k (1..4096) of the read exchange
    std::function<void(int p)> afterBlock;  // after the block starting at byte p (from 1) is sent
    // Asked at every pause for the current Delay; nullopt keeps the last good value.
    std::function<std::optional<std::uint32_t>()> delay;
    // After each read, after each block's pause, and while waiting for a quiet line.
    std::function<void()> processEvents;
    std::function<bool()> cancelled;                // after each processEvents and during pauses
    std::function<void(std::uint32_t)> readFailed;  // a read failed at the platform, with its error
    // The request byte (0x05 or 0x06) has gone out: from here on a write
    // that stops leaves the device waiting for the rest of its buffer.
    std::function<void()> requestSent;
    // Each platform write, output drain and pause of the write exchange, in
    // order: the order the device is owed on the wire (one write per byte, a
    // pause only once everything written has left the port), which the bytes
    // it receives do not show.  For tests and benchmarks.
    std::function<void(PortCall call, std::uint32_t amount)> portCall;
};

struct ReadOutcome {
    ExchangeStatus status = ExchangeStatus::Incomplete;
    // 0x05 went out: a read that stops from here on may leave the device
    // still answering (LetAnswerEnd).
    bool requestSent = false;
    KeyBytes response;                            // the characters received, at most 8192
    KeyBytes keyBuffer;                           // the 4096 decoded bytes, when Done
    std::size_t badPosition = std::string::npos;  // Invalid: first non-hex character, from 0
    // Platform error number of the failed read, or of the failed send of the
    // read request (the exchange then stops at once; readFailed is told too).
    std::uint32_t error = 0;
};

// The port must be open (OpenExchangePort).
ReadOutcome ReadKeyBuffer(const ExchangeHooks& hooks);

// After a read stopped before its answer ended (`cut`, cancelled): waits
// until the device has sent the rest of its 8192 characters, which it may
// resume after a pause of up to ResumeWaitMs, and discards it, so that it
// cannot run into the next read.
// Done when the line is quiet; NotQuiet when the device still sends after
// QuietLineLimitMs; Cancelled when the hooks say stop; DeviceLost when the
// line failed.  The port must be open.
ExchangeStatus LetAnswerEnd(const ExchangeHooks& hooks, const ReadOutcome& cut);

struct WriteOutcome {
    ExchangeStatus status = ExchangeStatus::Done;
    // 0x06 went out: a write that stops from here on leaves the device
    // waiting for the rest of its buffer.
    bool requestSent = false;
    int bytesSent = 0;
    int blocks = 0;  // blocks completely sent
    // WriteFailed / DeviceLost: the byte (from 1) whose write failed; 0 when
    // the request byte 0x06 or a drain failed.
    int position = 0;
    std::uint32_t error = 0;   // platform error number, 0 for a write that timed out
    std::uint32_t heldMs = 0;  // Held: how long the quiet time after a block lasted
};

// Sends `keyBuffer` (4096 bytes) in blocks of `blockSize` (1..32767, taken
// once), pausing `delayMs` after 0x06 and after each block unless
// hooks.delay gives a new value.  The port must be open.  A buffer of any
// other size is refused with WriteFailed before anything is sent.
WriteOutcome WriteKeyBuffer(std::string_view keyBuffer, int blockSize, std::uint32_t delayMs,
                            const ExchangeHooks& hooks);

// The verify of a key buffer: the device's buffer read back from `port`
// (`actual`, at least as long as `expected`) against the one of `file`.
// nullopt when identical, else one sentence: "the device on PORT differs
// from FILE in N of 4096 bytes, the first at offset ...".
std::optional<std::string> CompareKeyBuffers(const PortSetting& port, const std::string& file,
                                             std::string_view expected, std::string_view actual);

}  // namespace vantri
