// Draws the window icon, a yellow key on the window's black, into
// <folder>/vantri-16.png, -32.png and -48.png.  Run at build time, so the
// picture lives in the repository as code.  Shapes only: no fonts, so no
// windowing system is needed.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>

namespace {

QImage DrawIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 48-unit grid; smaller sizes get thicker strokes, so the
    // key still reads at 16 pixels.
    painter.scale(size / 48.0, size / 48.0);
    const double bold = size < 32 ? 1.6 : 1.0;

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0));
    painter.drawRoundedRect(QRectF(0, 0, 48, 48), 8, 8);

    const QColor yellow(255, 255, 0);
    const QColor pale(255, 255, 192);
    // The bow: a ring with a pale stone.
    painter.setPen(QPen(yellow, 5.0 * bold));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(15, 24), 9, 9);
    painter.setPen(Qt::NoPen);
    painter.setBrush(pale);
    painter.drawEllipse(QPointF(15, 24), 3.0 * bold, 3.0 * bold);
    // The shaft and its two teeth.
    painter.setBrush(yellow);
    const double half = 2.5 * bold;
    painter.drawRect(QRectF(22, 24 - half, 23, 2 * half));
    painter.drawRect(QRectF(33, 24, 4.5 * bold, 9));
    painter.drawRect(QRectF(45 - 4.5 * bold, 24, 4.5 * bold, 11));
    painter.end();
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_icon FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "draw_icon: cannot create %s\n", argv[1]);
        return 1;
    }
    for (const int size : {16, 32, 48}) {
        const QString name = QStringLiteral("%1/vantri-%2.png").arg(folder).arg(size);
        if (!DrawIcon(size).save(name, "PNG")) {
            std::fprintf(stderr, "draw_icon: cannot write %s\n", qPrintable(name));
            return 1;
        }
    }
    return 0;
}
