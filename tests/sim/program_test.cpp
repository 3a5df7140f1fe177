// The vantri-devsim program: its first line, the link, the log, the stop on
// a signal, and the exit code 2 for options it cannot use.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "tests/sim/client.h"

namespace vantri::sim::test {
namespace {

namespace fs = std::filesystem;

// The program in a child process, its output in files of `dir`.
class Program {
  public:
    Program(const fs::path& dir, std::vector<std::string> args)
        : out_(dir / "out.txt"), err_(dir / "err.txt") {
        args.insert(args.begin(), std::string(VANTRI_BIN_DIR) + "/vantri-devsim");
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            ::dup2(::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Program() {
        if (pid_ > 0 && code_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    std::string FirstLine() {
        std::string text;
        Eventually([&] { return (text = FileText(out_)).find('\n') != std::string::npos; });
        return text.substr(0, text.find('\n'));
    }
    std::string Output() const { return FileText(out_); }
    std::string Errors() const { return FileText(err_); }
    void Signal(int sig) { ::kill(pid_, sig); }

    // The exit code, or -1 if it has not ended within `limit`.
    int Wait(milliseconds limit = milliseconds(3000)) {
        Eventually(
            [&] {
                int status = 0;
                if (code_ < 0 && pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                }
                return code_ >= 0;
            },
            limit);
        return code_;
    }

  private:
    fs::path out_;
    fs::path err_;
    pid_t pid_ = -1;
    int code_ = -1;
};

class DevsimProgram : public ::testing::Test {
  protected:
    fs::path Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_.Path() / name, std::ios::binary) << bytes;
        return dir_.Path() / name;
    }
    TempDir dir_;
};

TEST_F(DevsimProgram, ServesThroughTheLinkItReplacesLogsSavesAndStopsOnSigterm) {
    const fs::path link = dir_.Path() / "ttyDEV";
    fs::create_symlink(dir_.Path() / "gone", link);  // a stale link from an earlier run
    const fs::path save = dir_.Path() / "saved.bin";
    const fs::path log = dir_.Path() / "sim.log";
    Program program(dir_.Path(), {"--link", link.string(), "--buffer",
                                  Write("start.bin", PatternBuffer()).string(),
                                  "--save=" + save.string(), "--log", log.string()});
    const std::string port = program.FirstLine();
    ASSERT_EQ(port.rfind("/dev/pts/", 0), 0u) << port << program.Errors();
    EXPECT_EQ(fs::read_symlink(link), port);

    Client client(link.string());
    ASSERT_TRUE(client.Send("\x05"));
    EXPECT_EQ(client.Read(8192, milliseconds(500)), ExpectedHex(PatternBuffer()));
    client.Close();
    const std::string data(4096, '\x5A');
    ASSERT_TRUE(Client(link.string()).Send("\x06" + data));
    EXPECT_TRUE(Eventually([&] { return FileText(save) == data; }));

    // The log is written as it runs: a line per byte and per event.
    ASSERT_TRUE(Eventually(
        [&] { return FileText(log).find("event write complete") != std::string::npos; }));
    const std::string text = FileText(log);
    std::size_t lines = 0;
    for (std::size_t at = text.find(" 5A\n"); at != std::string::npos;
         at = text.find(" 5A\n", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 4096u);

    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the link is removed at exit";
}

TEST_F(DevsimProgram, KeepsRunningAfterAHangupUntilSigint) {
    const fs::path link = dir_.Path() / "port";
    Program program(dir_.Path(), {"--link", link.string(), "--fault", "hangup:1"});
    const std::string port = program.FirstLine();
    ASSERT_FALSE(port.empty()) << program.Errors();
    Client client(port);
    ASSERT_TRUE(client.Send("\x05"));
    EXPECT_EQ(client.Read(1, milliseconds(1000)), "");
    EXPECT_TRUE(client.HungUp());
    EXPECT_EQ(program.Wait(milliseconds(200)), -1) << "still running";
    program.Signal(SIGINT);
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(DevsimProgram, UnusableOptionsExitWith2AndSayWhich) {
    const std::string folder = dir_.Path().string();
    const std::string precious = Write("precious", "keep me").string();
    const struct {
        std::vector<std::string> args;
        std::string mentions;
    } cases[] = {
        {{"--buffer", Write("short.bin", std::string(4095, 'x')).string()}, "4095 bytes"},
        {{"--buffer", Write("long.bin", std::string(4097, 'x')).string()}, "4097 bytes"},
        {{"--buffer", folder + "/missing.bin"}, "--buffer"},
        {{"--buffer", folder}, "--buffer"},
        {{"--fault", "sometimes"}, "--fault sometimes"},
        {{"--fault", "short:many"}, "--fault short:many"},
        {{"--fault", "garbage:9000"}, "--fault garbage:9000"},
        {{"--fault", "stall:9000:5"}, "--fault stall:9000:5"},
        {{"--fault", "short:8193"}, "--fault short:8193"},
        {{"--fault", "extra:5000000"}, "--fault extra"},
        {{"--line-rate", "fast"}, "--line-rate"},
        {{"--line-rate", "0"}, "--line-rate"},
        {{"--line-rate", "10"}, "--line-rate"},
        {{"--save", folder + "/no/such.bin"}, "--save"},
        {{"--log", folder}, "--log"},
        {{"--log"}, "--log"},
        {{"--link", precious}, "--link"},  // never replaces a file that is not a link
        {{"--verbose"}, "--verbose"},
        {{"stray"}, "stray"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mentions);
        Program program(dir_.Path(), c.args);
        EXPECT_EQ(program.Wait(), 2);
        EXPECT_NE(program.Errors().find(c.mentions), std::string::npos) << program.Errors();
        EXPECT_EQ(program.Output(), "") << "no port printed";
    }
    EXPECT_EQ(FileText(precious), "keep me");
}

TEST_F(DevsimProgram, HelpDescribesTheOptions) {
    Program program(dir_.Path(), {"--help"});
    EXPECT_NE(program.FirstLine().find("usage: vantri-devsim"), std::string::npos);
    EXPECT_EQ(program.Wait(), 0);
}

}  // namespace
}  // namespace vantri::sim::test
