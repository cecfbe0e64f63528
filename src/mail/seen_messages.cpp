#include "mail/seen_messages.h"

#include "settings/settings_storage.h"

#include <QCryptographicHash>
#include <QList>
#include <algorithm>

namespace kingyo {
namespace {

// A file of the account's in folder, named by a hash: a server field or user ID may
// hold anything, a file name may not.
QString accountFile(const QString &folder, const QString &server, const QString &user, const QString &extension)
{
    const QByteArray key = server.trimmed().toUtf8() + '\n' + user.toUtf8();
    const QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32);
    return folder + QStringLiteral("/seen-") + QString::fromLatin1(digest) + extension;
}

constexpr qint64 kMarkFileLimit = 256;

} // namespace

SeenMessageStore::SeenMessageStore(const QString &folder, const QString &server, const QString &user)
    : path_(accountFile(folder, server, user, QStringLiteral(".uidl")))
{
}

std::set<std::string> SeenMessageStore::load() const
{
    std::set<std::string> ids;
    const std::optional<QByteArray> contents = readSettingsFile(path_, kFileLimit);
    if (!contents)
        return ids;
    // Line by line in place: a list of every line would cost far more than the file.
    const QByteArrayView all(*contents);
    for (qsizetype start = 0, end = 0; start < all.size(); start = end + 1) {
        end = all.indexOf('\n', start);
        if (end < 0)
            end = all.size();
        const QByteArrayView id = all.sliced(start, end - start).trimmed();
        if (!id.isEmpty())
            ids.emplace(id.data(), std::size_t(id.size()));
        if (ids.size() > kMaxIds)
            return {}; // as a file too big to be read
    }
    return ids;
}

bool SeenMessageStore::save(const std::vector<std::string> &ids) const
{
    if (ids.size() > kMaxIds)
        return false; // it could not be read back
    QByteArray contents;
    for (const std::string &id : ids)
        contents += QByteArray::fromStdString(id) + '\n';
    if (contents.size() > kFileLimit)
        return false; // it could not be read back
    return replaceSettingsFile(path_, contents, NewFileAccess::OwnerOnly);
}

UnreadMarkStore::UnreadMarkStore(const QString &folder, const QString &server, const QString &user)
    : path_(accountFile(folder, server, user, QStringLiteral(".uidnext")))
{
}

std::optional<UnreadMark> UnreadMarkStore::load() const
{
    const std::optional<QByteArray> contents = readSettingsFile(path_, kMarkFileLimit);
    if (!contents)
        return std::nullopt;
    const QList<QByteArray> words = contents->simplified().split(' ');
    if (words.size() != 2)
        return std::nullopt;
    bool validityRead = false, nextRead = false;
    const UnreadMark mark{words[0].toLongLong(&validityRead), words[1].toLongLong(&nextRead)};
    if (!validityRead || !nextRead || mark.uidValidity < 0 || mark.uidNext < 0)
        return std::nullopt;
    return mark;
}

bool UnreadMarkStore::save(const UnreadMark &mark) const
{
    const QByteArray contents = QByteArray::number(mark.uidValidity) + ' ' + QByteArray::number(mark.uidNext) + '\n';
    return replaceSettingsFile(path_, contents, NewFileAccess::OwnerOnly);
}

int countNewMessages(const std::set<std::string> &seen, const std::vector<std::string> &onServer)
{
    return static_cast<int>(
        std::count_if(onServer.begin(), onServer.end(), [&seen](const std::string &id) { return !seen.contains(id); }));
}

} // namespace kingyo
