// Loading a key buffer file into a byte image.
#include "image/hexfileHandle.h"

#include <algorithm>
#include <cerrno>
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

}  // namespace

LoadOutcome LoadBinFile(ByteImage& records, const std::filesystem::path& name,
                        std::uintmax_t limit) {
    BinFileSize = 0;
    records.clear();
    try {
        KeyVector<std::uint8_t> bytes;
        LoadOutcome outcome = detail::ReadWholeFile(name, std::min(limit, kMaxImageBytes), bytes);
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
        return detail::LoadFailure("out of memory");
    }
}

}  // namespace vantri
