// Saving a key buffer file: what both systems share, the temporary files'
// names and the entry point; the save itself is in save_file_posix.cpp and
// save_file_win32.cpp.
#include "image/save_file.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <new>
#include <random>

#include "image/save_file_os.h"

namespace vantri {

namespace detail {

namespace {

constexpr std::string_view kTemporaryPrefix = ".vantri-save-";
constexpr std::string_view kTemporarySuffix = ".tmp";

}  // namespace

// Random, with a counter and the clock mixed in for platforms whose
// random_device is weak.
std::string TemporaryName() {
    static std::atomic<std::uint64_t> counter{0};
    std::random_device device;
    std::uint64_t bits = (std::uint64_t{device()} << 32) ^ device();
    bits ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    bits += 0x9E3779B97F4A7C15ull * ++counter;
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(bits));
    return std::string(kTemporaryPrefix) + digits + std::string(kTemporarySuffix);
}

std::filesystem::path FolderOf(const std::filesystem::path& file) {
    std::filesystem::path folder = file.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

// Only names of the form TemporaryName() gives.
void RemoveAbandoned(const std::filesystem::path& folder) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::size_t digits = kTemporaryPrefix.size();
        if (name.size() == digits + 16 + kTemporarySuffix.size() &&
            name.starts_with(kTemporaryPrefix) && name.ends_with(kTemporarySuffix) &&
            name.find_first_not_of("0123456789abcdef", digits) == digits + 16) {
            RemoveIfAbandoned(it->path());
        }
    }
}

}  // namespace detail

SaveOutcome SaveBinFile(const std::filesystem::path& target, std::string_view bytes,
                        const SaveProbe& probe) {
    if (target.empty() || !target.has_filename()) {
        return detail::Failure("no file name");
    }
    try {
        return detail::SaveOnThisSystem(
            target, bytes, probe ? probe : [](SaveStep) {});
    } catch (const std::bad_alloc&) {
        return detail::Failure("out of memory");
    }
}

}  // namespace vantri
