#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <csignal>

#include "cli/console.h"

namespace vantri::cli {

const char* const kPortHelp =
    "  --port, -p PORT   the serial port: COM3, or just 3 (default: $VANTRI_PORT)\n";

namespace {

// Ill-formed input (a lone surrogate, a stray byte) becomes U+FFFD in both
// directions: the flags that would refuse it are left out on purpose.  An
// empty text makes both calls fail and give 0: an empty result.
std::string Utf8FromWide(std::wstring_view wide) {
    const int length = static_cast<int>(wide.size());
    std::string text(std::max(0, WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0,
                                                     nullptr, nullptr)),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), static_cast<int>(text.size()),
                        nullptr, nullptr);
    return text;
}

std::wstring WideFrom(unsigned codePage, std::string_view text) {
    const int length = static_cast<int>(text.size());
    std::wstring wide(
        std::max(0, MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0)), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(),
                        static_cast<int>(wide.size()));
    return wide;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        // Out of memory, in practice: the ANSI arguments are better than none.
        return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    }
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        args.push_back(Utf8FromWide(wide[i]));
    }
    LocalFree(wide);
    return args;
}

std::filesystem::path PathFromUtf8(std::string_view text) {
    return WideFrom(CP_UTF8, text);
}

std::string Utf8FromPath(const std::filesystem::path& path) {
    return Utf8FromWide(path.native());
}

std::string Utf8FromSystemText(std::string_view text) {
    return Utf8FromWide(WideFrom(CP_ACP, text));
}

Utf8Console::Utf8Console() {
    const UINT current = GetConsoleOutputCP();  // 0 without a console
    if (current != 0 && current != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        previous_ = current;
    }
}

Utf8Console::~Utf8Console() {
    if (previous_ != 0) {
        SetConsoleOutputCP(previous_);
    }
}

bool IsTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

void SetBinary(std::FILE* stream) {
    _setmode(_fileno(stream), _O_BINARY);
}

void ArmInterrupt(void (*handler)(int)) {
    std::signal(SIGINT, handler);
}

}  // namespace vantri::cli
