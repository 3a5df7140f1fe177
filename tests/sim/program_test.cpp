// The vantri-devsim program: its first line, the link, the stop on a
// signal, and the exit code 2 for options it cannot use.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/sim/client.h"

namespace vantri::sim::test {
namespace {

namespace fs = std::filesystem;

// The program running in a child process, with its output on pipes.
class Program {
  public:
    explicit Program(std::vector<std::string> args) {
        args.insert(args.begin(), std::string(VANTRI_BIN_DIR) + "/vantri-devsim");
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            std::vector<char*> argv;
            for (std::string& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Program() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }

    // The first line of standard output, waiting at most `limit`.
    std::string FirstLine(milliseconds limit = milliseconds(3000)) {
        std::string line;
        const Clock::time_point end = Clock::now() + limit;
        while (line.find('\n') == std::string::npos && Clock::now() < end) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            char c[256];
            const ssize_t n = ::read(out_, c, sizeof c);
            if (n <= 0) {
                break;
            }
            line.append(c, static_cast<std::size_t>(n));
        }
        return line.substr(0, line.find('\n'));
    }

    void Signal(int sig) { ::kill(pid_, sig); }

    // The exit code, or -1 if it has not ended within `limit`.
    int Wait(milliseconds limit = milliseconds(3000)) {
        const Clock::time_point end = Clock::now() + limit;
        while (status_ < 0 && Clock::now() < end) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            std::this_thread::sleep_for(milliseconds(5));
        }
        return status_;
    }

    std::string Errors() {
        std::string text;
        char c[1024];
        pollfd p{err_, POLLIN, 0};
        while (::poll(&p, 1, 100) > 0) {
            const ssize_t n = ::read(err_, c, sizeof c);
            if (n <= 0) {
                break;
            }
            text.append(c, static_cast<std::size_t>(n));
        }
        return text;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int status_ = -1;
};

class DevsimProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string name = (fs::temp_directory_path() / "devsim-prog-XXXXXX").string();
        dir_ = ::mkdtemp(name.data());
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
};

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST_F(DevsimProgram, ServesOnThePtyItNamesThroughTheLinkUntilSigterm) {
    const fs::path link = dir_ / "ttyDEV";
    const fs::path buffer = dir_ / "start.bin";
    WriteFile(buffer, PatternBuffer());
    Program program({"--link", link.string(), "--buffer", buffer.string()});
    const std::string port = program.FirstLine();
    ASSERT_EQ(port.rfind("/dev/pts/", 0), 0u) << port << program.Errors();
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), port);

    for (int i = 0; i < 3; ++i) {
        Client client(link.string());
        ASSERT_TRUE(client.IsOpen()) << client.Error();
        ASSERT_TRUE(client.Send("\x05"));
        EXPECT_EQ(client.Read(8192, milliseconds(500)), ExpectedHex(PatternBuffer()));
    }

    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the link is removed at exit";
}

TEST_F(DevsimProgram, SavesWritesAndStopsOnSigint) {
    const fs::path save = dir_ / "saved.bin";
    const fs::path log = dir_ / "sim.log";
    Program program({"--save=" + save.string(), "--log", log.string()});
    const std::string port = program.FirstLine();
    ASSERT_FALSE(port.empty()) << program.Errors();
    {
        Client client(port);
        ASSERT_TRUE(client.Send("\x06" + PatternBuffer()));
    }
    const Clock::time_point end = Clock::now() + milliseconds(2000);
    while (!fs::exists(save) && Clock::now() < end) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    std::ifstream in(save, std::ios::binary);
    const std::string saved{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(saved == PatternBuffer()) << saved.size() << " bytes saved";

    program.Signal(SIGINT);
    EXPECT_EQ(program.Wait(), 0);
    std::ifstream logIn(log);
    const std::string text{std::istreambuf_iterator<char>(logIn), std::istreambuf_iterator<char>()};
    EXPECT_NE(text.find(" 06\n"), std::string::npos);
    EXPECT_NE(text.find("event write complete"), std::string::npos) << text;
}

TEST_F(DevsimProgram, ReplacesAStaleLinkButNoOtherFile) {
    const fs::path link = dir_ / "port";
    fs::create_symlink(dir_ / "gone", link);
    {
        Program program({"--link", link.string()});
        const std::string port = program.FirstLine();
        ASSERT_FALSE(port.empty()) << program.Errors();
        EXPECT_EQ(fs::read_symlink(link), port);
        program.Signal(SIGTERM);
        EXPECT_EQ(program.Wait(), 0);
    }

    const fs::path file = dir_ / "precious";
    WriteFile(file, "keep me");
    Program program({"--link", file.string()});
    EXPECT_EQ(program.Wait(), 2);
    EXPECT_NE(program.Errors().find("--link"), std::string::npos);
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");
}

TEST_F(DevsimProgram, KeepsRunningAfterAHangupUntilSigterm) {
    const fs::path link = dir_ / "port";
    Program program({"--link", link.string(), "--fault", "hangup:1"});
    const std::string port = program.FirstLine();
    ASSERT_FALSE(port.empty()) << program.Errors();
    Client client(port);
    ASSERT_TRUE(client.Send("\x05"));
    EXPECT_TRUE(client.WaitHangup(milliseconds(1000)));
    EXPECT_EQ(program.Wait(milliseconds(200)), -1) << "still running";
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(DevsimProgram, UnusableOptionsExitWith2AndSayWhich) {
    const fs::path shortFile = dir_ / "short.bin";
    WriteFile(shortFile, std::string(4095, 'x'));
    const fs::path longFile = dir_ / "long.bin";
    WriteFile(longFile, std::string(4097, 'x'));
    const struct {
        std::vector<std::string> args;
        const char* mentions;
    } cases[] = {
        {{"--buffer", shortFile.string()}, "4095 bytes"},
        {{"--buffer", longFile.string()}, "4097 bytes"},
        {{"--buffer", (dir_ / "missing.bin").string()}, "--buffer"},
        {{"--buffer", dir_.string()}, "--buffer"},
        {{"--fault", "sometimes"}, "--fault sometimes"},
        {{"--fault", "short:many"}, "--fault short:many"},
        {{"--fault", "garbage:9000"}, "--fault garbage:9000"},
        {{"--line-rate", "fast"}, "--line-rate"},
        {{"--line-rate", "0"}, "--line-rate"},
        {{"--save", (dir_ / "no" / "such.bin").string()}, "--save"},
        {{"--log"}, "--log"},
        {{"--verbose"}, "--verbose"},
        {{"stray"}, "stray"},
    };
    for (const auto& c : cases) {
        Program program(c.args);
        EXPECT_EQ(program.Wait(), 2) << c.mentions;
        const std::string errors = program.Errors();
        EXPECT_NE(errors.find(c.mentions), std::string::npos) << errors;
        EXPECT_EQ(program.FirstLine(milliseconds(10)), "") << "no port printed";
    }
}

TEST_F(DevsimProgram, HelpDescribesTheOptions) {
    Program program({"--help"});
    std::string text = program.FirstLine();
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_NE(text.find("usage: vantri-devsim"), std::string::npos) << text;
}

}  // namespace
}  // namespace vantri::sim::test
