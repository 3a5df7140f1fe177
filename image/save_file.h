// Saving a key buffer file, safely.
//
// The bytes go to a temporary file in the target's folder, are flushed to
// disk, and the temporary file is renamed over the target.  So a save either
// leaves exactly the new bytes (never the tail of an older, longer file) or
// leaves any existing file as it was.  A new file is created owner-only on
// POSIX, since it holds key material; an existing file keeps its permissions.
//
// No key material outlives a save that is killed half-way.  Where the file
// system allows (Linux O_TMPFILE), the temporary file has no name until its
// bytes are complete and flushed, and it is owner-only until it replaces the
// target.  A temporary file that does have a name ".vantri-save-*.tmp" is
// held by its writer (a lock on POSIX, an unshared handle on Windows); each
// save first removes the ones in its folder whose writer is gone.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace vantri {

struct SaveOutcome {
    bool ok = false;
    std::string reason;  // for the user: "permission denied", "no space left on device", ...
};

// Points of a save, for tests that stop a saver there.
enum class SaveStep {
    Written,  // the bytes are in the temporary file and flushed
    Named,    // the temporary file has its name in the target's folder; the rename is next
};
using SaveProbe = std::function<void(SaveStep)>;

// `probe`, when set, is called at each step; the product passes none.
SaveOutcome SaveBinFile(const std::filesystem::path& target, std::string_view bytes,
                        const SaveProbe& probe = {});

}  // namespace vantri
