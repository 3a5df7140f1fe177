#include "app/window_look.h"

#include <QFontDatabase>
#include <QFontMetrics>

#include "form/window_look.h"

// Resources of a static library are registered by hand; outside any
// namespace, as the macro requires.
static void InitWindowResources() {
    Q_INIT_RESOURCE(resources);
}

namespace vantri {

QFont WindowFont() {
    // The original face first, then faces with its proportions (narrow
    // enough for the labels), then whatever sans face the system has.
    static const char* const preferred[] = {
        FontFace,    "Microsoft Sans Serif", "Liberation Sans",       "Arimo", "Arial",
        "Helvetica", "Nimbus Sans",          "DejaVu Sans Condensed",
    };
    const QStringList installed = QFontDatabase::families();
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    font.setFamily(QStringLiteral("Sans Serif"));
    for (const char* family : preferred) {
        if (installed.contains(QLatin1String(family), Qt::CaseInsensitive)) {
            font.setFamily(QLatin1String(family));
            break;
        }
    }
    font.setPointSizeF(FontHundredthsOfPoint / 100.0);
    font.setWeight(QFont::Normal);
    return font;
}

QFont FittedFont(QFont font, const std::vector<std::pair<QString, int>>& textsAndWidths) {
    const auto fits = [&textsAndWidths](const QFont& candidate) {
        const QFontMetrics metrics(candidate);
        for (const auto& [text, width] : textsAndWidths) {
            if (metrics.horizontalAdvance(text) > width) {
                return false;
            }
        }
        return true;
    };
    while (!fits(font) && font.pointSizeF() > 6.5) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
    }
    return font;
}

QPalette ExplicitPalette(const QPalette& palette) {
    QPalette explicitPalette = palette;
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto g = static_cast<QPalette::ColorGroup>(group);
            const auto r = static_cast<QPalette::ColorRole>(role);
            explicitPalette.setBrush(g, r, palette.brush(g, r));
        }
    }
    return explicitPalette;
}

QIcon WindowIcon() {
    InitWindowResources();
    QIcon icon;
    for (const int size : {16, 32, 48}) {
        icon.addFile(QStringLiteral(":/icons/vantri-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace vantri
