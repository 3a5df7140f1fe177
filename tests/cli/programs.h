// The programs under test, run as child processes in a temporary folder:
// vantri-key with its output captured, vantri-devsim serving on a link.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantri::test {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// A fresh folder, removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

struct KeyRun {
    int code = -1;  // 128 + signal when killed; -1 when still running after 20 s
    std::string out;
    std::string err;
    double seconds = 0;
};

// Runs vantri-key in `dir` to its end, with Ctrl-C sent after
// `interruptAfter` when given.
KeyRun RunKey(const std::vector<std::string>& args, const TempDir& dir,
              std::optional<milliseconds> interruptAfter = std::nullopt);

// vantri-devsim serving at dir/device with `options`, stopped at the end.
class Devsim {
  public:
    Devsim(const TempDir& dir, const std::vector<std::string>& options);
    ~Devsim();
    Devsim(const Devsim&) = delete;
    Devsim& operator=(const Devsim&) = delete;
    const std::string& port() const { return port_; }
    bool ready() const { return ready_; }
    fs::path saveFile() const { return save_; }

  private:
    std::string port_;
    fs::path save_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

std::string ReadFile(const fs::path& file);
void WriteFile(const fs::path& file, const std::string& bytes);

}  // namespace vantri::test
