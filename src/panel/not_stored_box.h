#pragma once
#include <QString>

class QMessageBox;
class QWidget;

namespace kingyo {

// Tells the user that settings were not stored: failure names the file and says why
// (see WriteResult), and what the user typed stays in effect until kingyo ends. Shown
// over parent (on its own when none), without blocking anything; it deletes itself
// when closed.
QMessageBox *showNotStoredBox(QWidget *parent, const QString &failure);

} // namespace kingyo
