// Loading files into a byte image, and the hex round trip of loaded files.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <vector>

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

// Whatever the outcome, a load that brings no bytes leaves no trace of the
// file loaded before it; and none of these may block.
TEST(LoadBinFile, FilesThatBringNoBytes) {
    TempDir dir;
    WriteFile(dir / "some.bin", "abc");
    WriteFile(dir / "empty.bin", "");
    WriteFile(dir / "101.bin", RandomBytes(101, 3));
    WriteFile(dir / "huge.bin", "");
    std::error_code sparse;
    std::filesystem::resize_file(dir / "huge.bin", 5ull << 30, sparse);  // no blocks on disk
    struct Case {
        std::filesystem::path file;
        std::uintmax_t limit;
        bool ok;
        const char* error;
        std::uintmax_t fileSize;
    };
    std::vector<Case> cases = {
        {dir / "empty.bin", DefaultLoadLimit, true, "", 0},  // read fine; it holds nothing
        {dir / "missing.bin", DefaultLoadLimit, false, "no such file or directory", 0},
        {dir.path(), DefaultLoadLimit, false, "not a regular file", 0},
        {dir / "101.bin", 100, false, "too large", 101},  // refused from its size
    };
    if (!sparse) {
        cases.push_back({dir / "huge.bin", DefaultLoadLimit, false, "too large", 5ull << 30});
        // Even a caller that lifts the limit cannot get past 32-bit addresses.
        cases.push_back({dir / "huge.bin", UINTMAX_MAX, false, "too large", 5ull << 30});
    }
#ifndef _WIN32
    // Opened carelessly, a FIFO that has no writer blocks for ever.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    cases.push_back({dir / "fifo", DefaultLoadLimit, false, "not a regular file", 0});
    cases.push_back({"/dev/null", DefaultLoadLimit, false, "not a regular file", 0});
    WriteFile(dir / "locked.bin", "abcd");
    std::filesystem::permissions(dir / "locked.bin", std::filesystem::perms::none);
    if (::geteuid() != 0) {  // permission bits do not stop root
        cases.push_back({dir / "locked.bin", DefaultLoadLimit, false, "permission denied", 0});
    }
#endif
    ByteImage image;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.string());
        ASSERT_TRUE(LoadBinFile(image, dir / "some.bin").ok);
        ASSERT_EQ(BinFileSize, 3);
        auto load =
            std::async(std::launch::async, [&] { return LoadBinFile(image, c.file, c.limit); });
        if (load.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "the load blocks";
#ifndef _WIN32
            const int writer = ::open(c.file.c_str(), O_WRONLY | O_NONBLOCK);  // release it
            load.wait();
            ::close(writer);
#endif
        }
        const LoadOutcome outcome = load.get();
        EXPECT_EQ(outcome.ok, c.ok);
        EXPECT_EQ(outcome.error, c.error);
        if (c.fileSize != 0) {
            EXPECT_EQ(outcome.fileSize, c.fileSize);
        }
        EXPECT_EQ(BinFileSize, 0);
        EXPECT_TRUE(image.empty());
    }
    // At the limit the file is taken, and through a symbolic link too.
    EXPECT_TRUE(LoadBinFile(image, dir / "101.bin", 101).ok);
    EXPECT_EQ(BinFileSize, 101);
#ifndef _WIN32
    std::filesystem::create_symlink("some.bin", dir / "link.bin");
    ASSERT_TRUE(LoadBinFile(image, dir / "link.bin").ok);
    ASSERT_EQ(BinFileSize, 3);
    EXPECT_EQ(image[2].Value, 'c');
#endif
}

// Every length a 16-bit count can ask for: the loaded file's hex text turns
// back into exactly its bytes.  One file, cut shorter step by step.
TEST(LoadBinFile, RecordsAndHexRoundTripForEveryLengthUpTo32767) {
    TempDir dir;
    const std::string bytes = RandomBytes(32767, 4);
    const auto file = dir / "cut.bin";
    WriteFile(file, bytes);
    ByteImage image;
    const LoadOutcome outcome = LoadBinFile(image, file);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(outcome.fileSize, 32767u);
    ASSERT_EQ(image.size(), 32767u);
    for (int i = 0; i < 32767; ++i) {
        ASSERT_EQ(image[i].Address, i);
        ASSERT_EQ(image[i].LineStart, i % 16 == 0 ? True16 : False16) << i;
        ASSERT_EQ(image[i].Value, static_cast<std::uint8_t>(bytes[i])) << i;
    }
    for (int n = 32767; n >= 1; --n) {
        std::filesystem::resize_file(file, static_cast<std::uintmax_t>(n));
        LoadBinFile(image, file);
        ASSERT_EQ(BinFileSize, n);
        const std::string hex = GetHexBlock(image, 0, static_cast<std::int16_t>(n), 1);
        ASSERT_EQ(hex.size(), 2u * n);
        ASSERT_EQ(HexToBin(hex), std::string_view(bytes).substr(0, n)) << "length " << n;
    }
}

}  // namespace
}  // namespace vantri
