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
#include <string>

#include "tests/common/files.h"

namespace vantri {
namespace {

// Each program runs as a user other than root (nobody for a root test run,
// to whom every /proc entry would belong anyway) and writes its version into
// a full pipe, where it waits until it is killed.  Its /proc entries must
// come to belong to root once it runs: it starts dumpable, as every program
// does after its exec, until it hardens itself.
TEST(HardenProcess, KeyProgramsAreNotDumpable) {
    const passwd* nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
    ASSERT_TRUE(::geteuid() != 0 || nobody != nullptr);
    for (const std::string name : {"vantri-key", "vantri-keywriter"}) {
        SCOPED_TRACE(name);
        const std::string path = std::string(VANTRI_BIN_DIR) + "/" + name;
        struct stat info {};
        // The kernel itself makes a program that its user cannot read
        // non-dumpable: that would prove nothing.
        if (name == "vantri-keywriter" && !VANTRI_WINDOW_BUILT) {
            continue;
        }
        ASSERT_TRUE(::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IROTH) != 0) << path;
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        const int full = ::fcntl(out[1], F_SETPIPE_SZ, 4096);
        ASSERT_EQ(::write(out[1], std::string(full, 'x').data(), full), full);
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(out[1], STDERR_FILENO);
            if (nobody == nullptr ||
                (::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0)) {
                ::execl(path.c_str(), name.c_str(), "--version", static_cast<char*>(nullptr));
            }
            ::_exit(127);
        }
        ::close(out[1]);
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
        ::close(out[0]);
        EXPECT_TRUE(hardened && running) << proc << "status belongs to user " << status.st_uid;
    }
}

}  // namespace
}  // namespace vantri
