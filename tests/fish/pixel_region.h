#pragma once
#include "fish/region_cache.h"

#include <QImage>
#include <QRegion>

namespace kingyo::testing {

// The shape built the slow way, one pixel at a time, column by column: the baseline
// the run-based region cache must match (and beat).
inline QRegion pixelByPixelRegion(const QImage &frame)
{
    const QImage image = frame.convertToFormat(QImage::Format_RGB32);
    const QRgb key = image.isNull() ? 0 : image.pixel(0, 0) & 0x00ffffffu;
    QRegion shape;
    for (int x = 0; x < kShapeSamples; ++x) {
        for (int y = 0; y < kShapeSamples; ++y) {
            const bool inPicture = x < image.width() && y < image.height();
            if (!inPicture || (image.pixel(x, y) & 0x00ffffffu) != key)
                shape |= QRect(x, y, 1, 1);
        }
    }
    return shape;
}

} // namespace kingyo::testing
