// Hex text of bytes and records, and hex text back to bytes.
#include <algorithm>
#include <cstdint>

#include "image/hexfileHandle.h"

namespace vantri {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

void AppendByteHex(std::string& out, std::uint8_t value) {
    out.push_back(kDigits[value >> 4]);
    out.push_back(kDigits[value & 0x0F]);
}

// Value of a hex digit of either case, or -1.
int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// One group of hextobin: blanks, tabs and line feeds are skipped, digits are
// read up to the first other character, no digit at all gives 0.
std::uint8_t GroupValue(std::string_view group) {
    unsigned value = 0;
    for (char c : group) {
        if (c == ' ' || c == '\t' || c == '\n') {
            continue;
        }
        const int digit = DigitValue(c);
        if (digit < 0) {
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

std::string GetHexBlock(const ByteImage& records, std::int32_t start, std::int16_t count,
                        const std::int16_t& stride) {
    if (count <= 0) {
        return {};
    }
    const auto match = std::find_if(records.begin(), records.end(),
                                    [start](const ByteRecord& r) { return r.Address == start; });
    if (match == records.end()) {
        return {};
    }
    // Indexes in 64 bits: stride * (count - 1) may leave the 16-bit range when
    // a caller breaks the documented limits, and the run must still stop at
    // either end of the image rather than read outside it.
    const std::int64_t first = match - records.begin();
    const std::int64_t size = static_cast<std::int64_t>(records.size());
    const std::int64_t step = stride;
    std::string text;
    text.reserve(2 * static_cast<std::size_t>(count));
    for (std::int64_t k = 0; k < count; ++k) {
        const std::int64_t index = first + step * k;
        if (index < 0 || index >= size) {
            break;
        }
        AppendByteHex(text, records[static_cast<std::size_t>(index)].Value);
    }
    return text;
}

std::string HexToBin(std::string_view inp) {
    std::string bytes;
    bytes.reserve((inp.size() + 1) / 2);
    for (std::size_t i = 0; i < inp.size(); i += 2) {
        bytes.push_back(static_cast<char>(GroupValue(inp.substr(i, 2))));
    }
    return bytes;
}

std::size_t FindNonHexDigit(std::string_view text) {
    const auto bad =
        std::find_if(text.begin(), text.end(), [](char c) { return DigitValue(c) < 0; });
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
