#pragma once
#include <QPixmap>
#include <QWidget>

namespace kingyo {

// An image control on the bowl picture (the food and the feeding fish behind the box):
// one picture drawn unstretched at its own size, the control taking that size. It
// draws nothing else, and presses on it go on to the control beneath unless the
// bowl filters them.
class ImageControl : public QWidget {
    Q_OBJECT
public:
    ImageControl(QWidget *parent, const QString &name, const QPixmap &picture = {});

    // Shows the picture; the same picture again changes nothing.
    void setPicture(const QPixmap &picture);
    const QPixmap &picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap picture_;
};

} // namespace kingyo
