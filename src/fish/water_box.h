#pragma once
#include <QPixmap>
#include <QWidget>

namespace kingyo {

// Picture1(9): the small water box the fish swims in. Its water picture is drawn from
// the top-left corner at its own size and cut off by the box; the rest shows the box's
// light-cyan back colour. Children are clipped by the box.
class WaterBox : public QWidget {
    Q_OBJECT
public:
    explicit WaterBox(QWidget *parent);

    static QColor backColour() { return QColor(192, 255, 255); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap water_;
};

} // namespace kingyo
