#include "cli/json.h"

#include <cstdio>

namespace vantri::cli {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, 0
// when there is none: no overlong form, no surrogate, nothing past U+10FFFF.
std::size_t SequenceLength(std::string_view text) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = at(0);
    const std::size_t length = lead < 0x80                  ? 1
                               : lead < 0xC2 || lead > 0xF4 ? 0
                                                            : 2 + (lead >= 0xE0) + (lead >= 0xF0);
    if (length == 0 || length > text.size()) {
        return 0;
    }
    // The second byte's range narrows after E0, ED, F0 and F4.
    const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    for (std::size_t i = 1; i < length; ++i) {
        if (at(i) < (i == 1 ? low : 0x80) || at(i) > (i == 1 ? high : 0xBF)) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string JsonString(std::string_view text) {
    constexpr std::string_view kNamed = "\"\\\n\r\t", kLetters = "\"\\nrt";
    std::string out = "\"";
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text[0]);
        const std::size_t length = SequenceLength(text), named = kNamed.find(text[0]);
        if (named != std::string_view::npos) {
            out += {'\\', kLetters[named]};
        } else if (byte < 0x20 || length == 0) {
            // A control character, or a byte of no UTF-8 sequence: the
            // character of that byte read as Latin-1.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += text.substr(0, length);
        }
        text.remove_prefix(length == 0 ? 1 : length);
    }
    return out + "\"";
}

std::string JsonObject(const std::vector<std::pair<const char*, std::string>>& members) {
    std::string out = "{";
    for (const auto& [key, value] : members) {
        out += (out.size() > 1 ? ", " : "") + JsonString(key) + ": " + value;
    }
    return out + "}";
}

}  // namespace vantri::cli
