// The message boxes of the window: the fixed ones every front end shows
// alike, and those that tell what became of the key buffer after a failure
// (a garbled or overlong response, a save that failed, a write that
// stopped).  The first line of a failure is the box's text, what to do next
// its detail.  A Write that stopped after its request may have left the
// device waiting for the rest of the buffer; its box always says to switch
// the device off and on before anything else.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "form/form_view.h"
#include "serial/exchange.h"

namespace vantri {

// A click while an operation runs: shown as a notice, which holds nothing.
inline const FormMessage BusyMessage{"Allready open", "", MessageIcon::None, ""};
// `detail`: the port and why it did not open (serial/port_choices.h).
FormMessage PortNotOpenedMessage(const std::string& detail);
// A setting the operation cannot use; `error` says why.
FormMessage SettingRefusedMessage(const std::string& error);
// A read on `port` that failed at the platform: its error number as the
// text, the reason and what to do as the detail.
FormMessage ReadFailedMessage(const PortSetting& port, std::uint32_t error);
// A Read that ended without a key buffer: any status but Done and Cancelled.
FormMessage ReadEndedMessage(const ReadOutcome& outcome);
FormMessage SaveFailedMessage(const std::filesystem::path& fileName, const std::string& reason);
inline const FormMessage WrongFileSizeMessage{"Wrong File size !", "Error in filesize",
                                              MessageIcon::Error, ""};
// A Write that ended other than Done or Cancelled.  `requestSent`: its 0x06
// had gone out, so the device may be waiting for the rest of the buffer.
FormMessage WriteFailedMessage(const WriteOutcome& outcome, bool requestSent);

}  // namespace vantri
