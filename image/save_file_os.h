// What the two halves of the key file save share: the temporary files'
// names, the folder a file is saved in, and the entry point each system's
// half provides.  Private to the image module.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "image/save_file.h"

namespace vantri::detail {

inline SaveOutcome Failure(std::string reason) {
    return SaveOutcome{false, std::move(reason)};
}

// A fresh name ".vantri-save-<16 hex digits>.tmp": short and fixed in form,
// so it fits in any folder whatever the length of the target's own name,
// and a leftover from a crash says what it is.
std::string TemporaryName();

// The folder `file` is in; "." for a bare name.
std::filesystem::path FolderOf(const std::filesystem::path& file);

// Removes the temporary files in `folder` whose save was killed (best
// effort), each through RemoveIfAbandoned.
void RemoveAbandoned(const std::filesystem::path& folder);

// Removes one temporary file if its writer is gone; one per system.
void RemoveIfAbandoned(const std::filesystem::path& file);

// Calls `attempt` (0 or an error code) with fresh temporary names in
// `folder` while it answers `exists`, 16 times at most: a clash is already
// next to impossible.
template <class Code, class Attempt>
Code TryFreshNames(const std::filesystem::path& folder, Code exists, Attempt attempt) {
    for (int tries = 0; tries < 16; ++tries) {
        if (const Code code = attempt(folder / TemporaryName()); code != exists) {
            return code;
        }
    }
    return exists;
}

// Base of the classes that own a file: one owner, never copied.
struct NotCopied {
    NotCopied() = default;
    NotCopied(const NotCopied&) = delete;
    NotCopied& operator=(const NotCopied&) = delete;
};

// The save itself, one per system (save_file_posix.cpp, save_file_win32.cpp).
// `target` is not empty and has a file name; `probe` is always set.
SaveOutcome SaveOnThisSystem(const std::filesystem::path& target, std::string_view bytes,
                             const SaveProbe& probe);

}  // namespace vantri::detail
