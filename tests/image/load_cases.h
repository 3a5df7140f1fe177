// Loads of a key file that only one system can set up, added to the load
// table by that system's test file (image_test_posix.cpp, image_test_win32.cpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/common/files.h"

namespace vantri::test {

struct LoadCase {
    std::filesystem::path file;
    std::uintmax_t limit;
    std::string error;  // "" taken
    std::uintmax_t size;
};

void AddSystemCases(const TempDir& dir, std::vector<LoadCase>& cases);

}  // namespace vantri::test
