#include "tests/windows/wine_devices.h"

#include <cstdlib>

#include "tests/common/files.h"

namespace vantri::wintest {

std::string DefaultBuffer() {
    std::string buffer(4096, '\0');
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<char>((i * 7 + 3) % 256);
    return buffer;
}

bool GoodPortSaved(const std::string& buffer) {
    const char* path = std::getenv("VANTRI_WINE_SIM_SAVE");
    return path != nullptr && test::Eventually([&] { return test::ReadFile(path) == buffer; });
}

}  // namespace vantri::wintest
