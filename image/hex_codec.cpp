// Hex text of bytes and records, and hex text back to bytes.
#include <algorithm>
#include <array>
#include <cstdint>

#include "image/hexfileHandle.h"

namespace vantri {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

// Upper-case hex text of `count` bytes, the k-th being byteAt(k).
template <class Text, class ByteAt>
Text HexOf(std::size_t count, ByteAt byteAt) {
    Text text;
    text.reserve(2 * count);
    for (std::size_t k = 0; k < count; ++k) {
        const auto value = static_cast<std::uint8_t>(byteAt(k));
        text.push_back(kDigits[value >> 4]);
        text.push_back(kDigits[value & 0x0F]);
    }
    return text;
}

// Per character: its digit value, or one of two marks.
constexpr std::int8_t kNotDigit = -1;
constexpr std::int8_t kSkipped = -2;  // blank, tab, line feed

constexpr std::array<std::int8_t, 256> kClass = [] {
    std::array<std::int8_t, 256> table{};
    table.fill(kNotDigit);
    for (int i = 0; i < 16; ++i) {
        table["0123456789ABCDEF"[i]] = table["0123456789abcdef"[i]] = static_cast<std::int8_t>(i);
    }
    table[' '] = table['\t'] = table['\n'] = kSkipped;
    return table;
}();

int ClassOf(char c) {
    return kClass[static_cast<unsigned char>(c)];
}

}  // namespace

std::string ByteHex(std::int16_t value) {
    // Negative values show as their 16-bit two's complement ("FFFF" for -1);
    // leading zeros go, down to two digits.
    const unsigned v = static_cast<std::uint16_t>(value);
    const std::string text = HexOf<std::string>(2, [v](std::size_t k) { return v >> (8 - 8 * k); });
    return text.substr(std::min<std::size_t>(text.find_first_not_of('0'), 2));
}

KeyBytes GetHexBlock(const ByteImage& records, std::int32_t start, std::int16_t count,
                     const std::int16_t& stride) {
    const auto match = std::find_if(records.begin(), records.end(),
                                    [start](const ByteRecord& r) { return r.Address == start; });
    if (count <= 0 || stride < 1 || match == records.end()) {
        return {};
    }
    // A run that would reach past the end of the image stops at its last record.
    const std::size_t first = static_cast<std::size_t>(match - records.begin());
    const std::size_t step = static_cast<std::size_t>(stride);
    const std::size_t taken =
        std::min(static_cast<std::size_t>(count), (records.size() - 1 - first) / step + 1);
    return HexOf<KeyBytes>(taken, [&](std::size_t k) { return records[first + step * k].Value; });
}

// Per group of two characters: blanks, tabs and line feeds are skipped,
// digits are read up to the first other character, no digit at all gives 0.
KeyBytes HexToBin(std::string_view inp) {
    KeyBytes bytes((inp.size() + 1) / 2, '\0');
    for (std::size_t i = 0; i < inp.size(); ++i) {
        const int digit = ClassOf(inp[i]);
        if (digit >= 0) {
            bytes[i / 2] = static_cast<char>(bytes[i / 2] * 16 + digit);
        } else if (digit == kNotDigit) {
            i |= 1;  // the rest of this group is not read
        }
    }
    return bytes;
}

std::size_t FindNonHexDigit(std::string_view text) {
    const auto bad = std::find_if(text.begin(), text.end(), [](char c) { return ClassOf(c) < 0; });
    return bad == text.end() ? std::string_view::npos
                             : static_cast<std::size_t>(bad - text.begin());
}

std::string BinToHex(std::string_view bytes) {
    return HexOf<std::string>(bytes.size(), [&](std::size_t k) { return bytes[k]; });
}

}  // namespace vantri
