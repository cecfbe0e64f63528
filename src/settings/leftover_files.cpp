#include "settings/leftover_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <unistd.h>

namespace kingyo {
namespace {

// QSaveFile names its temporary after the file with "." and six random letters.
bool isOurTemporary(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(?:vbmail\\.ini|ini\\.ini|iniIdPass\\.ini|servers\\.txt|oauth-refresh-token|seen-[0-9a-f]{32}\\.uid(?:l|next))"
        "\\.[A-Za-z]{6}$"));
    return pattern.match(name).hasMatch();
}

} // namespace

QStringList removeLeftoverTemporaries(const QString &folder, const QDateTime &now, std::chrono::seconds minimumAge)
{
    const QDateTime changedBefore = now.addSecs(-minimumAge.count());
    QStringList removed;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (!isOurTemporary(entry.fileName()) || entry.isSymLink() || !entry.isFile()
            || entry.ownerId() != ::geteuid() || entry.lastModified() > changedBefore)
            continue;
        if (QFile::remove(entry.filePath()))
            removed << entry.fileName();
    }
    return removed;
}

} // namespace kingyo
