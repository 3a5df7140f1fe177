// hexfileHandle: the byte image of a key buffer file and its hex text.
//
// A file is loaded into an image: one ByteRecord per byte, record i holding
// the byte at offset i.  ByteHex and GetHexBlock give the upper-case hex text
// of bytes; HexToBin turns hex text back into a byte string (the window's
// hextobin delegates to it).  A "byte string" is a string whose every char
// is one byte, 0 to 255; a "hex text" holds two digits per byte, high
// digit first.  The image and every text that holds key bytes are kept in
// memory that is wiped when released (image/key_bytes.h).
//
// Nothing here throws or shows anything: a failed load leaves BinFileSize at
// 0 and an empty image, and says why in the returned LoadOutcome for callers
// that want to tell the user more than "wrong size".
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "image/key_bytes.h"

namespace vantri {

// Bytes in the device's key buffer and in a key buffer file.
inline constexpr int KeyBufferSize = 4096;

// Booleans of the records and of the window's flags (`LineStart`,
// `comopened`) are 16-bit integers, True -1 and False 0.
inline constexpr std::int16_t True16 = -1;
inline constexpr std::int16_t False16 = 0;

struct ByteRecord {
    std::int32_t Address = 0;          // offset of the byte in its file
    std::int16_t LineStart = False16;  // True16 for every 16th record (0, 16, 32, ...)
    std::uint8_t Value = 0;
};

using ByteImage = KeyVector<ByteRecord>;

// Length of the file that the last LoadBinFile loaded; 0 before any load and
// after a failed one.
extern std::int32_t BinFileSize;

// Largest file LoadBinFile reads by default.  A larger one is refused from
// its size alone, before anything is allocated for its content.
inline constexpr std::uintmax_t DefaultLoadLimit = 16u * 1024u * 1024u;

struct LoadOutcome {
    bool ok = false;
    std::uintmax_t fileSize = 0;  // the file's real size when it could be learned
    std::string error;            // empty when ok; "not a regular file", "too large", ...
};

// Replaces `records` with the image of the file `name` and sets BinFileSize.
// Reads the file in one pass.  Anything but a regular file (a folder, FIFO,
// device) fails at once without blocking; so does a file over `limit` bytes.
// A failure, and an empty file, leaves BinFileSize 0 and `records` empty.
LoadOutcome LoadBinFile(ByteImage& records, const std::filesystem::path& name,
                        std::uintmax_t limit = DefaultLoadLimit);

// Two upper-case hex digits for 0..255 ("00", "0A", "FF"); values above 255
// come back unpadded with three or four digits, negative ones as the four
// digits of their 16-bit two's complement.
std::string ByteHex(std::int16_t value);

// Hex text of `count` records starting at the first record whose Address is
// `start`, taking every `stride`-th record.  "" when no record has that
// address, or when count or stride is below 1.  A run that would reach past
// the end of the image stops at the last record.
KeyBytes GetHexBlock(const ByteImage& records, std::int32_t start, std::int16_t count,
                     const std::int16_t& stride);

// Hex text to a byte string, two characters per byte (a lone last character
// makes a byte too).  Per group: blanks, tabs and line feeds are skipped, then
// hex digits (either case) are read up to the first other character; no
// digit gives 0.  Never fails: "1G" gives 0x01, "G1" gives 0x00.
KeyBytes HexToBin(std::string_view inp);

// Position (from 0) of the first character that is not a hex digit, or
// npos.  Lets callers refuse garbage that HexToBin would silently read as 0.
std::size_t FindNonHexDigit(std::string_view text);

// Upper-case hex text of a byte string, two characters per byte, in a plain
// string: for what is shown or sent, never for a key buffer.
std::string BinToHex(std::string_view bytes);

}  // namespace vantri
