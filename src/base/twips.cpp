#include "base/twips.h"

#include "base/rounding.h"

#include <QGuiApplication>
#include <QScreen>

namespace kingyo {

TwipsScale TwipsScale::of(const QScreen *screen)
{
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    TwipsScale scale;
    if (screen && screen->logicalDotsPerInchX() > 0 && screen->logicalDotsPerInchY() > 0) {
        scale.perPixelX = 1440.0 / screen->logicalDotsPerInchX();
        scale.perPixelY = 1440.0 / screen->logicalDotsPerInchY();
    }
    return scale;
}

int TwipsScale::toPixelsX(double twips) const { return toInt32(twips / perPixelX); }

int TwipsScale::toPixelsY(double twips) const { return toInt32(twips / perPixelY); }

QRect TwipsScale::toPixels(const TwipsRect &rect) const
{
    return QRect(toPixelsX(rect.left), toPixelsY(rect.top), toPixelsX(rect.width), toPixelsY(rect.height));
}

QSize TwipsScale::toPixels(float width, float height) const
{
    return QSize(toPixelsX(width), toPixelsY(height));
}

} // namespace kingyo
