#pragma once
#include <QApplication>
#include <QMessageBox>

namespace kingyo::test {

// The message box on screen, modal or not; null when none is.
inline QMessageBox *shownMessageBox()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible())
            return box;
    }
    return nullptr;
}

} // namespace kingyo::test
