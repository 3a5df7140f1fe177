#include "tests/windows/wine_devices.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace vantri::wintest {

std::string DefaultBuffer() {
    std::string buffer(4096, '\0');
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<char>((i * 7 + 3) % 256);
    }
    return buffer;
}

std::string FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool GoodPortSaved(const std::string& buffer) {
    const char* path = std::getenv("VANTRI_WINE_SIM_SAVE");
    const auto start = std::chrono::steady_clock::now();
    while (path != nullptr && FileBytes(path) != buffer && ElapsedMs(start) < 10000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return path != nullptr && FileBytes(path) == buffer;
}

}  // namespace vantri::wintest
