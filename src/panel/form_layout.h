#pragma once
#include "base/twips.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>
#include <QWidget>

namespace kingyo::form {

// A colour written as &H00BBGGRR&.
QColor fromBgr(quint32 bgr);

// Blue, &H00FF0000&: the labels' text and the settings window's line.
inline QColor blue() { return fromBgr(0x00FF0000); }

// The face the layouts were drawn for: 9 points, proportional Japanese, whose texts fit
// their labels; where it is missing the system's usual face stands in.
QFont layoutFont();

// The program's fish icon.
QIcon programIcon();

// A window with title bar, close and minimize buttons (no maximize) and the fish icon;
// extraFlags adds others, such as staying on top.
void setUpTitleBar(QWidget *window, const char *objectName, const QString &caption, Qt::WindowFlags extraFlags = {});

// A fixed-size window as setUpTitleBar makes it, with the layout font and a client area
// given in twips.
void setUpWindow(QWidget *window, const char *objectName, const QString &caption, const TwipsScale &scale,
                 float widthTwips, float heightTwips, Qt::WindowFlags extraFlags = {});

void centreOnScreen(QWidget *window);

void setTextColour(QWidget *widget, const QColor &colour);

// A child control with its layout name and its position in twips.
template <class Control>
Control *place(QWidget *parent, const char *objectName, const TwipsRect &rect, const TwipsScale &scale)
{
    auto *control = new Control(parent);
    control->setObjectName(QString::fromUtf8(objectName));
    control->setGeometry(scale.toPixels(rect));
    return control;
}

} // namespace kingyo::form
