#include "win32/Module1.h"

#include <commdlg.h>

#include <string>

#include "win32/utf16.h"

namespace vantri::win32 {
namespace {

// The longest path the wide API takes, with its ending character 0.
constexpr DWORD FileBufferLength = 32768;

std::filesystem::path RunDialog(bool save, const std::string& filter, DWORD flags, HWND owner,
                                const std::filesystem::path& proposed, const std::string& title) {
    // The converted filter keeps its characters 0; one more makes sure the
    // list is closed even if the caller left the last one off.
    std::wstring wideFilter = Widen(filter);
    wideFilter.push_back(L'\0');
    const std::wstring wideTitle = Widen(title);
    std::wstring file = proposed.native().size() < FileBufferLength ? proposed.native() : L"";
    file.resize(FileBufferLength);

    OPENFILENAMEW record{};
    record.lStructSize = sizeof record;
    record.hwndOwner = owner;
    record.lpstrFilter = wideFilter.c_str();
    record.nFilterIndex = 1;
    record.lpstrFile = file.data();
    record.nMaxFile = FileBufferLength;
    record.lpstrTitle = wideTitle.empty() ? nullptr : wideTitle.c_str();
    record.Flags = flags;
    const BOOL chosen = save ? GetSaveFileNameW(&record) : GetOpenFileNameW(&record);
    return chosen ? std::filesystem::path(file.c_str()) : std::filesystem::path();
}

}  // namespace

std::filesystem::path ShowOpenDialog(const std::string& filter, std::uint32_t flags, HWND owner,
                                     const std::string& title) {
    return RunDialog(false, filter, flags, owner, {}, title);
}

std::filesystem::path ShowSaveDialog(const std::string& filter, HWND owner,
                                     const std::filesystem::path& defaultName,
                                     const std::string& title) {
    constexpr DWORD flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    std::filesystem::path chosen = RunDialog(true, filter, flags, owner, defaultName, title);
    // A dialog the system could not show (a name it refuses) gives "" as a
    // Cancel does; only the user's Cancel may drop the key buffer, so it is
    // shown again with the name alone.
    if (chosen.empty() && CommDlgExtendedError() != 0 && defaultName.has_parent_path()) {
        chosen = RunDialog(true, filter, flags, owner, defaultName.filename(), title);
    }
    return chosen;
}

}  // namespace vantri::win32
