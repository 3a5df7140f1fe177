// The three settings of an exchange, as the user types them.
//
// Port:      a whole number (16-bit) means "COM" + number; "COM<n>" in any
//            case means the same; any other non-blank text names the device
//            itself ("/dev/ttyUSB0", a simulator's pty path).
// Blocksize: a whole number from 1 to 32767.
// Delay:     a whole number from 0 to 2147483647 (milliseconds).
// Blanks around a value are allowed.  A refused text gives no value and a
// one-sentence message for the user that says what is wrong.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantri {

struct PortSetting {
    bool numbered = true;      // "COM" + number, else a device name
    std::int16_t number = 0;   // when numbered
    std::string device;        // when not numbered
    std::string Name() const;  // "COM3" or the device name, for messages
};

std::optional<PortSetting> ParsePortSetting(std::string_view text, std::string& error);
std::optional<int> ParseBlocksize(std::string_view text, std::string& error);
std::optional<std::uint32_t> ParseDelay(std::string_view text, std::string& error);

}  // namespace vantri
