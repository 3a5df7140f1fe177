// Saving a key buffer file: what both systems share, the temporary files'
// names and the entry point; the save itself is in save_file_posix.cpp and
// save_file_win32.cpp.
#include "image/save_file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
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
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name(kTemporaryPrefix);
    for (int shift = 60; shift >= 0; shift -= 4) {
        name.push_back(kDigits[(bits >> shift) & 0xF]);
    }
    name += kTemporarySuffix;
    return name;
}

bool IsTemporaryName(std::string_view name) {
    if (name.size() != kTemporaryPrefix.size() + 16 + kTemporarySuffix.size() ||
        name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix ||
        name.substr(name.size() - kTemporarySuffix.size()) != kTemporarySuffix) {
        return false;
    }
    const std::string_view digits = name.substr(kTemporaryPrefix.size(), 16);
    return std::all_of(digits.begin(), digits.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::filesystem::path FolderOf(const std::filesystem::path& file) {
    std::filesystem::path folder = file.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

void RemoveAbandoned(const std::filesystem::path& folder) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (IsTemporaryName(it->path().filename().string())) {
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
        return detail::SaveOnThisSystem(target, bytes, probe);
    } catch (const std::bad_alloc&) {
        return detail::Failure("out of memory");
    }
}

}  // namespace vantri
