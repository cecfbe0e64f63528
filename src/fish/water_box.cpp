#include "fish/water_box.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

namespace kingyo {

WaterBox::WaterBox(QWidget *parent) : QWidget(parent), water_(QStringLiteral(":/assets/water.png"))
{
    setObjectName(QStringLiteral("Picture1(9)"));
    // The box paints every pixel itself, so nothing behind it needs repainting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void WaterBox::paintEvent(QPaintEvent *event)
{
    // Only the part the water picture leaves bare gets the back colour.
    QPainter painter(this);
    for (const QRect &bare : QRegion(event->rect()) - water_.rect())
        painter.fillRect(bare, backColour());
    const QRect wet = event->rect() & water_.rect();
    painter.drawPixmap(wet.topLeft(), water_, wet);
}

} // namespace kingyo
