// The programs that hold keys in memory keep them to themselves: each makes
// itself non-dumpable as it starts, so a crash writes no core dump and its
// /proc entries (memory, environment, open files) belong to root.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "tests/common/files.h"

namespace vantri {
namespace {

namespace fs = std::filesystem;

// Each program runs as a user other than root (nobody for a root test run,
// to whom every /proc entry would belong anyway: this whole test becomes
// nobody) and writes its version into a full pipe, where it waits until it
// is killed.  Its /proc entries must come to belong to root once it runs: it
// starts dumpable, as every program does after its exec, until it hardens
// itself.  The window only where it is built.
TEST(HardenProcess, KeyProgramsAreNotDumpable) {
    const passwd* nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
    ASSERT_TRUE(::geteuid() != 0 ||
                (nobody && ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0));
    for (const std::string name :
         {"vantri-key", VANTRI_WINDOW_BUILT ? "vantri-keywriter" : "vantri-key"}) {
        SCOPED_TRACE(name);
        const std::string path = std::string(VANTRI_BIN_DIR) + "/" + name;
        // The kernel itself makes a program that its user cannot read
        // non-dumpable: that would prove nothing.
        ASSERT_NE(fs::status(path).permissions() & fs::perms::others_read, fs::perms::none);
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        const int full = ::fcntl(out[1], F_SETPIPE_SZ, 4096);
        ASSERT_EQ(::write(out[1], std::string(full, 'x').data(), full), full);
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::_exit(::execl(path.c_str(), name.c_str(), "--version", static_cast<char*>(nullptr)));
        }
        const std::string proc = "/proc/" + std::to_string(child) + "/";
        // Its name comes with the exec, which also makes it dumpable again.
        struct stat status {};
        const bool hardened = test::Eventually([&] {
            return test::ReadFile(proc + "comm") == name.substr(0, 15) + "\n" &&
                   ::stat((proc + "status").c_str(), &status) == 0 && status.st_uid == 0;
        });
        // Not yet ended (a dead process's entries belong to root too).
        const bool running = ::waitpid(child, nullptr, WNOHANG) == 0;
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        EXPECT_TRUE(hardened && running) << proc << "status belongs to user " << status.st_uid;
    }
}

}  // namespace
}  // namespace vantri
