// Saving a key buffer file, safely.
//
// The bytes go to a temporary file in the target's folder, are flushed to
// disk, and the temporary file is renamed over the target.  So a save either
// leaves exactly the new bytes (never the tail of an older, longer file) or
// leaves any existing file as it was.  A key file is owner-only, since it
// holds key material: on POSIX a new file gets mode 0600 and an existing
// one keeps its mode; on Windows the file, new or replacing another, gets a
// protected DACL that lets in only the user the program runs as.
//
// No key material outlives a save that is killed half-way.  Where the file
// system allows (Linux O_TMPFILE), the temporary file has no name until its
// bytes are complete and flushed; on Windows it is marked for deletion from
// its creation until just before the rename, so the system removes it with
// the killed process's handle.  A temporary file ".vantri-save-*.tmp" that
// is left all the same (killed just before the rename, or by an older
// version) is owner-only and held by its writer while that lives (a lock on
// POSIX, an unshared handle on Windows); each save first removes the ones
// in its folder whose writer is gone.
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
    Named,    // the temporary file has its name in the target's folder, and on Windows
              // is no longer marked for deletion; the rename is next
};
using SaveProbe = std::function<void(SaveStep)>;

// `probe`, when set, is called at each step; the product passes none.
SaveOutcome SaveBinFile(const std::filesystem::path& target, std::string_view bytes,
                        const SaveProbe& probe = {});

}  // namespace vantri
