#include "cli/json.h"

#include <cstdio>

namespace vantri::cli {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, 0
// when there is none: no overlong form, no surrogate, nothing past U+10FFFF.
std::size_t SequenceLength(std::string_view text) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = at(0);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
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

// `text` quoted and escaped.
std::string JsonString(std::string_view text) {
    std::string out = "\"";
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text[0]);
        const std::size_t length = SequenceLength(text);
        const char* named = byte == '"'    ? "\\\""
                            : byte == '\\' ? "\\\\"
                            : byte == '\n' ? "\\n"
                            : byte == '\r' ? "\\r"
                            : byte == '\t' ? "\\t"
                                           : nullptr;
        if (named != nullptr) {
            out += named;
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

}  // namespace

JsonObject& JsonObject::Member(std::string_view key, const std::string& value) {
    members_ += (members_.empty() ? "" : ", ") + JsonString(key) + ": " + value;
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view text) {
    return Member(key, JsonString(text));
}

JsonObject& JsonObject::Add(std::string_view key, long long number) {
    return Member(key, std::to_string(number));
}

JsonObject& JsonObject::Add(std::string_view key, double number) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", number);
    return Member(key, text);
}

JsonObject& JsonObject::Add(std::string_view key, bool flag) {
    return Member(key, flag ? "true" : "false");
}

std::string JsonObject::Text() const {
    return "{" + members_ + "}";
}

std::string JsonArray(const std::vector<JsonObject>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        out += (i == 0 ? "" : ",\n ") + items[i].Text();
    }
    return out + "]";
}

}  // namespace vantri::cli
