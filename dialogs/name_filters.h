// Conversion of a classic file-dialog filter list into Qt name filters.
// Private to Module1; separate so it can be tested without a dialog.
#pragma once

#include <QString>
#include <QStringList>

namespace vantri::detail {

// "Bin Files(*.bin )", 0, "*.bin", 0, 0  ->  {"Bin Files(*.bin )"}
// A display text that already ends in its own patterns in parentheses is
// kept as written; any other gets " (patterns)" added, since Qt's dialog
// takes the patterns from there.  Patterns separated by ";" are separated
// by blanks, and "*.*" means every file.  The list ends at the first empty
// display text or at a display text without its pattern.
QStringList NameFiltersFromList(const QString& filter);

// The patterns that Qt's dialog reads from a name filter: the blank-
// separated words in the parentheses at its end, or the whole text.
QStringList PatternsOfNameFilter(const QString& nameFilter);

}  // namespace vantri::detail
