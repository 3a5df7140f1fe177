// Wiping memory on POSIX systems: glibc's explicit_bzero, which the
// optimiser may not drop as a dead store.
#include <string.h>

#include "image/key_bytes.h"

namespace vantri {

void WipeMemory(void* data, std::size_t size) noexcept {
    explicit_bzero(data, size);
}

}  // namespace vantri
