// Ctrl-C for vantri-key.
//
// The handler only counts; the running exchange sees the count at its next
// cancel check (after each read, during each pause) and the command closes
// the port and exits 130.  The handler does not restart interrupted system
// calls, so a read waiting on a silent device returns at once.
//
// A read or verify stops at the first Ctrl-C.  A write that has sent its
// request does not: stopping it there would leave the device waiting for
// the rest of its buffer and taking whatever comes next as data, so the
// first Ctrl-C lets it finish (a few seconds at most) and the second
// abandons it at once.  A third ends the program on the spot.
#pragma once

namespace vantri::cli {

void CatchInterrupt();
bool Interrupted();    // at least one Ctrl-C
int InterruptCount();  // Ctrl-Cs so far
// A write's cancel check: the request not yet sent, any Ctrl-C stops it;
// once sent, only the second.
bool WriteAbandoned(bool requestSent);

}  // namespace vantri::cli
