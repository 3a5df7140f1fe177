// Where a Write that failed stopped, as the window's box and vantri-key
// both tell it; each words the places between bytes its own way.
#pragma once

#include <string>

#include "image/hexfileHandle.h"
#include "serial/exchange.h"

namespace vantri {

// AtByte: the write of byte outcome.position (from 1) failed.
// BeforeFirst: at the request or a check before any byte went out.
// AfterSome: at a drain or line check after outcome.bytesSent bytes.
// AfterLast: the whole buffer went out, the device is gone.
enum class WriteStop { AtByte, BeforeFirst, AfterSome, AfterLast };

inline WriteStop WhereWriteStopped(const WriteOutcome& outcome) {
    return outcome.position > 0                ? WriteStop::AtByte
           : outcome.bytesSent == 0            ? WriteStop::BeforeFirst
           : outcome.bytesSent < KeyBufferSize ? WriteStop::AfterSome
                                               : WriteStop::AfterLast;
}

// "at byte 17 of 4096"
inline std::string AtByteOfBuffer(int position) {
    return "at byte " + std::to_string(position) + " of " + std::to_string(KeyBufferSize);
}

}  // namespace vantri
