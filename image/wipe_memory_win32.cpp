// Wiping memory on Windows: SecureZeroMemory, which the optimiser may not
// drop as a dead store.
#include <windows.h>

#include "image/key_bytes.h"

namespace vantri {

void WipeMemory(void* data, std::size_t size) noexcept {
    SecureZeroMemory(data, size);
}

}  // namespace vantri
