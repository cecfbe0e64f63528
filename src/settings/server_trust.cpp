#include "settings/server_trust.h"

#include "settings/settings_storage.h"

#include <QFile>
#include <QList>
#include <QStringList>
#include <algorithm>
#include <optional>

namespace kingyo {
namespace {

constexpr char kHeader[] = "kingyo-server-trust 1";
constexpr qsizetype kSha256HexLength = 64;

bool isFingerprint(QByteArrayView text)
{
    if (text.size() != kSha256HexLength)
        return false;
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// One line a server: key TAB fingerprint-or-"-" TAB "stls" or "-". Any line out of
// shape makes the whole file count as broken.
std::optional<std::map<QString, ServerTrust::Entry>> parse(const QByteArray &bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (lines.isEmpty() || lines.takeFirst() != kHeader)
        return std::nullopt;
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    std::map<QString, ServerTrust::Entry> entries;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 3 || fields[0].isEmpty())
            return std::nullopt;
        ServerTrust::Entry entry;
        if (fields[1] != "-") {
            if (!isFingerprint(fields[1]))
                return std::nullopt;
            entry.fingerprint = fields[1];
        }
        if (fields[2] != "stls" && fields[2] != "-")
            return std::nullopt;
        entry.offeredStls = fields[2] == "stls";
        entries[QString::fromUtf8(fields[0])] = entry;
    }
    return entries;
}

QByteArray format(const std::map<QString, ServerTrust::Entry> &entries)
{
    QByteArray text = QByteArray(kHeader) + '\n';
    for (const auto &[key, entry] : entries) {
        text += key.toUtf8() + '\t' + (entry.fingerprint.isEmpty() ? QByteArray("-") : entry.fingerprint) + '\t' +
                (entry.offeredStls ? "stls" : "-") + '\n';
    }
    return text;
}

} // namespace

ServerTrust::ServerTrust(QString path) : path_(std::move(path))
{
    if (path_.isEmpty())
        return;
    const std::optional<QByteArray> bytes = readSettingsFile(path_);
    if (!bytes) {
        mayWrite_ = !QFile::exists(path_); // unreadable: leave it as it is
        return;
    }
    if (auto entries = parse(*bytes))
        entries_ = std::move(*entries);
}

QString ServerTrust::keyFor(const QString &host, quint16 port)
{
    const QString name = host.toLower();
    return (name.contains(u':') ? u'[' + name + u']' : name) + u':' + QString::number(port);
}

ServerTrust::Entry ServerTrust::entry(const QString &key) const
{
    QMutexLocker lock(&mutex_);
    const auto found = entries_.find(key);
    return found == entries_.end() ? Entry{} : found->second;
}

bool ServerTrust::pinCertificate(const QString &key, const QByteArray &fingerprint)
{
    if (!isFingerprint(fingerprint) || key.contains(u'\t') || key.contains(u'\n'))
        return false;
    QMutexLocker lock(&mutex_);
    entries_[key].fingerprint = fingerprint;
    return save();
}

bool ServerTrust::rememberStls(const QString &key)
{
    if (key.contains(u'\t') || key.contains(u'\n'))
        return false;
    QMutexLocker lock(&mutex_);
    Entry &entry = entries_[key];
    if (entry.offeredStls)
        return true;
    entry.offeredStls = true;
    return save();
}

bool ServerTrust::save()
{
    return !path_.isEmpty() && mayWrite_ && replaceSettingsFile(path_, format(entries_), NewFileAccess::OwnerOnly);
}

QString colonHex(const QByteArray &hexFingerprint)
{
    QStringList pairs;
    for (qsizetype i = 0; i + 1 < hexFingerprint.size(); i += 2)
        pairs << QString::fromLatin1(hexFingerprint.mid(i, 2)).toUpper();
    return pairs.join(u':');
}

} // namespace kingyo
