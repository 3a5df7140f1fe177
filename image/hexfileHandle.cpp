// Loading a key buffer file into a byte image.
#include "image/hexfileHandle.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "image/read_file.h"

namespace vantri {

std::int32_t BinFileSize = 0;

namespace {

// Addresses and BinFileSize are 32-bit: no image may be longer, whatever
// limit a caller asks for.
constexpr std::uintmax_t kMaxImageBytes = std::numeric_limits<std::int32_t>::max();

LoadOutcome Failure(std::string error, std::uintmax_t fileSize = 0) {
    LoadOutcome outcome;
    outcome.fileSize = fileSize;
    outcome.error = std::move(error);
    return outcome;
}

// The whole of a regular file in one pass, refused from its size alone when
// over `limit`.  A file shortened while it is read gives what is there.
LoadOutcome ReadWholeFile(const std::filesystem::path& name, std::uintmax_t limit,
                          KeyVector<std::uint8_t>& bytes) {
    detail::KeyFileReader file;
    std::uintmax_t size = 0;
    if (std::string error = file.Open(name, size); !error.empty()) {
        return Failure(std::move(error));
    }
    if (size > limit) {
        return Failure("too large", size);
    }
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        std::size_t n = 0;
        if (std::string error = file.Read(bytes.data() + got, bytes.size() - got, n);
            !error.empty()) {
            return Failure(std::move(error), size);
        }
        if (n == 0) {
            break;
        }
        got += n;
    }
    bytes.resize(got);
    LoadOutcome outcome;
    outcome.ok = true;
    outcome.fileSize = size;
    return outcome;
}

}  // namespace

LoadOutcome LoadBinFile(ByteImage& records, const std::filesystem::path& name,
                        std::uintmax_t limit) {
    BinFileSize = 0;
    records.clear();
    try {
        KeyVector<std::uint8_t> bytes;
        LoadOutcome outcome = ReadWholeFile(name, std::min(limit, kMaxImageBytes), bytes);
        if (!outcome.ok) {
            return outcome;
        }
        ByteImage image(bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            image[i].Address = static_cast<std::int32_t>(i);
            image[i].LineStart = (i % 16 == 0) ? True16 : False16;
            image[i].Value = bytes[i];
        }
        records.swap(image);
        BinFileSize = static_cast<std::int32_t>(records.size());
        return outcome;
    } catch (const std::bad_alloc&) {
        return Failure("out of memory");
    }
}

}  // namespace vantri
