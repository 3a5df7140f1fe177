// Millisecond pauses that last what they say.
//
// The write exchange paces its blocks with short pauses (10 ms by default,
// 257 of them per write), so a coarse timer would stretch a write by half.
// PauseMs sleeps against the monotonic clock until its deadline.  A
// PrecisePauses object, held for the length of an exchange, asks the system
// for its finest timing: the minimum timer slack on Linux, a 1 ms timer
// resolution on Windows; it restores the old setting when it goes.
#pragma once

#include <cstdint>

namespace vantri {

void PauseMs(std::uint32_t ms);

class PrecisePauses {
  public:
    PrecisePauses();
    ~PrecisePauses();
    PrecisePauses(const PrecisePauses&) = delete;
    PrecisePauses& operator=(const PrecisePauses&) = delete;

  private:
    long saved_ = -1;
};

}  // namespace vantri
