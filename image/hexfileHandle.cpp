// Loading a key buffer file into a byte image.
#include "image/hexfileHandle.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "image/read_file.h"

namespace vantri {

std::int32_t BinFileSize = 0;

LoadOutcome LoadBinFile(ByteImage& records, const std::filesystem::path& name,
                        std::uintmax_t limit) {
    BinFileSize = 0;
    records.clear();
    // Addresses and BinFileSize are 32-bit: no image may be longer, whatever
    // limit a caller asks for.
    limit = std::min<std::uintmax_t>(limit, std::numeric_limits<std::int32_t>::max());
    LoadOutcome outcome;
    try {
        detail::KeyFileReader file;
        // The size is set only once the file is open.  A file over the limit
        // is refused from its size alone; the rest is read whole in one pass,
        // and a file shortened while it is read gives what is there.
        if (outcome.error = file.Open(name, outcome.fileSize); !outcome.error.empty()) {
            return outcome;
        }
        if (outcome.fileSize > limit) {
            outcome.error = "too large";
            return outcome;
        }
        KeyVector<std::uint8_t> bytes(static_cast<std::size_t>(outcome.fileSize));
        std::size_t got = 0;
        for (std::size_t n = 1; n > 0 && got < bytes.size(); got += n) {
            if (outcome.error = file.Read(bytes.data() + got, bytes.size() - got, n);
                !outcome.error.empty()) {
                return outcome;
            }
        }
        ByteImage image(got);
        for (std::size_t i = 0; i < got; ++i) {
            image[i] = {static_cast<std::int32_t>(i), i % 16 == 0 ? True16 : False16, bytes[i]};
        }
        records.swap(image);
    } catch (const std::bad_alloc&) {
        return {false, 0, "out of memory"};
    }
    BinFileSize = static_cast<std::int32_t>(records.size());
    outcome.ok = true;
    return outcome;
}

}  // namespace vantri
