// Texts of the message boxes for failures the window reports beyond the
// fixed messages: a garbled response, a save that failed, a write that
// stopped.  Each says what happened and what became of the key buffer.
#pragma once

#include <QString>
#include <cstddef>
#include <string>

#include "serial/exchange.h"

namespace vantri {

// `position` counts from 0, the user reads it from 1.
QString InvalidResponseText(std::size_t position);

QString SaveFailedText(const QString& fileName, const std::string& reason);

// For a write exchange that ended WriteFailed or DeviceLost.
QString WriteFailedText(const WriteOutcome& outcome);

}  // namespace vantri
