// Memory for key bytes and their hex text that is wiped when it is released.
//
// A key buffer is a secret: memory that held one must not go back to the
// heap with the keys still in it, where a later allocation, a crash dump or
// a swap file could show them.  `KeyBytes` is a byte string (one char per
// byte, as everywhere in this program) whose allocator overwrites each block
// with zeros before freeing it: when the string goes away, and each time it
// grows into a larger block.  `KeyVector<T>` does the same for a vector.
//
// Key buffers (4096 bytes, 8192 hex characters) are far larger than a
// string's inline buffer, so they always live in such a block.  Views of a
// `KeyBytes` (std::string_view) copy nothing; a copy into a plain
// std::string is the one thing to avoid.
#pragma once

#include <concepts>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantri {

// Sets `size` bytes at `data` to zero in a way the compiler may not leave
// out (explicit_bzero, SecureZeroMemory).
void WipeMemory(void* data, std::size_t size) noexcept;

template <class T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() noexcept = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        WipeMemory(p, n * sizeof(T));
        std::allocator<T>{}.deallocate(p, n);
    }
    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
};

using KeyBytes = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// Key bytes against a plain byte string, by content.  For these two types
// only: no conversion may lead another comparison here.
template <class K, class S>
requires std::same_as<K, KeyBytes> && std::same_as<S, std::string>
bool operator==(const K& a, const S& b) noexcept {
    return std::string_view(a) == std::string_view(b);
}

template <class T>
using KeyVector = std::vector<T, WipingAllocator<T>>;

}  // namespace vantri
