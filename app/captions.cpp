#include "app/captions.h"

#include "image/hexfileHandle.h"

namespace vantri {

QString RightMost(const QString& text, int count) {
    return count >= text.size() ? text : text.right(count);
}

std::optional<QString> ReadProgressCaption(int k) {
    if (k <= 409 || k % 410 != 0) {
        return std::nullopt;
    }
    return RightMost(QStringLiteral("   ") + QString::number(k * 100 / KeyBufferSize) +
                         QStringLiteral(" % Done ...."),
                     15);
}

QString WriteProgressCaption(int p) {
    return RightMost(QStringLiteral("   ") + QString::number((p + 16) * 100 / KeyBufferSize) +
                         QStringLiteral(" % Done"),
                     10);
}

QString WithBinExtension(const QString& name) {
    if (name.size() >= 4 && name.at(name.size() - 4) == QLatin1Char('.')) {
        return name;
    }
    return name + QStringLiteral(".Bin");
}

}  // namespace vantri
