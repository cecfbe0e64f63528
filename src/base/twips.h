#pragma once
#include <QRect>
#include <QSize>

class QScreen;

namespace kingyo {

// A position or size in twips (1/1440 inch), as window layouts are designed.
struct TwipsRect {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
};

// The screen's twips per pixel: 1440 / its logical DPI (15 at 96 DPI).
struct TwipsScale {
    double perPixelX = 15.0;
    double perPixelY = 15.0;

    static TwipsScale of(const QScreen *screen); // the primary screen when null

    int toPixelsX(double twips) const;
    int toPixelsY(double twips) const;
    QRect toPixels(const TwipsRect &rect) const;
    QSize toPixels(float width, float height) const;
};

} // namespace kingyo
