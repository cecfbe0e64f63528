#include "fish/water_box.h"

#include <QPaintEvent>
#include <QPainter>

namespace kingyo {

WaterBox::WaterBox(QWidget *parent) : QWidget(parent), water_(QStringLiteral(":/assets/water.png"))
{
    setObjectName(QStringLiteral("Picture1(9)"));
    // The box paints every pixel itself, so nothing behind it needs repainting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void WaterBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), backColour());
    painter.drawPixmap(0, 0, water_);
}

} // namespace kingyo
