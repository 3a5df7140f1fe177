// Module1: the window's file dialogs.
//
// ShowOpenDialog lets the user pick a file, ShowSaveDialog a name to save
// under.  Each is modal to `owner`, blocks until it closes, and returns the
// full path chosen, or "" when the user cancels.  Neither shows anything
// else of its own.
//
// The filter comes in the classic list form: pairs of display text and
// pattern, each ended by a character 0, the list ended by one more
// ("Bin File (*.bin)", 0, "*.bin", 0, 0).  Patterns match names in any case,
// so "*.bin" also offers "Ram.Bin".
//
// Open: with OfnFileMustExist only existing files are accepted.
// Save: new and existing names are accepted, an existing file without an
// overwrite question, and the name comes back exactly as typed, with no
// extension added.  Paths of any length work.
#pragma once

#include <QString>
#include <cstdint>

class QWidget;

namespace vantri {

// Flag bits of ShowOpenDialog, with their classic values (6148 = all three).
inline constexpr std::uint32_t OfnHideReadOnly = 0x4;  // there is no read-only box to hide
inline constexpr std::uint32_t OfnPathMustExist = 0x800;
inline constexpr std::uint32_t OfnFileMustExist = 0x1000;

QString ShowOpenDialog(const QString& filter, std::uint32_t flags, QWidget* owner,
                       const QString& title);

// `defaultName` is proposed in the name box; when it holds a folder that
// exists, the dialog starts in that folder.
QString ShowSaveDialog(const QString& filter, QWidget* owner, const QString& defaultName,
                       const QString& title);

}  // namespace vantri
