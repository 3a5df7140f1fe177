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
// Save: new and existing names are accepted, an existing file only once the
// user has said yes to replacing it, and only in a folder that exists: a
// name in a missing folder is refused in the dialog with a box.  The name
// comes back exactly as typed, with no extension added.  Paths of any length
// work.
#pragma once

#include <QString>
#include <cstdint>

#include "form/form_view.h"  // the flag bits, OfnHideReadOnly and the rest

class QWidget;

namespace vantri {

// `flags` are the classic bits of form_view.h; OfnHideReadOnly asks for
// nothing here, as Qt's dialog has no read-only box to hide.
QString ShowOpenDialog(const QString& filter, std::uint32_t flags, QWidget* owner,
                       const QString& title);

// `defaultName` is proposed in the name box; when it holds a folder that
// exists, the dialog starts in that folder.
QString ShowSaveDialog(const QString& filter, QWidget* owner, const QString& defaultName,
                       const QString& title);

}  // namespace vantri
