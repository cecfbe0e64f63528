#include "panel/not_stored_box.h"

#include <QMessageBox>

namespace kingyo {

QMessageBox *showNotStoredBox(QWidget *parent, const QString &failure)
{
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("kingyo"),
                                QStringLiteral("設定を保存できませんでした。kingyo を終了するまでは、この設定で動きます。"),
                                QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("NotStoredBox"));
    box->setInformativeText(failure);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    return box;
}

} // namespace kingyo
