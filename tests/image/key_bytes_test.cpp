// Key bytes go back to the heap wiped.  This program replaces the global
// operator new and delete: while a test watches, every block freed is
// searched for a marker key before it goes, so a copy of the key that is
// released unwiped is seen, wherever in the product it was made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

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

// Both forms of delete free through one function: the sized one calling the
// plain one draws GCC's mismatched-delete warning.
static void Release(void* p) noexcept {
    if (const char* data = static_cast<const char*>(p)) {
        std::size_t size = 0;
        std::memcpy(&size, data - kHeader, sizeof size);
        unwipedFrees +=
            watching && std::search(data, data + size, marker.begin(), marker.end()) != data + size;
        std::free(static_cast<unsigned char*>(p) - kHeader);
    }
}

void operator delete(void* p) noexcept {
    Release(p);
}

void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}

namespace vantri {
namespace {

// A plain copy of a key is seen (the check itself); a load, its hex text
// growing and the bytes back leave nothing.  Each is watched
// for a part of the key both as bytes and as hex text.
TEST(KeyBytes, MemoryThatHeldAKeyIsWipedBeforeItIsFreed) {
    test::TempDir dir;
    const std::string key = test::RandomBytes(KeyBufferSize, 7);
    test::WriteFile(dir / "key.bin", key);
    const auto unwipedDuring = [&](auto use) {
        unwipedFrees = 0;
        for (const std::string& form : {key.substr(100, 64), BinToHex(key.substr(100, 64))}) {
            marker = form;
            watching = true;
            use();
            watching = false;
        }
        return unwipedFrees;
    };
    EXPECT_GT(unwipedDuring([&] { std::string copy = key + BinToHex(key).c_str(); }), 0);
    EXPECT_EQ(unwipedDuring([&] {
                  ByteImage image;
                  ASSERT_TRUE(LoadBinFile(image, dir / "key.bin").ok);
                  KeyBytes hex = GetHexBlock(image, 0, KeyBufferSize, 1);
                  hex += hex;
                  EXPECT_EQ(HexToBin(hex).substr(KeyBufferSize), key);
              }),
              0);
}

}  // namespace
}  // namespace vantri
