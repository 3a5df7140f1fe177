#include <unistd.h>

#include <csignal>

#include "cli/console.h"

namespace vantri::cli {

const char* const kPortHelp =
    "  --port, -p PORT   the serial port: a device such as /dev/ttyUSB0, or a\n"
    "                    number N (or COMN) for /dev/ttyS<N-1> (default: $VANTRI_PORT)\n";

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::string(text);
}

std::string Utf8FromPath(const std::filesystem::path& path) {
    return path.string();
}

std::string Utf8FromSystemText(std::string_view text) {
    return std::string(text);
}

Utf8Console::Utf8Console() = default;
Utf8Console::~Utf8Console() = default;

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

void SetBinary(std::FILE*) {}

void ArmInterrupt(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;  // sa_flags 0: no SA_RESTART
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace vantri::cli
