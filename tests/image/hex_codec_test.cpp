// Hex text of bytes and records, and the hextobin rule back to bytes.
#include <gtest/gtest.h>

#include <cstdint>
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

TEST(ByteHex, TwoUpperCaseDigitsForEveryByte) {
    EXPECT_EQ(ByteHex(0), "00");
    EXPECT_EQ(ByteHex(9), "09");
    EXPECT_EQ(ByteHex(10), "0A");
    EXPECT_EQ(ByteHex(171), "AB");
    EXPECT_EQ(ByteHex(255), "FF");
    for (int v = 0; v < 256; ++v) {
        const std::string text = ByteHex(static_cast<std::int16_t>(v));
        ASSERT_EQ(text.size(), 2u) << v;
        ASSERT_EQ(std::stoi(text, nullptr, 16), v);
    }
}

TEST(ByteHex, OutOfByteRangeIsUnpaddedOrTwosComplement) {
    EXPECT_EQ(ByteHex(256), "100");
    EXPECT_EQ(ByteHex(4095), "FFF");
    EXPECT_EQ(ByteHex(32767), "7FFF");
    EXPECT_EQ(ByteHex(-1), "FFFF");
    EXPECT_EQ(ByteHex(-32768), "8000");
}

TEST(GetHexBlock, RunsByStartCountAndStride) {
    const ByteImage image = ImageOf("\x0A\x1B\x2C\x3D");
    EXPECT_EQ(GetHexBlock(image, 0, 4, 1), "0A1B2C3D");
    EXPECT_EQ(GetHexBlock(image, 1, 2, 2), "1B3D");
    EXPECT_EQ(GetHexBlock(image, 9, 1, 1), "");
    EXPECT_EQ(GetHexBlock(image, -1, 1, 1), "");
    EXPECT_EQ(GetHexBlock(image, 0, 0, 1), "");
    EXPECT_EQ(GetHexBlock(image, 0, -5, 1), "");
    EXPECT_EQ(GetHexBlock(ByteImage{}, 0, 4, 1), "");
}

TEST(GetHexBlock, RunPastTheEndStopsAtTheLastRecord) {
    const ByteImage image = ImageOf("\x0A\x1B\x2C\x3D");
    EXPECT_EQ(GetHexBlock(image, 2, 5, 1), "2C3D");
    EXPECT_EQ(GetHexBlock(image, 0, 10, 3), "0A3D");
    EXPECT_EQ(GetHexBlock(image, 3, 32767, 32767), "3D");
}

TEST(GetHexBlock, StartsAtTheFirstRecordWithThatAddress) {
    // Addresses need not be indexes in an image built by hand.
    ByteImage image = ImageOf("\x11\x22\x33\x44");
    image[0].Address = 7;
    image[1].Address = 5;
    image[2].Address = 5;
    image[3].Address = 6;
    EXPECT_EQ(GetHexBlock(image, 5, 2, 1), "2233");
    EXPECT_EQ(GetHexBlock(image, 7, 1, 1), "11");
    EXPECT_EQ(GetHexBlock(image, 0, 1, 1), "");
}

TEST(HexToBin, TwoCharactersPerByte) {
    EXPECT_EQ(HexToBin("41424a"), "\x41\x42\x4A");
    EXPECT_EQ(HexToBin("4F4f"), "\x4F\x4F");
    EXPECT_EQ(HexToBin("414"), "\x41\x04");
    EXPECT_EQ(HexToBin(""), "");
    EXPECT_EQ(HexToBin("00FF00"), "\x00\xFF\x00"s);
}

TEST(HexToBin, GarbageReadsAsTheDigitsBeforeIt) {
    EXPECT_EQ(HexToBin("zz41"), "\x00\x41"s);
    EXPECT_EQ(HexToBin("4z"), "\x04");
    EXPECT_EQ(HexToBin("1G"), "\x01");
    EXPECT_EQ(HexToBin("G1"), "\x00"s);
    EXPECT_EQ(HexToBin("\xFF"
                       "1"),
              "\x00"s);  // a high byte is no digit
}

TEST(HexToBin, BlanksTabsAndLineFeedsAreSkippedWithinAGroup) {
    EXPECT_EQ(HexToBin(" 7"), "\x07");
    EXPECT_EQ(HexToBin("7 "), "\x07");
    EXPECT_EQ(HexToBin("\t7\n7"), "\x07\x07");
    EXPECT_EQ(HexToBin("  "), "\x00"s);
    EXPECT_EQ(HexToBin("\r7"), "\x00"s);  // a carriage return is not skipped
}

TEST(HexCodec, AllByteValuesRoundTrip) {
    std::string bytes;
    for (int v = 0; v < 256; ++v) {
        bytes.push_back(static_cast<char>(v));
    }
    const std::string hex = BinToHex(bytes);
    ASSERT_EQ(hex.size(), 512u);
    EXPECT_EQ(hex.substr(0, 8), "00010203");
    EXPECT_EQ(hex.substr(504), "FCFDFEFF");
    EXPECT_EQ(FindNonHexDigit(hex), std::string::npos);
    EXPECT_EQ(HexToBin(hex), bytes);
    EXPECT_EQ(GetHexBlock(ImageOf(bytes), 0, 256, 1), hex);
}

TEST(FindNonHexDigit, PositionOfFirstNonDigit) {
    EXPECT_EQ(FindNonHexDigit(""), std::string::npos);
    EXPECT_EQ(FindNonHexDigit("0123456789abcdefABCDEF"), std::string::npos);
    EXPECT_EQ(FindNonHexDigit("12G4"), 2u);
    EXPECT_EQ(FindNonHexDigit(" 1"), 0u);
    EXPECT_EQ(FindNonHexDigit("AB\n"), 2u);
    EXPECT_EQ(FindNonHexDigit("AB\0CD"s), 2u);
}

}  // namespace
}  // namespace vantri
