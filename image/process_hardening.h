// Keeping a program's key buffers out of crash dumps and away from other
// programs.  vantri-key and vantri-keywriter call HardenProcess() first
// thing in main, before any key buffer is in memory.
//
// Linux: the process is made non-dumpable, so a crash writes no core dump
// with keys in it, and other processes of the same user can neither attach
// to it nor read its memory through /proc (its /proc entries belong to
// root).  Windows: Windows Error Reporting is asked to leave the heap, where
// the buffers live, out of its reports; full dumps are written only where
// an administrator set that up.
//
// Best effort and silent: a refusal leaves the process as it was.
#pragma once

namespace vantri {

void HardenProcess();

}  // namespace vantri
