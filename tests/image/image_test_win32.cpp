// Files on Windows: a device name is no key file.
#include "tests/common/files.h"

namespace vantri {

std::vector<std::filesystem::path> NotRegularFiles(const test::TempDir&) {
    return {"NUL"};
}

}  // namespace vantri
