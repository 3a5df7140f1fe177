// Saving key files: exact bytes, atomic replacement, permissions, failures
// that leave the old file whole and no temporary file behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "image/save_file.h"
#include "tests/image/temp_dir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
using Names = std::set<std::string>;

Names NamesIn(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

#ifndef _WIN32
mode_t ModeOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0) << file;
    return info.st_mode & 07777;
}
#endif

TEST(SaveBinFile, WritesExactlyTheBytesOwnerOnlyAndLeavesNoOldTail) {
    TempDir dir;
    const auto file = dir / "Ram.Bin";
    const std::string key = RandomBytes(4096, 10);
    const SaveOutcome outcome = SaveBinFile(file, key);
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    EXPECT_EQ(outcome.reason, "");
    EXPECT_EQ(ReadFile(file), key);
#ifndef _WIN32
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(ModeOf(file), 0600 & ~mask) << "key material";
#endif
    WriteFile(file, RandomBytes(10000, 11));
    ASSERT_TRUE(SaveBinFile(file, key).ok);
    EXPECT_EQ(ReadFile(file), key);
    ASSERT_TRUE(SaveBinFile(file, "").ok);
    EXPECT_EQ(fs::file_size(file), 0u);
    EXPECT_EQ(NamesIn(dir.path()), Names{"Ram.Bin"});
}

// Each refusal leaves every file as it was and no temporary file behind.
TEST(SaveBinFile, RefusalsLeaveEverythingAsItWas) {
    TempDir dir;
    WriteFile(dir / "plain", "x");
    fs::create_directory(dir / "folder");
    struct Case {
        fs::path target;
        const char* reason;  // nullptr: any
    };
    std::vector<Case> cases = {
        {dir / "missing" / "Ram.Bin", "no such file or directory"},
#ifdef _WIN32
        // Windows answers a path through a file as it answers a missing folder.
        {dir / "plain" / "Ram.Bin", "no such file or directory"},
#else
        {dir / "plain" / "Ram.Bin", "not a directory"},
#endif
        {dir / "folder", "is a directory"},
        {"", nullptr},
        {dir.path() / "", nullptr},
    };
    Names names{"folder", "plain"};
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("loop", dir / "loop");
    fs::create_directory(dir / "locked");
    WriteFile(dir / "locked" / "Ram.Bin", "old");
    WriteFile(dir / "readonly", "old");
    ASSERT_EQ(::chmod((dir / "readonly").c_str(), 0400), 0);
    names.insert({"fifo", "loop", "locked", "readonly"});
    cases.push_back({dir / "fifo", "not a regular file"});
    cases.push_back({dir / "loop", "too many levels of symbolic links"});
    if (::geteuid() != 0) {  // permission bits do not stop root
        ASSERT_EQ(::chmod((dir / "locked").c_str(), 0500), 0);
        cases.push_back({dir / "locked" / "Ram.Bin", "permission denied"});
        // The folder would allow a rename, but the owner locked the file itself.
        cases.push_back({dir / "readonly", "permission denied"});
    }
#endif
    for (const Case& c : cases) {
        const SaveOutcome outcome = SaveBinFile(c.target, "new");
        EXPECT_FALSE(outcome.ok) << c.target;
        if (c.reason != nullptr) {
            EXPECT_EQ(outcome.reason, c.reason) << c.target;
        }
    }
    EXPECT_EQ(NamesIn(dir.path()), names);
    EXPECT_EQ(ReadFile(dir / "plain"), "x");
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
#ifndef _WIN32
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_EQ(ReadFile(dir / "readonly"), "old");
    EXPECT_EQ(ReadFile(dir / "locked" / "Ram.Bin"), "old");
    EXPECT_EQ(NamesIn(dir / "locked"), Names{"Ram.Bin"});
#endif
}

#ifndef _WIN32
// A write that fails half way (here: the file size limit of the process,
// which binds root too) leaves the old file whole.  One that succeeds comes
// as a new file renamed into place: a reader that had the old file open
// keeps seeing the old bytes whole, never a mix.
TEST(SaveBinFile, ReplacesTheFileInOneStepOrNotAtAll) {
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
    EXPECT_EQ(NamesIn(dir.path()), Names{"Ram.Bin"});

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

// A saver killed at a step of its save (a child stopped there, then killed)
// leaves the target whole and no key material for good: no file at all
// while the bytes have no name (Linux), else an owner-only one that the
// next save removes once, and only once, its writer is gone.
TEST(SaveBinFile, ASaverKilledMidSaveLeavesNoKeyMaterialBehind) {
    for (const SaveStep step : {SaveStep::Written, SaveStep::Named}) {
        SCOPED_TRACE(static_cast<int>(step));
        TempDir dir;
        const auto file = dir / "Ram.Bin";
        WriteFile(file, "old");
        ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t saver = ::fork();
        ASSERT_GE(saver, 0);
        if (saver == 0) {
            ::close(ready[0]);
            SaveBinFile(file, RandomBytes(4096, 20), [&](SaveStep at) {
                if (at == step) {
                    static_cast<void>(::write(ready[1], "!", 1));
                    for (;;) {
                        ::pause();
                    }
                }
            });
            ::_exit(1);  // the step never came
        }
        ::close(ready[1]);
        char signal = 0;
        const bool stopped = ::read(ready[0], &signal, 1) == 1;
        ::close(ready[0]);
        Names leftovers = NamesIn(dir.path());
        leftovers.erase("Ram.Bin");
#ifdef __linux__
        EXPECT_EQ(leftovers.size(), step == SaveStep::Written ? 0u : 1u);
#endif
        // The writer still lives: its file stays.
        ASSERT_TRUE(SaveBinFile(file, "meanwhile").ok);
        EXPECT_EQ(NamesIn(dir.path()).size(), leftovers.size() + 1);
        ::kill(saver, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(saver, &status, 0), saver);
        ASSERT_TRUE(stopped);
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(ReadFile(file), "meanwhile");
        for (const std::string& name : leftovers) {
            EXPECT_EQ(ModeOf(dir / name), 0600u) << name;
        }
        ASSERT_TRUE(SaveBinFile(file, "new").ok);
        EXPECT_EQ(NamesIn(dir.path()), Names{"Ram.Bin"});
        EXPECT_EQ(ReadFile(file), "new");
        EXPECT_EQ(ModeOf(file), 0644u);
    }
}

// An existing file keeps its mode; a link stays a link to the file it names.
TEST(SaveBinFile, ExistingFileKeepsItsModeAndLinksStay) {
    TempDir dir;
    for (const mode_t mode : {0640, 0604, 0666}) {
        const auto file = dir / ("mode" + std::to_string(mode) + ".bin");
        WriteFile(file, "old and longer");
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        fs::create_symlink(file.filename(), dir / "link.bin");  // the first is saved through it
        ASSERT_TRUE(SaveBinFile(mode == 0640 ? dir / "link.bin" : file, "new").ok);
        EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
        fs::remove(dir / "link.bin");
        EXPECT_EQ(ModeOf(file), mode);
        EXPECT_EQ(ReadFile(file), "new");
    }
    EXPECT_EQ(NamesIn(dir.path()).size(), 3u) << "no temporary file left";
    // A link to nothing yet: the save creates the file it names.
    fs::create_symlink("later.bin", dir / "dangling.bin");
    ASSERT_TRUE(SaveBinFile(dir / "dangling.bin", "later").ok);
    EXPECT_EQ(ReadFile(dir / "later.bin"), "later");
}
#endif

}  // namespace
}  // namespace vantri
