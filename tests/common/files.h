// What the tests share: a fresh folder that goes with its content, a file's
// bytes both ways, a folder's names, reproducible random bytes, and a
// bounded wait for an event the test does not control (a device on another
// thread or process).
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <thread>

namespace vantri::test {

// A fresh folder, removed with its content when the test ends.
struct TempDir {
    TempDir() {
        std::random_device device;
        do {
            path = std::filesystem::temp_directory_path() /
                   ("vantri-test-" + std::to_string(device()) + std::to_string(device()));
        } while (!std::filesystem::create_directory(path));
    }
    ~TempDir() {
        std::error_code ec;  // a test may have left a folder read-only
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path, ec)) {
            std::filesystem::permissions(entry, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
    std::filesystem::path path;
};

// The whole content of a file; empty when there is none.
inline std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// The names in a folder.
inline std::set<std::string> NamesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// `n` bytes, the same for the same `variant`.
inline std::string RandomBytes(std::size_t n, unsigned variant) {
    std::string bytes(n, '\0');
    std::generate(bytes.begin(), bytes.end(), std::mt19937(variant));
    return bytes;
}

// Polls `done` until it holds or `bound` has passed; whether it holds.
template <typename F>
bool Eventually(F done, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    for (const auto until = std::chrono::steady_clock::now() + bound;
         !done() && std::chrono::steady_clock::now() < until;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

}  // namespace vantri::test
