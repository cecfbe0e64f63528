#pragma once
#include <QObject>
#include <QPixmap>
#include <QWidget>

namespace kingyo {

class WaterBox;

// A picture the water box draws over its water at a place of its own: the small fish
// Image1, its bubble Image4 and the letter Image7. It is an object of the box, not a
// widget, so that a move repaints only the rectangle it left and entered, in the box's
// own paint. Pictures made later lie in front.
class BoxPicture : public QObject {
    Q_OBJECT
public:
    // Starts hidden, at the box's top-left corner.
    BoxPicture(WaterBox *box, const QString &name, const QPixmap &picture = {});

    void setPicture(const QPixmap &picture, QPoint at);
    void move(QPoint at) { setPicture(picture_, at); }
    void setVisible(bool visible);

    const QPixmap &picture() const { return picture_; }
    QPoint pos() const { return pos_; }
    QSize size() const { return picture_.deviceIndependentSize().toSize(); }
    QRect geometry() const { return {pos_, size()}; }
    bool isVisible() const { return visible_; }

private:
    QRect shownRect() const { return visible_ ? geometry() : QRect(); }
    void repaintFrom(const QRect &before);

    WaterBox &box_;
    QPixmap picture_;
    QPoint pos_;
    bool visible_ = false;
};

// Picture1(9): the small water box the fish swims in. Its water picture is drawn from
// the top-left corner at its own size and cut off by the box; the rest shows the box's
// light-cyan back colour. Its pictures are drawn over the water and cut off likewise.
class WaterBox : public QWidget {
    Q_OBJECT
public:
    explicit WaterBox(QWidget *parent);

    static QColor backColour() { return QColor(192, 255, 255); }

    // The frontmost picture on show at a point of the box, if any.
    const BoxPicture *pictureAt(QPoint at) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap water_;
};

} // namespace kingyo
