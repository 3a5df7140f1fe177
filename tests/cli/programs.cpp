#include "programs.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <thread>

namespace vantri::test {
namespace {

// Starts `program` in `dir`, its standard output and error in the files
// named there.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, const TempDir& dir,
            const std::string& out, const std::string& err) {
    // Everything the child needs is made before fork: after it, only
    // async-signal-safe calls.
    std::vector<std::string> storage{(fs::path(VANTRI_BIN_DIR) / program).string()};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const std::string where = (dir / "").string();
    const std::string outPath = (dir / out).string();
    const std::string errPath = (dir / err).string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int o = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 ||
            ::chdir(where.c_str()) != 0) {
            ::_exit(126);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// The exit code (128 + signal when killed), or -1 while still running
// after `limit`.
int Reap(pid_t pid, milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (int status = 0; pid > 0; std::this_thread::sleep_for(milliseconds(5))) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if ((done < 0 && errno != EINTR) || std::chrono::steady_clock::now() > until) {
            break;
        }
    }
    return -1;
}

void Stop(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    if (Reap(pid, milliseconds(3000)) < 0) {
        ::kill(pid, SIGKILL);
        Reap(pid, milliseconds(3000));
    }
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "vantri-cli-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

KeyRun RunKey(const std::vector<std::string>& args, const TempDir& dir,
              std::optional<milliseconds> interruptAfter) {
    KeyRun run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = Spawn("vantri-key", args, dir, "key.out", "key.err");
    if (interruptAfter) {
        std::this_thread::sleep_for(*interruptAfter);
        ::kill(pid, SIGINT);
    }
    run.code = Reap(pid, milliseconds(20000));
    if (run.code < 0) {
        Stop(pid);
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.out = ReadFile(dir / "key.out");
    run.err = ReadFile(dir / "key.err");
    return run;
}

Devsim::Devsim(const TempDir& dir, const std::vector<std::string>& options)
    : port_((dir / "device").string()), save_(dir / "device.saved") {
    std::vector<std::string> args{"--link", port_, "--save", save_.string()};
    args.insert(args.end(), options.begin(), options.end());
    pid_ = Spawn("vantri-devsim", args, dir, "device.out", "device.err");
    // Serving once the link is there.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::error_code ec;
    while (!(ready_ = fs::is_symlink(port_, ec)) && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(milliseconds(5));
    }
}

Devsim::~Devsim() {
    Stop(pid_);
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace vantri::test
