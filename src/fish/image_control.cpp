#include "fish/image_control.h"

#include <QPainter>

namespace kingyo {

ImageControl::ImageControl(QWidget *parent, const QString &name, const QPixmap &picture) : QWidget(parent)
{
    setObjectName(name);
    setPicture(picture);
}

void ImageControl::setPicture(const QPixmap &picture)
{
    if (picture.cacheKey() == picture_.cacheKey() && !picture_.isNull()) return;
    picture_ = picture;
    // A fixed size also spares the parent a layout request at every change of picture.
    setFixedSize(picture.deviceIndependentSize().toSize());
    update();
}

void ImageControl::paintEvent(QPaintEvent *)
{
    QPainter(this).drawPixmap(0, 0, picture_);
}

} // namespace kingyo
