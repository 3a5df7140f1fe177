// A fresh folder under the system's temporary folder, removed with all its
// content when the test ends, and the file helpers the image tests share.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace vantri::testing {

class TempDir {
  public:
    TempDir() {
        std::random_device device;
        do {
            path_ = std::filesystem::temp_directory_path() /
                    ("vantri-image-test-" + std::to_string(device()));
        } while (!std::filesystem::create_directory(path_));
    }
    ~TempDir() {
        std::error_code ec;
        // A test may have left a folder read-only; removal needs it writable.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << file;
}

inline std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string RandomBytes(std::size_t n, unsigned variant) {
    std::mt19937 engine(variant);
    std::string bytes(n, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(engine() & 0xFF);
    }
    return bytes;
}

}  // namespace vantri::testing
