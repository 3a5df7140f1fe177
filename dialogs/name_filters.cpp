#include "dialogs/name_filters.h"

#include <QRegularExpression>

namespace vantri::detail {

QStringList PatternsOfNameFilter(const QString& nameFilter) {
    // The same rule as Qt's dialog, so that what we keep as written is
    // read back the same way.
    static const QRegularExpression trailingPatterns(
        QStringLiteral("^(.*)\\(([a-zA-Z0-9_.,*? +;#\\-\\[\\]@\\{\\}/!<>\\$%&=^~:\\|]*)\\)$"));
    const QRegularExpressionMatch match = trailingPatterns.match(nameFilter);
    const QString patterns = match.hasMatch() ? match.captured(2) : nameFilter;
    return patterns.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QStringList NameFiltersFromList(const QString& filter) {
    const QStringList fields = filter.split(QChar(0));
    QStringList nameFilters;
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        const QString& text = fields[i];
        QStringList patterns;
        for (QString pattern :
             fields[i + 1].split(QRegularExpression(QStringLiteral("[; ]")), Qt::SkipEmptyParts)) {
            // "*.*" is every file in a Windows filter, names without a dot
            // too; Qt would ask for a dot.
            if (pattern == QLatin1String("*.*")) {
                pattern = QStringLiteral("*");
            }
            if (!patterns.contains(pattern)) {
                patterns << pattern;
            }
        }
        if (text.isEmpty() || patterns.isEmpty()) {
            break;
        }
        // A text that ends in its own patterns is kept as written.
        nameFilters << (PatternsOfNameFilter(text) == patterns
                            ? text
                            : text + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + ')');
    }
    return nameFilters;
}

}  // namespace vantri::detail
