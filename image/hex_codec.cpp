// Hex text of bytes and records, and hex text back to bytes.
#include <algorithm>
#include <array>
#include <cstdint>

#include "image/hexfileHandle.h"

namespace vantri {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

template <typename Text>
void AppendByteHex(Text& out, std::uint8_t value) {
    out.push_back(kDigits[value >> 4]);
    out.push_back(kDigits[value & 0x0F]);
}

// Per character: its digit value, or one of two marks.
constexpr std::int8_t kNotDigit = -1;
constexpr std::int8_t kSkipped = -2;  // blank, tab, line feed

constexpr std::array<std::int8_t, 256> MakeClassTable() {
    std::array<std::int8_t, 256> table{};
    for (auto& entry : table) {
        entry = kNotDigit;
    }
    for (int i = 0; i < 10; ++i) {
        table['0' + i] = static_cast<std::int8_t>(i);
    }
    for (int i = 0; i < 6; ++i) {
        table['A' + i] = static_cast<std::int8_t>(10 + i);
        table['a' + i] = static_cast<std::int8_t>(10 + i);
    }
    table[' '] = kSkipped;
    table['\t'] = kSkipped;
    table['\n'] = kSkipped;
    return table;
}

constexpr std::array<std::int8_t, 256> kClass = MakeClassTable();

int ClassOf(char c) {
    return kClass[static_cast<unsigned char>(c)];
}

// One group of hextobin: blanks, tabs and line feeds are skipped, digits are
// read up to the first other character, no digit at all gives 0.
std::uint8_t GroupValue(std::string_view group) {
    unsigned value = 0;
    for (char c : group) {
        const int digit = ClassOf(c);
        if (digit == kSkipped) {
            continue;
        }
        if (digit == kNotDigit) {
            break;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<std::uint8_t>(value);  // a group has at most two digits
}

}  // namespace

std::string ByteHex(std::int16_t value) {
    // Negative values show as their 16-bit two's complement ("FFFF" for -1).
    unsigned v = static_cast<std::uint16_t>(value);
    std::string text;
    do {
        text.insert(text.begin(), kDigits[v & 0x0F]);
        v >>= 4;
    } while (v != 0);
    if (text.size() == 1) {
        text.insert(text.begin(), '0');
    }
    return text;
}

KeyBytes GetHexBlock(const ByteImage& records, std::int32_t start, std::int16_t count,
                     const std::int16_t& stride) {
    if (count <= 0 || stride < 1) {
        return {};
    }
    const auto match = std::find_if(records.begin(), records.end(),
                                    [start](const ByteRecord& r) { return r.Address == start; });
    if (match == records.end()) {
        return {};
    }
    // A run that would reach past the end of the image stops at its last record.
    const std::size_t first = static_cast<std::size_t>(match - records.begin());
    const std::size_t step = static_cast<std::size_t>(stride);
    const std::size_t taken =
        std::min(static_cast<std::size_t>(count), (records.size() - 1 - first) / step + 1);
    KeyBytes text;
    text.reserve(2 * taken);
    for (std::size_t k = 0; k < taken; ++k) {
        AppendByteHex(text, records[first + step * k].Value);
    }
    return text;
}

KeyBytes HexToBin(std::string_view inp) {
    KeyBytes bytes((inp.size() + 1) / 2, '\0');
    char* out = bytes.data();
    std::size_t i = 0;
    for (; i + 1 < inp.size(); i += 2) {
        const int high = ClassOf(inp[i]);
        const int low = ClassOf(inp[i + 1]);
        // Two digits is the common case and needs no rule.
        *out++ = static_cast<char>(high >= 0 && low >= 0 ? (high << 4) | low
                                                         : GroupValue(inp.substr(i, 2)));
    }
    if (i < inp.size()) {
        *out = static_cast<char>(GroupValue(inp.substr(i)));
    }
    return bytes;
}

std::size_t FindNonHexDigit(std::string_view text) {
    const auto bad = std::find_if(text.begin(), text.end(), [](char c) { return ClassOf(c) < 0; });
    return bad == text.end() ? std::string_view::npos
                             : static_cast<std::size_t>(bad - text.begin());
}

std::string BinToHex(std::string_view bytes) {
    std::string text;
    text.reserve(2 * bytes.size());
    for (char c : bytes) {
        AppendByteHex(text, static_cast<std::uint8_t>(c));
    }
    return text;
}

}  // namespace vantri
