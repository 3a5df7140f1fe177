// Saving a key buffer file, safely.
//
// The bytes go to a temporary file in the target's folder, are flushed to
// disk, and the temporary file is renamed over the target.  So a save either
// leaves exactly the new bytes (never the tail of an older, longer file) or
// leaves any existing file as it was.  A new file is created owner-only on
// POSIX, since it holds key material; an existing file keeps its permissions.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vantri {

struct SaveOutcome {
    bool ok = false;
    std::string reason;  // for the user: "permission denied", "no space left on device", ...
};

SaveOutcome SaveBinFile(const std::filesystem::path& target, std::string_view bytes);

}  // namespace vantri
