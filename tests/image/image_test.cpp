// The key image on real files: hex text of bytes and records and the
// hextobin rule back, and loading files.
#include <gtest/gtest.h>

#include <numeric>

#include "image/hexfileHandle.h"
#include "tests/common/files.h"

namespace vantri {

namespace fs = std::filesystem;

// What only this system has and is no key file: one per system
// (image_test_posix.cpp, image_test_win32.cpp).
std::vector<fs::path> NotRegularFiles(const test::TempDir& dir);

namespace {

using namespace test;

ByteImage ImageOf(const std::string& bytes, std::vector<std::int32_t> at = {}) {
    ByteImage image(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        image[i] = {at.empty() ? std::int32_t(i) : at[i], 0, std::uint8_t(bytes[i])};
    }
    return image;
}

// Every byte value there and back, and the rules at the edges: two upper-case
// digits a byte (past a byte unpadded, or the 16-bit two's complement); a run
// of records by start address, count and stride, stopping at the last record
// (addresses need not be indexes: a run starts at the first record with the
// address asked for); a hextobin group reads the digits before its first
// other character (a high byte is none), skipping blanks, tabs and line
// feeds, not a carriage return.
TEST(HexCodec, BothWaysByTheRules) {
    std::string all(256, '\0');
    std::iota(all.begin(), all.end(), '\0');
    const std::string hex(BinToHex(all));
    const ByteImage plain = ImageOf("\x0A\x1B\x2C\x3D"), empty;
    const ByteImage shuffled = ImageOf("\x11\x22\x33\x44", {7, 5, 5, 6});
    const auto block = [](const auto&... args) { return std::string(GetHexBlock(args...)) + "."; };
    const auto bin = [](const auto& hex) { return std::string(BinToHex(HexToBin(hex))) + "."; };
    const auto at = [](const std::string& text) { return std::to_string(FindNonHexDigit(text)); };
    const std::pair<std::string, std::string> cases[] = {
        {block(ImageOf(all), 0, 256, 1) + std::string(HexToBin(hex)), hex + "." + all},
        {hex.substr(0, 4) + hex.substr(20, 12) + hex.substr(508), "00010A0B0C0D0E0FFEFF"},
        {ByteHex(256) + ByteHex(4095) + ByteHex(-1) + ByteHex(-32768), "100FFFFFFF8000"},
        {block(plain, 1, 2, 2) + block(plain, 2, 5, 1) + block(plain, 0, 10, 3), "1B3D.2C3D.0A3D."},
        {block(plain, 3, 32767, 32767) + block(plain, 9, 1, 1) + block(plain, -1, 1, 1), "3D..."},
        {block(plain, 0, 0, 1) + block(plain, 0, -5, 1) + block(plain, 0, 2, 0), "..."},
        {block(empty, 0, 4, 1) + block(shuffled, 5, 2, 1) + block(shuffled, 7, 1, 1), ".2233.11."},
        {block(shuffled, 0, 1, 1) + bin("41424a") + bin("4F4f") + bin("414"), ".41424A.4F4F.4104."},
        {bin("") + bin("zz41") + bin("4z") + bin("1G") + bin("G1"), ".0041.04.01.00."},
        {bin("\3771") + bin(" 7") + bin("7 ") + bin("\t7\n7"), "00.07.07.0707."},
        {bin("  ") + bin("\r7") + at("12G4") + at(" 1") + at("AB\n"), "00.00.202"},
        {at(std::string("AB\0CD", 5)), "2"},
        {at("0123456789abcdefABCDEF"), std::to_string(std::string::npos)},
    };
    for (const auto& [got, expected] : cases) {
        EXPECT_EQ(got, expected);
    }
}

// Loads: at and past the limit; a load that brings no bytes
// leaves no trace of the file loaded before it, and none may block.
TEST(LoadBinFile, WhatItTakesAndWhatItRefuses) {
    TempDir dir;
    WriteFile(dir / "some.bin", "abc");
    WriteFile(dir / "empty.bin", "");
    WriteFile(dir / "101.bin", RandomBytes(101, 3));
    // The file, the limit, the error ("" taken) and the size (0 not known).
    using Case = std::tuple<fs::path, std::uintmax_t, std::string, std::uintmax_t>;
    std::vector<Case> cases = {
        {dir / "empty.bin", DefaultLoadLimit, "", 0},  // read fine; it holds nothing
        {dir / "missing.bin", DefaultLoadLimit, "no such file or directory", 0},
        {dir.path, DefaultLoadLimit, "not a regular file", 0},
        {dir / "101.bin", 100, "too large", 101},  // refused from its size
        {dir / "101.bin", 101, "", 101},
    };
    for (const fs::path& file : NotRegularFiles(dir)) {
        cases.push_back({file, DefaultLoadLimit, "not a regular file", 0});
    }
    ByteImage image;
    for (const auto& [file, limit, error, size] : cases) {
        SCOPED_TRACE(file.string());
        ASSERT_TRUE(LoadBinFile(image, dir / "some.bin").ok);
        const LoadOutcome outcome = LoadBinFile(image, file, limit);
        EXPECT_EQ(outcome.ok, error.empty());
        EXPECT_EQ(outcome.error, error);
        EXPECT_TRUE(size == 0 || outcome.fileSize == size) << outcome.fileSize;
        EXPECT_EQ(BinFileSize, error.empty() ? static_cast<std::int32_t>(size) : 0);
        EXPECT_EQ(image.size(), static_cast<std::size_t>(BinFileSize));
    }
}

}  // namespace
}  // namespace vantri
