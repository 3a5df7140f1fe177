// Ctrl-C for vantri-key.
//
// The first Ctrl-C only raises a flag: the running exchange sees it at its
// next cancel check, stops without another port call, and the command
// closes the port and exits 130.  The handler does not restart interrupted
// system calls, so a read waiting on a silent device returns at once.  A
// second Ctrl-C ends the program on the spot, for a pause that would
// otherwise run its full length.
#pragma once

namespace vantri::cli {

void CatchInterrupt();
bool Interrupted();

}  // namespace vantri::cli
