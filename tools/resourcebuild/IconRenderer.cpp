#include "IconRenderer.h"

#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>

bool IconRenderer::render(const QString& svgPath, int size, const QString& pngPath,
                          QString* error) {
    QSvgRenderer svg(svgPath);
    if (!svg.isValid()) {
        *error = QStringLiteral("%1: not a valid SVG image").arg(svgPath);
        return false;
    }
    if (size < 1 || size > 4096) {
        *error = QStringLiteral("icon size %1 is out of range").arg(size);
        return false;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        svg.render(&painter, QRectF(0, 0, size, size));
    }
    QSaveFile file(pngPath);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        *error = QStringLiteral("%1: cannot write: %2").arg(pngPath, file.errorString());
        return false;
    }
    return true;
}
