#include "settings/server_trust.h"

#include "settings/settings_storage.h"

#include <QList>
#include <QStringList>
#include <QStringDecoder>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>

namespace kingyo {
namespace {

constexpr char kHeader[] = "kingyo-server-trust 1";
constexpr char kHeaderName[] = "kingyo-server-trust ";
constexpr qsizetype kSha256HexLength = 64;
constexpr std::size_t kSkippedLinesSaid = 5;
constexpr qsizetype kExcerptLength = 40;

bool isFingerprint(QByteArrayView text)
{
    if (text.size() != kSha256HexLength)
        return false;
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool isKeptAsIs(QByteArrayView text)
{
    const QByteArrayView trimmed = text.trimmed();
    return trimmed.isEmpty() || trimmed.startsWith('#');
}

// A server's line: key TAB fingerprint-or-"-" TAB "stls" or "-".
std::optional<std::pair<QString, ServerTrustEntry>> parseEntry(QByteArrayView text)
{
    if (isKeptAsIs(text))
        return std::nullopt;
    const QList<QByteArray> fields = text.toByteArray().split('\t');
    if (fields.size() != 3 || fields[0].isEmpty() || (fields[2] != "stls" && fields[2] != "-"))
        return std::nullopt;
    ServerTrustEntry entry;
    if (fields[1] != "-") {
        if (!isFingerprint(fields[1]))
            return std::nullopt;
        entry.fingerprint = fields[1];
    }
    entry.offeredStls = fields[2] == "stls";
    // A byte-order mark at the start is part of the key, so it is written back as read.
    QStringDecoder utf8(QStringConverter::Utf8,
                        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    const QString key = utf8(fields[0]);
    if (utf8.hasError())
        return std::nullopt; // it would not be written back as it stands
    return std::pair{key, entry};
}

QByteArray entryLine(const QString &key, const ServerTrustEntry &entry)
{
    return key.toUtf8() + '\t' + (entry.fingerprint.isEmpty() ? QByteArray("-") : entry.fingerprint) + '\t'
        + (entry.offeredStls ? "stls" : "-");
}

std::vector<TrustFileText::Line> splitLines(QByteArrayView bytes)
{
    std::vector<TrustFileText::Line> lines;
    for (qsizetype start = 0; start < bytes.size();) {
        const qsizetype newline = bytes.indexOf('\n', start);
        const qsizetype end = newline < 0 ? bytes.size() : newline + 1;
        qsizetype textEnd = newline < 0 ? end : newline;
        if (textEnd > start && bytes[textEnd - 1] == '\r')
            --textEnd;
        lines.push_back({bytes.sliced(start, textEnd - start).toByteArray(),
                         bytes.sliced(textEnd, end - textEnd).toByteArray(), {}});
        start = end;
    }
    return lines;
}

// Printable and short, whatever the line holds.
QString excerpt(const QByteArray &text)
{
    const QString start = QString::fromUtf8(text.left(kExcerptLength * 4));
    QString shown = start.left(kExcerptLength);
    for (QChar &c : shown)
        if (!c.isPrint())
            c = u'?';
    return start.size() > kExcerptLength || text.size() > kExcerptLength * 4 ? shown + u'…' : shown;
}

void say(const QString &line) { std::fprintf(stderr, "kingyo: %s\n", qPrintable(line)); }

} // namespace

TrustFileText TrustFileText::parse(QByteArrayView bytes)
{
    TrustFileText file;
    file.lines = splitLines(bytes);
    if (!file.lines.empty() && file.lines.front().end.endsWith('\n'))
        file.lineEnd = file.lines.front().end;
    qsizetype number = 1;
    if (!file.lines.empty()) {
        const QByteArrayView first = withoutByteOrderMark(file.lines.front().text).trimmed();
        if (first == kHeader) {
            file.lines.erase(file.lines.begin());
            ++number;
        } else if (first.startsWith(kHeaderName)) {
            return {Kind::OtherVersion, file.lineEnd, {}, {}, {}};
        } else {
            file.kind = Kind::NoHeader;
        }
    }
    for (Line &line : file.lines) {
        const auto entry = parseEntry(line.text);
        if (entry && file.entries.emplace(*entry).second)
            line.key = entry->first;
        else if (!isKeptAsIs(line.text))
            file.skipped.push_back({number, line.text}); // a second line for a server is kept too
        ++number;
    }
    if (file.kind == Kind::NoHeader && file.entries.empty() && !file.skipped.empty())
        return {Kind::Foreign, file.lineEnd, {}, {}, {}};
    return file;
}

QByteArray TrustFileText::written() const
{
    QByteArray text = QByteArray(kHeader) + lineEnd;
    std::set<QString> inFile;
    for (const Line &line : lines) {
        if (line.key.isEmpty()) {
            text += line.text;
        } else {
            text += entryLine(line.key, entries.at(line.key));
            inFile.insert(line.key);
        }
        // A last line without a line end gets one; a CR it ended with stays before it.
        if (line.end.isEmpty())
            text += lineEnd;
        else
            text += line.end.endsWith('\n') ? line.end : line.end + '\n';
    }
    for (const auto &[key, entry] : entries)
        if (!inFile.contains(key))
            text += entryLine(key, entry) + lineEnd;
    return text;
}

bool TrustFileText::isStorableKey(const QString &key)
{
    const auto read = parseEntry(entryLine(key, {}));
    return !key.contains(u'\n') && read && read->first == key;
}

ServerTrust::ServerTrust(QString path) : path_(std::move(path))
{
    if (!path_.isEmpty())
        read();
}

void ServerTrust::read()
{
    QString whyNot;
    const std::optional<QByteArray> bytes = readSettingsFile(path_, kSettingsFileLimit, &whyNot);
    if (!bytes) {
        mayWrite_ = whyNot.isEmpty(); // missing: the first fact learned makes it
        if (!mayWrite_)
            say(whyNot + QStringLiteral("; nothing in it is used, it is left as it is, and what is learned is kept "
                                        "for this run only"));
        return;
    }
    file_ = TrustFileText::parse(*bytes);
    mayWrite_ = file_.mayReplace();
    if (!mayWrite_) {
        say(QStringLiteral("%1 does not start with \"%2\"; it is not read, it is left as it is, and what is learned "
                           "is kept for this run only")
                .arg(path_, QLatin1StringView(kHeader)));
        return;
    }
    const std::size_t said = std::min(file_.skipped.size(), kSkippedLinesSaid);
    for (std::size_t i = 0; i < said; ++i)
        say(QStringLiteral("%1 line %2 skipped (not \"server TAB fingerprint-or-- TAB stls-or--\", or a server "
                           "named twice) and kept as written: \"%3\"")
                .arg(path_, QString::number(file_.skipped[i].number), excerpt(file_.skipped[i].text)));
    if (file_.skipped.size() > said)
        say(QStringLiteral("%1: %2 more lines skipped and kept")
                .arg(path_, QString::number(file_.skipped.size() - said)));
}

QString ServerTrust::keyFor(const QString &host, quint16 port)
{
    const QString name = host.toLower();
    return (name.contains(u':') ? u'[' + name + u']' : name) + u':' + QString::number(port);
}

ServerTrust::Entry ServerTrust::entry(const QString &key) const
{
    QMutexLocker lock(&mutex_);
    const auto found = file_.entries.find(key);
    return found == file_.entries.end() ? Entry{} : found->second;
}

bool ServerTrust::pinCertificate(const QString &key, const QByteArray &fingerprint)
{
    if (!isFingerprint(fingerprint) || !TrustFileText::isStorableKey(key))
        return false;
    QMutexLocker lock(&mutex_);
    file_.entries[key].fingerprint = fingerprint;
    return save();
}

bool ServerTrust::rememberStls(const QString &key)
{
    if (!TrustFileText::isStorableKey(key))
        return false;
    QMutexLocker lock(&mutex_);
    Entry &entry = file_.entries[key];
    if (entry.offeredStls)
        return true;
    entry.offeredStls = true;
    return save();
}

bool ServerTrust::save()
{
    return !path_.isEmpty() && mayWrite_ && replaceSettingsFile(path_, file_.written(), NewFileAccess::OwnerOnly);
}

QString colonHex(const QByteArray &hexFingerprint)
{
    QStringList pairs;
    for (qsizetype i = 0; i + 1 < hexFingerprint.size(); i += 2)
        pairs << QString::fromLatin1(hexFingerprint.mid(i, 2)).toUpper();
    return pairs.join(u':');
}

} // namespace kingyo
