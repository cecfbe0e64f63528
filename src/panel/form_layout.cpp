#include "panel/form_layout.h"

#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QScreen>

namespace kingyo::form {

QColor fromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

QFont layoutFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("IPAPGothic")});
    font.setPointSize(9);
    return font;
}

QIcon programIcon() { return QIcon(QStringLiteral(":/assets/icon/kingyo.png")); }

void setUpTitleBar(QWidget *window, const char *objectName, const QString &caption, Qt::WindowFlags extraFlags)
{
    window->setObjectName(QString::fromUtf8(objectName));
    window->setWindowTitle(caption);
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                           | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | extraFlags);
    window->setWindowIcon(programIcon());
}

void setUpWindow(QWidget *window, const char *objectName, const QString &caption, const TwipsScale &scale,
                 float widthTwips, float heightTwips, Qt::WindowFlags extraFlags)
{
    setUpTitleBar(window, objectName, caption, extraFlags);
    window->setFont(layoutFont());
    window->setFixedSize(scale.toPixels(widthTwips, heightTwips));
}

void centreOnScreen(QWidget *window)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame(QPoint(), window->size());
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

void setTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget->setPalette(palette);
}

} // namespace kingyo::form
