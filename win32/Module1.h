// Module1: the Windows common file dialogs for the window's two operations.
//
// ShowOpenDialog lets the user pick an existing file to write; ShowSaveDialog
// a name to save a read under, starting from a proposed name.  Both are
// modal to `owner`, return the full path chosen, and an empty path when the
// user cancels or the dialog fails.
//
// The filter is the classic list (pairs of text and pattern, each ended by a
// character 0, the list ended by one more), in UTF-8.  The open dialog takes
// the caller's OFN_* flags as they are.  The save dialog's flags are always
// OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT: new names, and
// existing ones once the user has said yes to replacing them, only in a
// folder that exists, no extension added.  Paths go
// through the wide API and a buffer for the longest path Windows allows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace vantri::win32 {

std::filesystem::path ShowOpenDialog(const std::string& filter, std::uint32_t flags, HWND owner,
                                     const std::string& title);
std::filesystem::path ShowSaveDialog(const std::string& filter, HWND owner,
                                     const std::filesystem::path& defaultName,
                                     const std::string& title);

}  // namespace vantri::win32
