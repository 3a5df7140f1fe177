// What vantri-key asks of the system it runs on, one file per OS
// (console_posix.cpp, console_win32.cpp): its arguments and file names in
// UTF-8, the terminals, a binary standard output and the Ctrl-C handler.
//
// vantri-key works in UTF-8 text throughout: its arguments, the file names
// made from them, and what it prints.  On Windows, argv holds the arguments
// in the ANSI code page, where a name outside it (Cyrillic on a Western
// system, CJK almost anywhere) arrives as "????" and names no file.  So the
// arguments are taken from the UTF-16 command line and turned into UTF-8,
// file paths are made back from that UTF-8, and the console is switched to
// UTF-8 so names print as they are.  On POSIX the text functions pass the
// bytes through unchanged: a file name is whatever bytes the user typed,
// UTF-8 or not.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vantri::cli {

// The arguments after the program name, as UTF-8 (POSIX: argv as it is).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// The file named by a UTF-8 text from the command line.  On Windows a
// malformed sequence becomes U+FFFD (and so names no existing file) rather
// than an exception.
std::filesystem::path PathFromUtf8(std::string_view text);

// A path as UTF-8, for messages.
std::string Utf8FromPath(const std::filesystem::path& path);

// A text from the system's narrow ("A") calls, such as an error text or a
// port's description, which Windows gives in the ANSI code page, as UTF-8.
std::string Utf8FromSystemText(std::string_view text);

// While it lives, the Windows console shows the program's output as UTF-8;
// its code page is set back at the end, since the console outlives the
// program.  Output to a file or a pipe is UTF-8 in any case.  Nothing on
// POSIX, where the terminal's own encoding is the user's business.
class Utf8Console {
  public:
    Utf8Console();
    ~Utf8Console();
    Utf8Console(const Utf8Console&) = delete;
    Utf8Console& operator=(const Utf8Console&) = delete;

  private:
    [[maybe_unused]] unsigned previous_ = 0;  // 0: nothing to set back
};

bool IsTerminal(std::FILE* stream);
// Bytes written to `stream` go out as they are (Windows: no CR before LF).
void SetBinary(std::FILE* stream);

// Makes `handler` the SIGINT handler, without restarting the system call it
// interrupts, so a blocked read or write returns at once.  The handler calls
// it again: the Windows C runtime resets the handler before calling it.
void ArmInterrupt(void (*handler)(int));

// The --port line of the commands' help: what a port is called here.
extern const char* const kPortHelp;

}  // namespace vantri::cli
