// The simulator's log: a line per byte received, "<microseconds> <hex>", and
// a line per event, "<microseconds> event <text>".  Times count from the
// simulator's start.  Lines are flushed as soon as a batch is written, so a
// test can read the log while the simulator runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace vantri::sim {

class EventLog {
  public:
    EventLog() = default;  // logs nothing

    // False with `error` set when the file cannot be created.
    bool Open(const std::filesystem::path& path, std::string& error);

    void Byte(std::chrono::microseconds at, std::uint8_t byte);
    void Event(std::chrono::microseconds at, std::string_view text);
    void Flush();

  private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
};

}  // namespace vantri::sim
