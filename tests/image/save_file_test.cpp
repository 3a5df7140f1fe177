// Saving key files: exact bytes, atomic replacement, permissions, failures
// that leave the old file whole and no temporary file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "image/save_file.h"
#include "tests/image/temp_dir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

namespace vantri {
namespace {

namespace fs = std::filesystem;
using testing::RandomBytes;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::set<std::string> NamesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(SaveBinFile, NewFileHoldsExactlyTheBytes) {
    TempDir dir;
    const std::string key = RandomBytes(4096, 10);
    const SaveOutcome outcome = SaveBinFile(dir / "Ram.Bin", key);
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    EXPECT_EQ(outcome.reason, "");
    EXPECT_EQ(ReadFile(dir / "Ram.Bin"), key);
    EXPECT_EQ(NamesIn(dir.path()), std::set<std::string>{"Ram.Bin"});
}

TEST(SaveBinFile, ReplacingALongerFileLeavesNoOldTail) {
    TempDir dir;
    WriteFile(dir / "Ram.Bin", RandomBytes(10000, 11));
    const std::string key = RandomBytes(4096, 12);
    ASSERT_TRUE(SaveBinFile(dir / "Ram.Bin", key).ok);
    EXPECT_EQ(fs::file_size(dir / "Ram.Bin"), 4096u);
    EXPECT_EQ(ReadFile(dir / "Ram.Bin"), key);

    ASSERT_TRUE(SaveBinFile(dir / "Ram.Bin", "").ok);
    EXPECT_EQ(fs::file_size(dir / "Ram.Bin"), 0u);
    EXPECT_EQ(NamesIn(dir.path()), std::set<std::string>{"Ram.Bin"});
}

TEST(SaveBinFile, FailuresThatStopEveryUser) {
    TempDir dir;
    WriteFile(dir / "plain", "x");
    EXPECT_EQ(SaveBinFile(dir / "missing" / "Ram.Bin", "k").reason, "no such file or directory");
#ifdef _WIN32
    // Windows answers a path through a file as it answers a missing folder.
    EXPECT_EQ(SaveBinFile(dir / "plain" / "Ram.Bin", "k").reason, "no such file or directory");
#else
    EXPECT_EQ(SaveBinFile(dir / "plain" / "Ram.Bin", "k").reason, "not a directory");
#endif
    fs::create_directory(dir / "folder");
    EXPECT_EQ(SaveBinFile(dir / "folder", "k").reason, "is a directory");
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    EXPECT_FALSE(SaveBinFile("", "k").ok);
    EXPECT_FALSE(SaveBinFile(dir.path() / "", "k").ok);
    EXPECT_EQ(ReadFile(dir / "plain"), "x");
    EXPECT_EQ(NamesIn(dir.path()), (std::set<std::string>{"folder", "plain"}));
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
}

#ifndef _WIN32

mode_t ModeOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0) << file;
    return info.st_mode & 07777;
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

TEST(SaveBinFile, NewFileIsOwnerOnly) {
    TempDir dir;
    ASSERT_TRUE(SaveBinFile(dir / "Ram.Bin", "key").ok);
    EXPECT_EQ(ModeOf(dir / "Ram.Bin"), 0600 & ~CurrentUmask());
}

TEST(SaveBinFile, ExistingFileKeepsItsMode) {
    TempDir dir;
    for (const mode_t mode : {0640, 0604, 0666}) {
        const auto file = dir / ("mode" + std::to_string(mode) + ".bin");
        WriteFile(file, "old");
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        ASSERT_TRUE(SaveBinFile(file, "new").ok);
        EXPECT_EQ(ModeOf(file), mode);
        EXPECT_EQ(ReadFile(file), "new");
    }
}

// The new bytes arrive as a new file renamed into place: a reader that had
// the old file open keeps seeing the old bytes whole, never a mix.
TEST(SaveBinFile, ReplacesTheFileInOneStep) {
    TempDir dir;
    const auto file = dir / "Ram.Bin";
    const std::string old = RandomBytes(4096, 13);
    WriteFile(file, old);
    const int reader = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    struct stat before {};
    ASSERT_EQ(::fstat(reader, &before), 0);

    const std::string key = RandomBytes(4096, 14);
    ASSERT_TRUE(SaveBinFile(file, key).ok);

    std::string seen(4096, '\0');
    EXPECT_EQ(::pread(reader, seen.data(), seen.size(), 0), 4096);
    ::close(reader);
    EXPECT_EQ(seen, old);
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadFile(file), key);
}

// A write that fails half way (here: the file size limit of the process,
// which binds root too) must not touch the old file.
TEST(SaveBinFile, FailedWriteLeavesTheOldFileWhole) {
    TempDir dir;
    const auto file = dir / "Ram.Bin";
    const std::string old = RandomBytes(4096, 15);
    WriteFile(file, old);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const SaveOutcome outcome = SaveBinFile(file, RandomBytes(4096, 16));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.reason, "file too large");
    EXPECT_EQ(ReadFile(file), old);
    EXPECT_EQ(NamesIn(dir.path()), std::set<std::string>{"Ram.Bin"});
}

TEST(SaveBinFile, SavingThroughALinkWritesTheFileItNames) {
    TempDir dir;
    fs::create_directory(dir / "keys");
    const auto real = dir / "keys" / "real.bin";
    WriteFile(real, "old and longer");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    fs::create_symlink("keys/real.bin", dir / "link.bin");

    ASSERT_TRUE(SaveBinFile(dir / "link.bin", "new").ok);
    EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
    EXPECT_EQ(ReadFile(real), "new");
    EXPECT_EQ(ModeOf(real), 0640u);
    EXPECT_EQ(NamesIn(dir / "keys"), std::set<std::string>{"real.bin"});

    // A link to nothing yet: the save creates the file it names.
    fs::create_symlink("keys/later.bin", dir / "dangling.bin");
    ASSERT_TRUE(SaveBinFile(dir / "dangling.bin", "later").ok);
    EXPECT_EQ(ReadFile(dir / "keys" / "later.bin"), "later");

    fs::create_symlink("loop.bin", dir / "loop.bin");
    EXPECT_EQ(SaveBinFile(dir / "loop.bin", "x").reason, "too many levels of symbolic links");
}

TEST(SaveBinFile, NeverReplacesAFifo) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(SaveBinFile(dir / "fifo", "k").reason, "not a regular file");
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_EQ(NamesIn(dir.path()), std::set<std::string>{"fifo"});
}

TEST(SaveBinFile, RelativeNameSavesInTheCurrentFolder) {
    TempDir dir;
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    const SaveOutcome outcome = SaveBinFile("Ram.Bin", "rel");
    fs::current_path(previous);
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    EXPECT_EQ(ReadFile(dir / "Ram.Bin"), "rel");
    EXPECT_EQ(NamesIn(dir.path()), std::set<std::string>{"Ram.Bin"});
}

TEST(SaveBinFile, ReadOnlyFolderOrFileIsRefused) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not stop root";
    }
    TempDir dir;
    const auto folder = dir / "locked";
    fs::create_directory(folder);
    WriteFile(folder / "Ram.Bin", "old");
    ASSERT_EQ(::chmod(folder.c_str(), 0500), 0);
    const SaveOutcome outcome = SaveBinFile(folder / "Ram.Bin", "new");
    ::chmod(folder.c_str(), 0700);
    EXPECT_EQ(outcome.reason, "permission denied");
    EXPECT_EQ(ReadFile(folder / "Ram.Bin"), "old");
    EXPECT_EQ(NamesIn(folder), std::set<std::string>{"Ram.Bin"});

    // The folder would allow a rename, but the owner locked the file itself.
    ASSERT_EQ(::chmod((folder / "Ram.Bin").c_str(), 0400), 0);
    EXPECT_EQ(SaveBinFile(folder / "Ram.Bin", "new").reason, "permission denied");
    EXPECT_EQ(ReadFile(folder / "Ram.Bin"), "old");
}

#endif

}  // namespace
}  // namespace vantri
