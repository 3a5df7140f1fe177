// Files on POSIX systems: loads of what is not a regular file, and saving
// key files atomically, owner-only, with the old file kept whole on any
// failure and no key material left behind.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "image/save_file.h"
#include "tests/common/files.h"

namespace vantri {

namespace fs = std::filesystem;

// A FIFO without a writer would block a careless open for ever.
std::vector<fs::path> NotRegularFiles(const test::TempDir& dir) {
    EXPECT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    return {dir / "fifo", "/dev/null"};
}

namespace {

using namespace test;
using Names = std::set<std::string>;

mode_t ModeOf(const fs::path& file) {
    return static_cast<mode_t>(fs::status(file).permissions());
}

// For a death test's child: saves 4096 bytes to `target` as `user` (when
// given) under a file size limit, and ends with what the save said on its
// standard error.
[[noreturn]] void SaveAs(const fs::path& target, const passwd* user, rlim_t size) {
    const rlimit limit{size, size};
    std::signal(SIGXFSZ, SIG_IGN);
    const bool as = ::setrlimit(RLIMIT_FSIZE, &limit) == 0 &&
                    (!user || (::setgid(user->pw_gid) == 0 && ::setuid(user->pw_uid) == 0));
    const SaveOutcome o = as ? SaveBinFile(target, RandomBytes(4096, 12)) : SaveOutcome{};
    ::_exit(std::fputs(o.ok ? "saved" : o.reason.c_str(), stderr) < 0);
}

// Exact bytes, owner-only when new, no old tail; an existing file keeps its
// mode; a link stays a link to the file it names, which a dangling link
// creates.  The new file is renamed into place: a reader that had the old
// file open keeps seeing the old bytes whole, never a mix.
TEST(SaveBinFile, WritesExactlyTheBytesKeepingModesAndLinks) {
    TempDir dir;
    const auto file = dir / "Ram.Bin";
    const std::string key = RandomBytes(4096, 10), old = RandomBytes(10000, 11);
    ::umask(022);  // the usual one, which would let others read
    const SaveOutcome outcome = SaveBinFile(file, key);
    ASSERT_TRUE(outcome.ok && outcome.reason.empty()) << outcome.reason;
    EXPECT_EQ(ReadFile(file), key);
    EXPECT_EQ(ModeOf(file), 0600u) << "key material, whatever the umask";
    WriteFile(file, old);
    std::ifstream reader(file, std::ios::binary);
    fs::create_symlink("Ram.Bin", dir / "link.bin");
    for (const mode_t mode : {0640, 0604, 0666}) {
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        ASSERT_TRUE(SaveBinFile(mode == 0640 ? dir / "link.bin" : file, key).ok);
        EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
        EXPECT_EQ(ModeOf(file), mode);
        EXPECT_EQ(ReadFile(file), key);
    }
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), old);
    fs::create_symlink("later.bin", dir / "dangling.bin");
    ASSERT_TRUE(SaveBinFile(dir / "dangling.bin", "later").ok);
    EXPECT_EQ(ReadFile(dir / "later.bin"), "later");
    EXPECT_EQ(NamesIn(dir.path), (Names{"Ram.Bin", "dangling.bin", "later.bin", "link.bin"}));
}

// Each refusal, and a write that fails half way, leaves every file as it
// was and no temporary file behind.  Each save runs in a child as a user
// (root passes permission bits, so a root run meets a user's refusals as
// nobody), with a file size limit (which binds root too) for the last.
TEST(SaveBinFile, RefusalsAndFailuresLeaveEverythingAsItWas) {
    TempDir dir;
    const std::string old = RandomBytes(4096, 15);
    WriteFile(dir / "Ram.Bin", old);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("loop", dir / "loop");
    fs::create_directories(dir / "locked");
    WriteFile(dir / "locked" / "Ram.Bin", "old");
    WriteFile(dir / "readonly", "old");
    const passwd* user = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
    ASSERT_TRUE(::geteuid() != 0 || user != nullptr);
    // The saver may write the folder and Ram.Bin, not what is locked.
    ASSERT_EQ(::chmod(dir.path.c_str(), 0777) + ::chmod((dir / "Ram.Bin").c_str(), 0666) +
                  ::chmod((dir / "readonly").c_str(), 0444) +
                  ::chmod((dir / "locked").c_str(), 0555),
              0);
    const std::pair<fs::path, std::string> cases[] = {
        {dir / "missing" / "Ram.Bin", "no such file or directory"},
        {dir / "readonly" / "Ram.Bin", "not a directory"},
        {dir / "locked", "is a directory"},
        {dir / "fifo", "not a regular file"},
        {dir / "loop", "too many levels of symbolic links"},
        {dir / "locked" / "Ram.Bin", "permission denied"},
        // The folder would allow a rename, but the file itself is read-only.
        {dir / "readonly", "permission denied"},
        {"", "no file name"},
        {dir.path / "", "no file name"},
        {dir / "Ram.Bin", "file too large"},
    };
    for (const auto& [target, reason] : cases) {
        EXPECT_EXIT(SaveAs(target, user, reason == "file too large" ? 1000 : RLIM_INFINITY),
                    testing::ExitedWithCode(0), "^" + reason + "$")
            << target;
    }
    EXPECT_EQ(NamesIn(dir.path), (Names{"Ram.Bin", "fifo", "locked", "loop", "readonly"}));
    EXPECT_EQ(
        ReadFile(dir / "readonly") + ReadFile(dir / "locked/Ram.Bin") + ReadFile(dir / "Ram.Bin"),
        "oldold" + old);
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
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
        const pid_t saver = ::fork();
        if (saver == 0) {
            SaveBinFile(file, RandomBytes(4096, 20), [&](SaveStep at) {
                if (at == step) {
                    ::raise(SIGSTOP);
                }
            });
            ::_exit(0);
        }
        int status = 0;
        ASSERT_TRUE(::waitpid(saver, &status, WUNTRACED) == saver && WIFSTOPPED(status));
        Names leftovers = NamesIn(dir.path);
        leftovers.erase("Ram.Bin");
        EXPECT_EQ(leftovers.size(), step == SaveStep::Written ? 0u : 1u);
        // The writer still lives: its file stays.
        ASSERT_TRUE(SaveBinFile(file, "meanwhile").ok);
        EXPECT_EQ(NamesIn(dir.path).size(), leftovers.size() + 1);
        ::kill(saver, SIGKILL);
        ASSERT_TRUE(::waitpid(saver, &status, 0) == saver && WIFSIGNALED(status));
        EXPECT_EQ(ReadFile(file), "meanwhile");
        for (const std::string& name : leftovers) {
            EXPECT_EQ(ModeOf(dir / name), 0600u) << name;
        }
        ASSERT_TRUE(SaveBinFile(file, "new").ok);
        EXPECT_EQ(NamesIn(dir.path), Names{"Ram.Bin"});
    }
}

}  // namespace
}  // namespace vantri
