// The look of the window: its font, the colours of its controls and its
// icon.  Pure helpers, so the window's constructor reads as its layout.
#pragma once

#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QString>
#include <utility>
#include <vector>

namespace vantri {

// "MS Sans Serif" 8.25 pt where it is installed, else the closest small sans
// face of this machine at the same size.
QFont WindowFont();

// `font`, made smaller in quarter points (down to 6.5 pt) until every text
// fits in its width in pixels: the labels must end before their combo box.
QFont FittedFont(QFont font, const std::vector<std::pair<QString, int>>& textsAndWidths);

// `palette` with every colour set explicitly, so that a child given it keeps
// the system's colours instead of inheriting the window's black.
QPalette ExplicitPalette(const QPalette& palette);

// The window icon, our own drawing at 16, 32 and 48 pixels.
QIcon WindowIcon();

}  // namespace vantri
