#include "serial/settings.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

#include "serial/zrkCommModule.h"

namespace vantri {
namespace {

std::string_view Trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\n\r\v\f";
    text.remove_prefix(std::min(text.find_first_not_of(blanks), text.size()));
    return text.substr(0, text.find_last_not_of(blanks) + 1);
}

// True when `text` looks like a whole number: an optional sign and digits
// only.  Such a text is a number to check for range, never a device name.
bool LooksWhole(std::string_view text) {
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        text.remove_prefix(1);
    }
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The whole number in `text` if it lies in [low, high], else nullopt and
// `message` in `error`; a leading "+" is accepted, anything but digits is not.
template <typename T>
std::optional<T> Whole(std::string_view text, long long low, long long high, const char* message,
                       std::string& error) {
    long long value = 0;
    const std::string_view digits = text.substr(text.starts_with('+') ? 1 : 0);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (!LooksWhole(text) || ec != std::errc{} || value < low || value > high) {
        error = message;
        return std::nullopt;
    }
    error.clear();
    return static_cast<T>(value);
}

}  // namespace

std::string PortSetting::Name() const {
    return numbered ? ComPortName(number) : device;
}

std::optional<PortSetting> ParsePortSetting(std::string_view text, std::string& error) {
    error.clear();
    text = Trim(text);
    if (text.empty()) {
        error =
            "Give a serial port: a number such as 3 (for COM3) or a device such as /dev/ttyUSB0.";
        return std::nullopt;
    }
    constexpr long long low = std::numeric_limits<std::int16_t>::min();
    constexpr long long high = std::numeric_limits<std::int16_t>::max();
    const bool com = text.size() > 3 && (text[0] == 'C' || text[0] == 'c') &&
                     (text[1] == 'O' || text[1] == 'o') && (text[2] == 'M' || text[2] == 'm');
    const std::string_view digits = com && LooksWhole(text.substr(3)) ? text.substr(3) : text;
    if (!LooksWhole(digits)) {
        return PortSetting{false, 0, std::string(text)};
    }
    const auto number = Whole<std::int16_t>(
        digits, low, high, "The port number must be a whole number from -32768 to 32767.", error);
    return number ? std::optional(PortSetting{true, *number, {}}) : std::nullopt;
}

std::optional<int> ParseBlocksize(std::string_view text, std::string& error) {
    return Whole<int>(Trim(text), 1, 32767, "Blocksize must be a whole number from 1 to 32767.",
                      error);
}

std::optional<std::uint32_t> ParseDelay(std::string_view text, std::string& error) {
    return Whole<std::uint32_t>(
        Trim(text), 0, 2147483647,
        "Delay must be a whole number of milliseconds from 0 to 2147483647.", error);
}

}  // namespace vantri
