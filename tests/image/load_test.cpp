// Loading files into a byte image, and the hex round trip of loaded files.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <string_view>

#include "image/hexfileHandle.h"
#include "tests/image/temp_dir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vantri {
namespace {

using testing::RandomBytes;
using testing::TempDir;
using testing::WriteFile;

// Loads a small file so a later failed load has something to clear.
void LoadSomething(const TempDir& dir, ByteImage& image) {
    WriteFile(dir / "some.bin", "abc");
    ASSERT_TRUE(LoadBinFile(image, dir / "some.bin").ok);
    ASSERT_EQ(BinFileSize, 3);
}

void ExpectCleared(const ByteImage& image) {
    EXPECT_EQ(BinFileSize, 0);
    EXPECT_TRUE(image.empty());
}

TEST(LoadBinFile, RecordsHoldAddressLineStartAndValue) {
    TempDir dir;
    const std::string bytes = RandomBytes(20, 1);
    WriteFile(dir / "twenty.bin", bytes);
    ByteImage image;
    const LoadOutcome outcome = LoadBinFile(image, dir / "twenty.bin");
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(outcome.fileSize, 20u);
    EXPECT_EQ(BinFileSize, 20);
    ASSERT_EQ(image.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(image[i].Address, i);
        EXPECT_EQ(image[i].LineStart, (i == 0 || i == 16) ? True16 : False16) << i;
        EXPECT_EQ(image[i].Value, static_cast<std::uint8_t>(bytes[i])) << i;
    }
}

TEST(LoadBinFile, KeyFileHasALineStartEvery16Bytes) {
    TempDir dir;
    const std::string bytes = RandomBytes(KeyBufferSize, 2);
    WriteFile(dir / "key.bin", bytes);
    ByteImage image;
    ASSERT_TRUE(LoadBinFile(image, dir / "key.bin").ok);
    ASSERT_EQ(BinFileSize, KeyBufferSize);
    int lineStarts = 0;
    for (std::size_t i = 0; i < image.size(); ++i) {
        if (image[i].LineStart == True16) {
            ++lineStarts;
            EXPECT_EQ(i % 16, 0u) << i;
        }
    }
    EXPECT_EQ(lineStarts, 256);
    EXPECT_EQ(image.back().Address, 4095);
    EXPECT_EQ(image.back().Value, static_cast<std::uint8_t>(bytes.back()));
}

TEST(LoadBinFile, EmptyOrMissingFileLeavesNothing) {
    TempDir dir;
    ByteImage image;
    LoadSomething(dir, image);
    WriteFile(dir / "empty.bin", "");
    const LoadOutcome empty = LoadBinFile(image, dir / "empty.bin");
    EXPECT_TRUE(empty.ok);  // read fine; it simply holds nothing
    EXPECT_EQ(empty.fileSize, 0u);
    ExpectCleared(image);

    LoadSomething(dir, image);
    const LoadOutcome missing = LoadBinFile(image, dir / "missing.bin");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error, "no such file or directory");
    ExpectCleared(image);
}

TEST(LoadBinFile, FolderIsNotAKeyFile) {
    TempDir dir;
    ByteImage image;
    LoadSomething(dir, image);
    const LoadOutcome outcome = LoadBinFile(image, dir.path());
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, "not a regular file");
    ExpectCleared(image);
}

TEST(LoadBinFile, FileOverTheLimitIsRefusedFromItsSize) {
    TempDir dir;
    WriteFile(dir / "101.bin", RandomBytes(101, 3));
    ByteImage image;
    LoadSomething(dir, image);
    const LoadOutcome over = LoadBinFile(image, dir / "101.bin", 100);
    EXPECT_FALSE(over.ok);
    EXPECT_EQ(over.error, "too large");
    EXPECT_EQ(over.fileSize, 101u);
    ExpectCleared(image);

    EXPECT_TRUE(LoadBinFile(image, dir / "101.bin", 101).ok);
    EXPECT_EQ(BinFileSize, 101);
}

TEST(LoadBinFile, HugeSparseFileFailsWithoutReadingIt) {
    TempDir dir;
    const std::uintmax_t huge = 5ull << 30;  // 5 GiB, but no blocks on disk
    WriteFile(dir / "huge.bin", "");
    std::error_code ec;
    std::filesystem::resize_file(dir / "huge.bin", huge, ec);
    if (ec) {
        GTEST_SKIP() << "this file system cannot hold a 5 GiB sparse file: " << ec.message();
    }
    ByteImage image;
    LoadSomething(dir, image);
    const LoadOutcome outcome = LoadBinFile(image, dir / "huge.bin");
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, "too large");
    EXPECT_EQ(outcome.fileSize, huge);
    ExpectCleared(image);

    // Even a caller that lifts the limit cannot get past the 32-bit addresses.
    LoadSomething(dir, image);
    EXPECT_EQ(LoadBinFile(image, dir / "huge.bin", UINTMAX_MAX).error, "too large");
    ExpectCleared(image);
}

// Every length a 16-bit count can ask for: the loaded file's hex text turns
// back into exactly its bytes.  One file, cut shorter step by step.
TEST(LoadBinFile, HexRoundTripForEveryLengthUpTo32767) {
    TempDir dir;
    const std::string bytes = RandomBytes(32767, 4);
    const auto file = dir / "cut.bin";
    WriteFile(file, bytes);
    ByteImage image;
    for (int n = 32767; n >= 1; --n) {
        std::filesystem::resize_file(file, static_cast<std::uintmax_t>(n));
        LoadBinFile(image, file);
        ASSERT_EQ(BinFileSize, n);
        const std::string hex = GetHexBlock(image, 0, static_cast<std::int16_t>(n), 1);
        ASSERT_EQ(hex.size(), 2u * n);
        ASSERT_EQ(HexToBin(hex), std::string_view(bytes).substr(0, n)) << "length " << n;
    }
}

#ifndef _WIN32

TEST(LoadBinFile, SymbolicLinkLoadsTheFileItNames) {
    TempDir dir;
    WriteFile(dir / "real.bin", "\x01\x02\x03\x04");
    std::filesystem::create_symlink("real.bin", dir / "link.bin");
    ByteImage image;
    ASSERT_TRUE(LoadBinFile(image, dir / "link.bin").ok);
    ASSERT_EQ(BinFileSize, 4);
    EXPECT_EQ(image[3].Value, 4);
}

// Without care, opening a FIFO that has no writer blocks for ever.
TEST(LoadBinFile, FifoAndDeviceFailAtOnce) {
    TempDir dir;
    const auto fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ByteImage image;
    LoadSomething(dir, image);
    auto load = std::async(std::launch::async, [&] { return LoadBinFile(image, fifo); });
    if (load.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "loading a FIFO blocks";
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // release it
        load.wait();
        ::close(writer);
    }
    const LoadOutcome outcome = load.get();
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, "not a regular file");
    ExpectCleared(image);

    LoadSomething(dir, image);
    EXPECT_EQ(LoadBinFile(image, "/dev/null").error, "not a regular file");
    ExpectCleared(image);
}

TEST(LoadBinFile, UnreadableFileFails) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root";
    }
    TempDir dir;
    WriteFile(dir / "locked.bin", "abcd");
    std::filesystem::permissions(dir / "locked.bin", std::filesystem::perms::none);
    ByteImage image;
    LoadSomething(dir, image);
    EXPECT_EQ(LoadBinFile(image, dir / "locked.bin").error, "permission denied");
    ExpectCleared(image);
}

#endif

}  // namespace
}  // namespace vantri
