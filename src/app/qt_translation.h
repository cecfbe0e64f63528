#pragma once
#include <QLibraryInfo>
#include <QString>

class QCoreApplication;
class QTranslator;

namespace kingyo {

// Qt's own texts (the standard buttons of message boxes, an edit field's menu) in
// Japanese like the rest of the window texts, whatever the user's locale. The translator
// belongs to app; null when the folder holds no Japanese translation of Qt, which is
// then said on stderr and the texts stay in English.
QTranslator *translateQtIntoJapanese(QCoreApplication &app,
                                     const QString &folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath));

} // namespace kingyo
