// Files on Windows: a device name is no key file.
#include <gtest/gtest.h>

#include "image/hexfileHandle.h"
#include "tests/image/load_cases.h"

namespace vantri::test {

void AddSystemCases(const TempDir&, std::vector<LoadCase>& cases) {
    cases.push_back({"NUL", DefaultLoadLimit, "not a regular file", 0});
}

}  // namespace vantri::test
