// The peer for kingyo's idle cost: a bare Qt program with the bowl's five timers doing
// the least they can (switch between two masks, move a label, sample the clock), in a
// frameless, topmost 100 x 100 window.
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QRegion>
#include <QTime>
#include <QTimer>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window.setFixedSize(100, 100);
    window.setStyleSheet("background: #80c0ff");
    QLabel fish("><>", &window);
    QLabel bubble("o", &window);
    const QRegion shapes[2] = {QRegion(0, 0, 100, 100, QRegion::Ellipse), QRegion(2, 2, 96, 96, QRegion::Ellipse)};
    int shape = 0;
    int second = 0;
    int step = 0;

    QTimer outline, swim, clock, release, rise;
    QObject::connect(&outline, &QTimer::timeout, [&] { window.setMask(shapes[shape ^= 1]); });
    QObject::connect(&swim, &QTimer::timeout, [&] { fish.move(20 + (++step % 10) * 5, 50); });
    QObject::connect(&clock, &QTimer::timeout, [&] { second = QTime::currentTime().second(); });
    QObject::connect(&release, &QTimer::timeout, [&] {
        if (second % 10 == 3) bubble.move(fish.x(), fish.y());
    });
    QObject::connect(&rise, &QTimer::timeout, [&] { bubble.move(bubble.x(), bubble.y() - 5); });
    outline.start(1000);
    swim.start(400);
    clock.start(3000);
    release.start(3000);
    rise.start(150);

    window.show();
    return app.exec();
}
