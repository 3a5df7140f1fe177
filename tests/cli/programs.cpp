#include "programs.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

namespace vantri::test {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "vantri-cli-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) {
        fs::remove_all(path_, ec);
    }
}

Child::Child(const fs::path& program, const std::vector<std::string>& args, const fs::path& outFile,
             const fs::path& errFile, int errTerminal) {
    // Everything the child needs is made before fork: after it, only
    // async-signal-safe calls.
    const std::string path = program.string();
    std::vector<std::string> storage{path};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const std::string out = outFile.string();
    const std::string err = errFile.string();
    const std::string dir = outFile.parent_path().string();

    pid_ = ::fork();
    if (pid_ == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = errTerminal >= 0 ? errTerminal
                                       : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 ||
            ::chdir(dir.c_str()) != 0) {
            ::_exit(126);
        }
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
}

Child::~Child() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    if (!Wait(std::chrono::milliseconds(3000))) {
        ::kill(pid_, SIGKILL);
        Wait(std::chrono::milliseconds(3000));
    }
}

void Child::Signal(int signal) const {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

std::optional<int> Child::Wait(std::chrono::milliseconds limit) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            if (WIFEXITED(status)) {
                return WEXITSTATUS(status);
            }
            return 128 + WTERMSIG(status);
        }
        if (done < 0 && errno != EINTR) {
            pid_ = -1;
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() > until) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

fs::path KeyProgram() {
    return fs::path(VANTRI_BIN_DIR) / "vantri-key";
}
fs::path DevsimProgram() {
    return fs::path(VANTRI_BIN_DIR) / "vantri-devsim";
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

KeyRun RunKey(const std::vector<std::string>& args, const TempDir& dir) {
    KeyRun run;
    const auto start = std::chrono::steady_clock::now();
    {
        Child child(KeyProgram(), args, dir / "key.out", dir / "key.err");
        run.code = child.Wait(std::chrono::milliseconds(20000)).value_or(-1);
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.out = ReadFile(dir / "key.out");
    run.err = ReadFile(dir / "key.err");
    return run;
}

Devsim::Devsim(const TempDir& dir, const std::vector<std::string>& options, const std::string& name)
    : port_((dir / name).string()), save_(dir / (name + ".saved")) {
    std::vector<std::string> args{"--link",       port_,   "--save",
                                  save_.string(), "--log", (dir / (name + ".log")).string()};
    args.insert(args.end(), options.begin(), options.end());
    child_.emplace(DevsimProgram(), args, dir / (name + ".out"), dir / (name + ".err"));
    // Serving once the link is there.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::error_code ec;
    while (std::chrono::steady_clock::now() < until) {
        if (fs::is_symlink(port_, ec)) {
            ready_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace vantri::test
