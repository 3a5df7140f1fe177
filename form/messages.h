// The message boxes of the window: the fixed ones every front end shows
// alike, and those that tell what became of the key buffer after a failure
// (a garbled response, a save that failed, a write that stopped).  The
// first line of a failure is the box's text, what to do next its detail.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "form/form_view.h"
#include "serial/exchange.h"

namespace vantri {

// A click while an operation runs: shown as a notice, which holds nothing.
FormMessage BusyMessage();
// `detail`: the port and why it did not open (serial/port_choices.h).
FormMessage PortNotOpenedMessage(const std::string& detail);
// A setting the operation cannot use; `error` says why.
FormMessage SettingRefusedMessage(const std::string& error);
// A Read's response of `received` characters, fewer than 8192.
FormMessage IncompleteResponseMessage(std::size_t received);
// A read that failed at the platform, with its error number.
FormMessage ReadFailedMessage(std::uint32_t error);
// `position` counts from 0, the user reads it from 1.
FormMessage InvalidResponseMessage(std::size_t position);
FormMessage SaveFailedMessage(const std::filesystem::path& fileName, const std::string& reason);
FormMessage WrongFileSizeMessage();
// For a write exchange that ended WriteFailed or DeviceLost.
FormMessage WriteFailedMessage(const WriteOutcome& outcome);

}  // namespace vantri
