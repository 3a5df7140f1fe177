#include "tests/windows/wine_devices.h"

#include <cstdlib>

#include <windows.h>

namespace vantri::wintest {

bool RunningUnderWine() {
    // Wine's ntdll exports its version; Windows' does not.
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string DefaultBuffer() {
    std::string buffer(4096, '\0');
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<char>((i * 7 + 3) % 256);
    }
    return buffer;
}

std::filesystem::path GoodPortSaveFile() {
    const char* path = std::getenv("VANTRI_WINE_SIM_SAVE");
    return path != nullptr ? std::filesystem::path(path) : std::filesystem::path();
}

}  // namespace vantri::wintest
