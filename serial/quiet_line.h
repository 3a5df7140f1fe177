// Waiting for a quiet line, the exchanges' only way to know where the
// device stands.
//
// The protocol has no framing, checksum or acknowledgement, and the device
// handles what it receives in order: after a cut or failed exchange it may
// still be sending an answer (from its buffer, the adapter's or the wire),
// and every character of an answer is a hex digit, so nothing in the bytes
// tells an old answer from a new one.  Silence tells: a device that has
// said all it has to say goes quiet.  So every request goes out only on a
// line that has been silent for QuietLineMs, and a read answer counts only
// when no further hex digit follows it within that time.
//
// AwaitQuietLine reads and discards what arrives until nothing has come for
// QuietLineMs.  It polls the input queue (no read that could block for the
// answer time-out), lets the caller process its events between polls and
// stops at once, without another port call, when the cancel check says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "serial/exchange.h"

namespace vantri {

// Longer than the 100 ms gap a read tolerates between two characters of an
// answer, so whatever the device still sends from an earlier exchange shows
// within it, and several times the 16 ms that common USB adapters hold
// received bytes before they hand them over.
inline constexpr std::uint32_t QuietLineMs = 150;
// The longest a wait for a quiet line lasts: two whole answers at 115200
// baud (1.4 s) fit with room to spare, a device that never stops does not.
inline constexpr std::uint32_t QuietLineLimitMs = 5000;
// After an answer stopped half-way, how long the device may stay silent and
// still resume it.  A device that pauses longer than a read waits would
// otherwise resume into the next read, and since it pauses at the same
// place in every answer, the next answer's pause would fall exactly where
// that read ends: the rest of the old answer and the start of the new one
// would pass for a whole answer.
inline constexpr std::uint32_t ResumeWaitMs = 3000;

// The port must be open.  nullopt once nothing arrived for QuietLineMs;
// else how the exchange ends: Overlong when a hex digit arrived and
// `stopAtHex` asked to stop at one (instead of discarding it), NotQuiet when
// bytes kept coming for QuietLineLimitMs, DeviceLost when the input queue or
// a read failed (`error` holds why), Cancelled when the cancel check said
// stop.  `pauseMs` and `owed`: until `owed` bytes have arrived (the rest of
// an answer that stopped half-way), a silence counts as quiet only once it
// has lasted `pauseMs`; after that, QuietLineMs.
std::optional<ExchangeStatus> AwaitQuietLine(const ExchangeHooks& hooks, bool stopAtHex,
                                             std::uint32_t& error,
                                             std::uint32_t pauseMs = QuietLineMs,
                                             std::size_t owed = 0);

// The hooks' "process events, then should we stop?" step.  True means the
// exchange must return Cancelled without another port call.
bool ProcessEventsAndCheckCancel(const ExchangeHooks& hooks);

}  // namespace vantri
