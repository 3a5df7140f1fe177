#include "sim/event_log.h"

#include <cerrno>
#include <cstring>

namespace vantri::sim {

bool EventLog::Open(const std::filesystem::path& path, std::string& error) {
    file_.reset(std::fopen(path.c_str(), "we"));
    if (!file_) {
        error = "--log " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void EventLog::Byte(std::chrono::microseconds at, std::uint8_t byte) {
    if (file_) {
        std::fprintf(file_.get(), "%lld %02X\n", static_cast<long long>(at.count()), byte);
    }
}

void EventLog::Event(std::chrono::microseconds at, std::string_view text) {
    if (file_) {
        std::fprintf(file_.get(), "%lld event %.*s\n", static_cast<long long>(at.count()),
                     static_cast<int>(text.size()), text.data());
        std::fflush(file_.get());
    }
}

void EventLog::Flush() {
    if (file_) {
        std::fflush(file_.get());
    }
}

}  // namespace vantri::sim
