// Key bytes go back to the heap wiped.  This program replaces the global
// operator new and delete: while a test watches, every block freed is
// searched for a marker key before it goes, so a copy of the key that is
// released unwiped is seen, wherever in the product it was made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "image/hexfileHandle.h"
#include "image/key_bytes.h"
#include "tests/common/files.h"

namespace {

// Each block carries its size in front of it, so delete can search it.
constexpr std::size_t kHeader = alignof(std::max_align_t);
bool watching = false;
std::string marker;    // what a freed block must not hold
int unwipedFrees = 0;  // blocks freed with the marker still in them

}  // namespace

void* operator new(std::size_t size) {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    std::memcpy(block, &size, sizeof size);
    return block + kHeader;
}

namespace {

bool Holds(const char* data, std::size_t size) {
    return std::search(data, data + size, marker.begin(), marker.end()) != data + size;
}

void Release(void* p) noexcept {
    if (p == nullptr) {
        return;
    }
    auto* block = static_cast<unsigned char*>(p) - kHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    if (watching && !marker.empty() && Holds(static_cast<const char*>(p), size)) {
        ++unwipedFrees;
    }
    std::free(block);
}

}  // namespace

void operator delete(void* p) noexcept {
    Release(p);
}

void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}

namespace vantri {
namespace {

using namespace test;

// Runs `use` on a marker key while watching the frees; the count of blocks
// freed with the key (bytes or hex text) still in them.
template <typename F>
int UnwipedFreesDuring(F use) {
    const std::string key = RandomBytes(KeyBufferSize, 7);
    int found = 0;
    for (const std::string& form :
         {key.substr(100, 64), std::string(BinToHex(key.substr(100, 64)))}) {
        marker = form;
        unwipedFrees = 0;
        watching = true;
        use(key);
        watching = false;
        found += unwipedFrees;
    }
    marker.clear();
    return found;
}

TEST(KeyBytes, MemoryThatHeldAKeyIsWipedBeforeItIsFreed) {
    TempDir dir;
    WriteFile(dir / "key.bin", RandomBytes(KeyBufferSize, 7));
    const struct {
        const char* what;
        void (*use)(const std::string& key, const TempDir& dir);
        bool wiped;
    } cases[] = {
        // The check itself: a plain copy is seen.
        {"a plain string",
         [](const std::string& key, const TempDir&) {
             std::string copy = key + BinToHex(key).c_str();
         },
         false},
        {"key bytes that grow",
         [](const std::string& key, const TempDir&) {
             KeyBytes bytes;
             ByteImage image(key.size());
             for (std::size_t i = 0; i < key.size(); ++i) {
                 bytes.push_back(key[i]);
                 image[i].Address = static_cast<std::int32_t>(i);
                 image[i].Value = static_cast<std::uint8_t>(key[i]);
             }
             KeyBytes hex = GetHexBlock(image, 0, KeyBufferSize, 1);
             hex += hex;
         },
         true},
        {"a load, its hex text and the bytes back",
         [](const std::string&, const TempDir& d) {
             ByteImage image;
             ASSERT_TRUE(LoadBinFile(image, d / "key.bin").ok);
             const KeyBytes bytes = HexToBin(GetHexBlock(image, 0, KeyBufferSize, 1));
             ASSERT_EQ(bytes.size(), static_cast<std::size_t>(KeyBufferSize));
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int unwiped = UnwipedFreesDuring([&](const std::string& key) { c.use(key, dir); });
        EXPECT_EQ(unwiped == 0, c.wiped) << unwiped << " blocks freed unwiped";
    }
}

}  // namespace
}  // namespace vantri
