// The programs under test, run as child processes: vantri-key with its
// output captured, and vantri-devsim serving on a link in a temporary folder.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantri::test {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// A child process; killed and reaped at the end if still running.
class Child {
  public:
    // Runs `program` with `args`; its standard output and error go to the
    // files given, or to a terminal for standard error when `errTerminal`
    // is the slave side of a pty (fd >= 0).
    Child(const fs::path& program, const std::vector<std::string>& args, const fs::path& outFile,
          const fs::path& errFile, int errTerminal = -1);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    void Signal(int signal) const;
    // The exit code (128 + signal for a killed process), or nullopt when it
    // is still running after `limit`.
    std::optional<int> Wait(std::chrono::milliseconds limit);

  private:
    pid_t pid_ = -1;
};

struct KeyRun {
    int code = -1;
    std::string out;
    std::string err;
    double seconds = 0;
};

// Runs vantri-key to its end (at most 20 s) in `dir`.
KeyRun RunKey(const std::vector<std::string>& args, const TempDir& dir);

fs::path KeyProgram();
fs::path DevsimProgram();
std::string ReadFile(const fs::path& file);
void WriteFile(const fs::path& file, const std::string& bytes);

// vantri-devsim serving at dir/<name>, with the options given.
class Devsim {
  public:
    Devsim(const TempDir& dir, const std::vector<std::string>& options,
           const std::string& name = "device");
    const std::string& port() const { return port_; }
    bool ready() const { return ready_; }
    fs::path saveFile() const { return save_; }

  private:
    std::string port_;
    fs::path save_;
    std::optional<Child> child_;
    bool ready_ = false;
};

}  // namespace vantri::test
