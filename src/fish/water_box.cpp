#include "fish/water_box.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

namespace kingyo {

BoxPicture::BoxPicture(WaterBox *box, const QString &name, const QPixmap &picture)
    : QObject(box), box_(*box), picture_(picture)
{
    setObjectName(name);
}

void BoxPicture::setPicture(const QPixmap &picture, QPoint at)
{
    if (at == pos_ && picture.cacheKey() == picture_.cacheKey()) return;
    const QRect before = shownRect();
    picture_ = picture;
    pos_ = at;
    repaintFrom(before);
}

void BoxPicture::setVisible(bool visible)
{
    if (visible == visible_) return;
    const QRect before = shownRect();
    visible_ = visible;
    repaintFrom(before);
}

// One rectangle for a step that overlaps where the picture was, as a fish's step does:
// one repaint and one upload instead of the pieces of two.
void BoxPicture::repaintFrom(const QRect &before)
{
    const QRect after = shownRect();
    if (before.intersects(after)) {
        box_.update(before | after);
    } else {
        box_.update(before);
        box_.update(after);
    }
}

WaterBox::WaterBox(QWidget *parent) : QWidget(parent), water_(QStringLiteral(":/assets/water.png"))
{
    setObjectName(QStringLiteral("Picture1(9)"));
    // The box paints every pixel itself, so nothing behind it needs repainting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

const BoxPicture *WaterBox::pictureAt(QPoint at) const
{
    const BoxPicture *front = nullptr;
    for (const QObject *child : children()) {
        const auto *picture = qobject_cast<const BoxPicture *>(child);
        if (picture && picture->isVisible() && picture->geometry().contains(at)) front = picture;
    }
    return front;
}

void WaterBox::paintEvent(QPaintEvent *event)
{
    // Only the part the water picture leaves bare gets the back colour.
    QPainter painter(this);
    const QRect dirty = event->rect();
    for (const QRect &bare : QRegion(dirty) - water_.rect())
        painter.fillRect(bare, backColour());
    const QRect wet = dirty & water_.rect();
    painter.drawPixmap(wet.topLeft(), water_, wet);
    for (const QObject *child : children()) {
        const auto *picture = qobject_cast<const BoxPicture *>(child);
        if (picture && picture->isVisible() && picture->geometry().intersects(dirty))
            painter.drawPixmap(picture->pos(), picture->picture());
    }
}

} // namespace kingyo
