#include "app/qt_translation.h"

#include <QCoreApplication>
#include <QTranslator>

#include <cstdio>

namespace kingyo {

QTranslator *translateQtIntoJapanese(QCoreApplication &app, const QString &folder)
{
    auto *translator = new QTranslator(&app);
    const QString name = QStringLiteral("qtbase_ja");
    if (translator->load(name, folder) && QCoreApplication::installTranslator(translator))
        return translator;
    delete translator;
    std::fprintf(stderr, "kingyo: no %s.qm in %s; standard buttons show in English\n", qPrintable(name),
                 qPrintable(folder));
    return nullptr;
}

} // namespace kingyo
