// The peer for kingyo's start-up time: a bare Qt program that shows one frameless,
// topmost 100 x 100 window and nothing else.
#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window.setFixedSize(100, 100);
    window.show();
    return app.exec();
}
