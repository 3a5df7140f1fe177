#include "serial/settings.h"

#include <charconv>
#include <cstdint>
#include <limits>

#include "serial/zrkCommModule.h"

namespace vantri {
namespace {

std::string_view Trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\n\r\v\f";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// True when `text` looks like a whole number: an optional sign and digits
// only.  Such a text is a number to check for range, never a device name.
bool LooksWhole(std::string_view text) {
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        text.remove_prefix(1);
    }
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The whole number in `text` if it lies in [low, high]; a leading "+" is
// accepted, anything but digits is not.
std::optional<long long> WholeInRange(std::string_view text, long long low, long long high) {
    if (!LooksWhole(text)) {
        return std::nullopt;
    }
    if (text.front() == '+') {
        text.remove_prefix(1);
    }
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

bool StartsWithComPrefix(std::string_view text) {
    return text.size() > 3 && (text[0] == 'C' || text[0] == 'c') &&
           (text[1] == 'O' || text[1] == 'o') && (text[2] == 'M' || text[2] == 'm');
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
    std::string_view digits = text;
    if (StartsWithComPrefix(text) && LooksWhole(text.substr(3))) {
        digits = text.substr(3);
    }
    if (LooksWhole(digits)) {
        const auto number = WholeInRange(digits, low, high);
        if (!number) {
            error = "The port number must be a whole number from -32768 to 32767.";
            return std::nullopt;
        }
        return PortSetting{true, static_cast<std::int16_t>(*number), {}};
    }
    return PortSetting{false, 0, std::string(text)};
}

std::optional<int> ParseBlocksize(std::string_view text, std::string& error) {
    error.clear();
    const auto value = WholeInRange(Trim(text), 1, 32767);
    if (!value) {
        error = "Blocksize must be a whole number from 1 to 32767.";
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::optional<std::uint32_t> ParseDelay(std::string_view text, std::string& error) {
    error.clear();
    const auto value = WholeInRange(Trim(text), 0, 2147483647);
    if (!value) {
        error = "Delay must be a whole number of milliseconds from 0 to 2147483647.";
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*value);
}

}  // namespace vantri
