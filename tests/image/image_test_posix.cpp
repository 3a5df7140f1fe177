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
#include <filesystem>

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
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0) << file;
    return info.st_mode & 07777;
}

// Runs `body` in a child given the writing end of a pipe, which also gets
// what `body` returns; the child's id and what it wrote by the time it
// stopped or ended.
template <class Body>
std::pair<pid_t, std::string> InChild(Body body) {
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string said = body(out[1]);
        ::_exit(::write(out[1], said.data(), said.size()) < 0);
    }
    ::close(out[1]);
    char text[200];
    const ssize_t n = ::read(out[0], text, sizeof text);
    ::close(out[0]);
    return {child, std::string(text, std::max<ssize_t>(n, 0))};
}

// Exact bytes, owner-only when new, no old tail; an existing file keeps its
// mode; a link stays a link to the file it names, which a dangling link
// creates.  The new file is renamed into place: a reader that had the old
// file open keeps seeing the old bytes whole, never a mix.
TEST(SaveBinFile, WritesExactlyTheBytesKeepingModesAndLinks) {
    TempDir dir;
    const auto file = dir / "Ram.Bin";
    const std::string key = RandomBytes(4096, 10), old = RandomBytes(10000, 11);
    const SaveOutcome outcome = SaveBinFile(file, key);
    ASSERT_TRUE(outcome.ok && outcome.reason.empty()) << outcome.reason;
    EXPECT_EQ(ReadFile(file), key);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(ModeOf(file), 0600 & ~mask) << "key material";
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
    ASSERT_TRUE(SaveBinFile(file, "").ok);
    EXPECT_EQ(fs::file_size(file), 0u);
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
    WriteFile(dir / "plain", "x");
    WriteFile(dir / "Ram.Bin", old);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("loop", dir / "loop");
    fs::create_directories(dir / "folder");
    fs::create_directories(dir / "locked");
    WriteFile(dir / "locked" / "Ram.Bin", "old");
    WriteFile(dir / "readonly", "old");
    const passwd* user = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
    ASSERT_TRUE(::geteuid() != 0 || user != nullptr);
    const uid_t uid = user ? user->pw_uid : ::geteuid();
    for (const auto& entry : fs::recursive_directory_iterator(dir.path)) {
        ASSERT_EQ(::lchown(entry.path().c_str(), uid, -1), 0);
    }
    ASSERT_EQ(::chown(dir.path.c_str(), uid, -1) + ::chmod((dir / "readonly").c_str(), 0400) +
                  ::chmod((dir / "locked").c_str(), 0500),
              0);
    const std::pair<fs::path, std::string> cases[] = {
        {dir / "missing" / "Ram.Bin", "no such file or directory"},
        {dir / "plain" / "Ram.Bin", "not a directory"},
        {dir / "folder", "is a directory"},
        {dir / "fifo", "not a regular file"},
        {dir / "loop", "too many levels of symbolic links"},
        {dir / "locked" / "Ram.Bin", "permission denied"},
        // The folder would allow a rename, but the owner locked the file itself.
        {dir / "readonly", "permission denied"},
        {"", "no file name"},
        {dir.path / "", "no file name"},
        {dir / "Ram.Bin", "file too large"},
    };
    for (const auto& [target, reason] : cases) {
        const auto [child, said] = InChild([&, &target = target, &reason = reason](int) {
            const rlim_t size = reason == "file too large" ? 1000 : RLIM_INFINITY;
            const rlimit limit{size, size};
            std::signal(SIGXFSZ, SIG_IGN);
            const bool as = ::setrlimit(RLIMIT_FSIZE, &limit) == 0 &&
                            (!user || (::setgid(user->pw_gid) == 0 && ::setuid(user->pw_uid) == 0));
            const SaveOutcome o = as ? SaveBinFile(target, RandomBytes(4096, 12)) : SaveOutcome{};
            return o.ok ? "saved" : o.reason;
        });
        ::waitpid(child, nullptr, 0);
        EXPECT_EQ(said, reason) << target;
    }
    EXPECT_EQ(NamesIn(dir.path),
              (Names{"Ram.Bin", "fifo", "folder", "locked", "loop", "plain", "readonly"}));
    EXPECT_EQ(ReadFile(dir / "plain") + ReadFile(dir / "readonly") +
                  ReadFile(dir / "locked/Ram.Bin") + ReadFile(dir / "Ram.Bin"),
              "xoldold" + old);
    EXPECT_TRUE(fs::is_empty(dir / "folder") && fs::is_fifo(dir / "fifo"));
    EXPECT_EQ(NamesIn(dir / "locked"), Names{"Ram.Bin"});
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
        const auto [saver, said] = InChild([&](int out) {
            SaveBinFile(file, RandomBytes(4096, 20), [&](SaveStep at) {
                if (at == step) {
                    static_cast<void>(::write(out, "!", 1));
                    ::raise(SIGSTOP);
                }
            });
            return std::string();
        });
        Names leftovers = NamesIn(dir.path);
        leftovers.erase("Ram.Bin");
        EXPECT_EQ(leftovers.size(), step == SaveStep::Written ? 0u : 1u);
        // The writer still lives: its file stays.
        ASSERT_TRUE(SaveBinFile(file, "meanwhile").ok);
        EXPECT_EQ(NamesIn(dir.path).size(), leftovers.size() + 1);
        ::kill(saver, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(saver, &status, 0), saver);
        ASSERT_TRUE(said == "!" && WIFSIGNALED(status));
        EXPECT_EQ(ReadFile(file), "meanwhile");
        for (const std::string& name : leftovers) {
            EXPECT_EQ(ModeOf(dir / name), 0600u) << name;
        }
        ASSERT_TRUE(SaveBinFile(file, "new").ok);
        EXPECT_EQ(NamesIn(dir.path), Names{"Ram.Bin"});
        EXPECT_EQ(ReadFile(file), "new");
        EXPECT_EQ(ModeOf(file), 0644u);
    }
}

}  // namespace
}  // namespace vantri
