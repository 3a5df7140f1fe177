// Hex text of bytes and records, and the hextobin rule back to bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/hexfileHandle.h"

namespace vantri {
namespace {

using namespace std::string_literals;

ByteImage ImageOf(const std::string& bytes) {
    ByteImage image(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        image[i].Address = static_cast<std::int32_t>(i);
        image[i].Value = static_cast<std::uint8_t>(bytes[i]);
    }
    return image;
}

// Checked against the C library's own hex, byte by byte.
TEST(HexCodec, EveryByteValueBothWays) {
    std::string bytes;
    std::string hex;
    for (int v = 0; v < 256; ++v) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned>(v));
        ASSERT_EQ(ByteHex(static_cast<std::int16_t>(v)), two);
        bytes.push_back(static_cast<char>(v));
        hex += two;
    }
    EXPECT_EQ(BinToHex(bytes), hex);
    EXPECT_EQ(GetHexBlock(ImageOf(bytes), 0, 256, 1), hex);
    EXPECT_EQ(HexToBin(hex), bytes);
    EXPECT_EQ(FindNonHexDigit(hex), std::string::npos);
    // Past a byte: unpadded, or the 16-bit two's complement.
    const std::pair<std::int16_t, const char*> cases[] = {
        {256, "100"}, {4095, "FFF"}, {32767, "7FFF"}, {-1, "FFFF"}, {-32768, "8000"}};
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(ByteHex(value), text) << value;
    }
}

TEST(GetHexBlock, RunsByStartCountAndStrideStoppingAtTheLastRecord) {
    const ByteImage plain = ImageOf("\x0A\x1B\x2C\x3D");
    // Addresses need not be indexes in an image built by hand: a run starts
    // at the first record with the address asked for.
    ByteImage shuffled = ImageOf("\x11\x22\x33\x44");
    shuffled[0].Address = 7;
    shuffled[1].Address = 5;
    shuffled[2].Address = 5;
    shuffled[3].Address = 6;
    const ByteImage empty;
    const struct {
        const ByteImage& image;
        std::int32_t start;
        std::int16_t count;
        std::int16_t stride;
        const char* hex;
    } cases[] = {
        {plain, 0, 4, 1, "0A1B2C3D"},   {plain, 1, 2, 2, "1B3D"},    {plain, 9, 1, 1, ""},
        {plain, -1, 1, 1, ""},          {plain, 0, 0, 1, ""},        {plain, 0, -5, 1, ""},
        {empty, 0, 4, 1, ""},           {plain, 2, 5, 1, "2C3D"},    {plain, 0, 10, 3, "0A3D"},
        {plain, 3, 32767, 32767, "3D"}, {shuffled, 5, 2, 1, "2233"}, {shuffled, 7, 1, 1, "11"},
        {shuffled, 0, 1, 1, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetHexBlock(c.image, c.start, c.count, c.stride), c.hex)
            << c.start << " " << c.count << " " << c.stride;
    }
}

// Two characters a byte, a lone last one too (results shown as hex).  A group reads the digits
// before its first other character (a high byte is none); blanks, tabs and
// line feeds are skipped within a group, a carriage return is not.
TEST(HexToBin, GroupsByTheRule) {
    const std::pair<std::string, const char*> cases[] = {
        {"41424a", "41424A"}, {"4F4f", "4F4F"}, {"414", "4104"}, {"", ""},
        {"00FF00", "00FF00"}, {"zz41", "0041"}, {"4z", "04"},    {"1G", "01"},
        {"G1", "00"},         {"\3771", "00"},  {" 7", "07"},    {"7 ", "07"},
        {"\t7\n7", "0707"},   {"  ", "00"},     {"\r7", "00"},
    };
    for (const auto& [hex, bytes] : cases) {
        EXPECT_EQ(BinToHex(HexToBin(hex)), bytes) << hex;
    }
}

TEST(FindNonHexDigit, PositionOfFirstNonDigit) {
    const std::pair<std::string, std::size_t> cases[] = {
        {"", std::string::npos},
        {"0123456789abcdefABCDEF", std::string::npos},
        {"12G4", 2},
        {" 1", 0},
        {"AB\n", 2},
        {"AB\0CD"s, 2},
    };
    for (const auto& [text, at] : cases) {
        EXPECT_EQ(FindNonHexDigit(text), at) << text;
    }
}

}  // namespace
}  // namespace vantri
