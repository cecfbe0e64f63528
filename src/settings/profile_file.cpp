#include "settings/profile_file.h"

#include <QFileInfo>

#include <limits>
#include <vector>

namespace kingyo {
namespace profile {
namespace {

struct Line {
    qsizetype start;      // first byte of the line
    qsizetype contentEnd; // first byte of its line end (CR LF or LF)
    qsizetype end;        // first byte after its line end
};

std::vector<Line> splitLines(QByteArrayView contents)
{
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < contents.size()) {
        const qsizetype newline = contents.indexOf('\n', start);
        const qsizetype end = newline < 0 ? contents.size() : newline + 1;
        qsizetype contentEnd = newline < 0 ? contents.size() : newline;
        if (newline > start && contents[newline - 1] == '\r')
            --contentEnd;
        lines.push_back({start, contentEnd, end});
        start = end;
    }
    return lines;
}

QByteArrayView trimmedContent(QByteArrayView contents, const Line &line)
{
    QByteArrayView text = contents.sliced(line.start, line.contentEnd - line.start);
    if (line.start == 0)
        text = withoutByteOrderMark(text);
    return text.trimmed();
}

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Case folding stays within ASCII so that the bytes of UTF-8 names never fold together.
bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}

std::optional<QByteArrayView> sectionName(QByteArrayView trimmed)
{
    if (!trimmed.startsWith('['))
        return std::nullopt;
    QByteArrayView name = trimmed.sliced(1);
    const qsizetype close = name.indexOf(']');
    if (close >= 0)
        name = name.first(close);
    return name.trimmed();
}

// The key's line within the section, if it is a "key=value" line for that key.
std::optional<QByteArrayView> valueIfKey(QByteArrayView trimmed, QByteArrayView key)
{
    const qsizetype equals = trimmed.indexOf('=');
    if (equals < 0 || !sameName(trimmed.first(equals).trimmed(), key))
        return std::nullopt;
    return trimmed.sliced(equals + 1).trimmed();
}

QByteArrayView unquoted(QByteArrayView value)
{
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        return value.sliced(1, value.size() - 2);
    return value;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// A value survives the reader's trimming and unquoting only when quoted in these cases.
QByteArray storedForm(QByteArrayView value)
{
    QByteArray stored = value.toByteArray();
    stored.replace('\n', ' '); // a value is one line
    const bool needsQuotes = !stored.isEmpty()
        && (isBlank(stored.front()) || isBlank(stored.back())
            || (stored.size() >= 2 && stored.startsWith('"') && stored.endsWith('"')));
    return needsQuotes ? '"' + stored + '"' : stored;
}

QByteArray lineEndOf(QByteArrayView contents)
{
    const qsizetype newline = contents.indexOf('\n');
    return newline >= 0 && (newline == 0 || contents[newline - 1] != '\r') ? QByteArray("\n") : QByteArray("\r\n");
}

struct SectionSpan {
    std::size_t header; // index of the "[section]" line
    std::size_t end;    // index of the next section's line, or the line count
};

std::optional<SectionSpan> findSection(QByteArrayView contents, const std::vector<Line> &lines, QByteArrayView section)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(trimmedContent(contents, lines[i]));
        if (!name || !sameName(*name, section))
            continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !sectionName(trimmedContent(contents, lines[end])))
            ++end;
        return SectionSpan{i, end};
    }
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> findValue(QByteArrayView contents, QByteArrayView section, QByteArrayView key)
{
    const std::vector<Line> lines = splitLines(contents);
    const auto span = findSection(contents, lines, section);
    if (!span)
        return std::nullopt;
    for (std::size_t i = span->header + 1; i < span->end; ++i)
        if (const auto value = valueIfKey(trimmedContent(contents, lines[i]), key))
            return unquoted(*value).toByteArray();
    return std::nullopt;
}

QByteArray withValue(QByteArrayView contents, QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    const std::vector<Line> lines = splitLines(contents);
    const QByteArray eol = lineEndOf(contents);
    const QByteArray keyLine = key.toByteArray() + '=' + storedForm(value);
    QByteArray result;

    const auto span = findSection(contents, lines, section);
    if (!span) {
        result = contents.toByteArray();
        if (!result.isEmpty() && !result.endsWith('\n'))
            result += eol;
        return result + '[' + section.toByteArray() + ']' + eol + keyLine + eol;
    }
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        if (valueIfKey(trimmedContent(contents, lines[i]), key)) {
            const Line &line = lines[i];
            return contents.first(line.start).toByteArray() + keyLine + contents.sliced(line.contentEnd).toByteArray();
        }
    }
    // New keys go after the section's last non-blank line, before any blank separator lines.
    std::size_t last = span->header;
    for (std::size_t i = span->header + 1; i < span->end; ++i)
        if (!trimmedContent(contents, lines[i]).isEmpty())
            last = i;
    const Line &after = lines[last];
    result = contents.first(after.end).toByteArray();
    if (after.end == after.contentEnd)
        result += eol; // the section's last line ended the file without a line end
    return result + keyLine + eol + contents.sliced(after.end).toByteArray();
}

int leadingInteger(QByteArrayView value)
{
    qsizetype i = 0;
    const bool negative = value.startsWith('-');
    if (negative || value.startsWith('+'))
        i = 1;
    long long n = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        n = n * 10 + (value[i] - '0');
        if (n > std::numeric_limits<int>::max())
            return negative ? std::numeric_limits<int>::min() : std::numeric_limits<int>::max();
    }
    return static_cast<int>(negative ? -n : n);
}

} // namespace profile

namespace {

std::optional<QByteArray> readValue(const QString &file, const QString &section, const QString &key)
{
    const auto contents = readSettingsFile(file);
    if (!contents)
        return std::nullopt;
    return profile::findValue(*contents, section.toUtf8(), key.toUtf8());
}

// Cuts to at most limit bytes without splitting a UTF-8 character.
QByteArrayView cutAtCharacter(QByteArrayView bytes, qsizetype limit)
{
    if (bytes.size() <= limit)
        return bytes;
    qsizetype end = limit;
    while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80)
        --end;
    return bytes.first(end);
}

} // namespace

QString readProfileString(const QString &file, const QString &section, const QString &key)
{
    const auto value = readValue(file, section, key);
    return value ? decodeSettingsText(cutAtCharacter(*value, profileValueLimit)) : QString();
}

int readProfileInt(const QString &file, const QString &section, const QString &key, int defaultValue)
{
    const auto value = readValue(file, section, key);
    return value ? profile::leadingInteger(*value) : defaultValue;
}

WriteResult writeProfileStrings(const QString &file, const QString &section,
                                const QList<std::pair<QString, QString>> &keyValues, NewFileAccess access)
{
    QString whyNotRead;
    const auto contents = readSettingsFile(file, kSettingsFileLimit, &whyNotRead);
    if (!contents && !whyNotRead.isEmpty())
        return {whyNotRead}; // a file that cannot be read is never replaced
    QByteArray written = contents.value_or(QByteArray());
    for (const auto &[key, value] : keyValues)
        written = profile::withValue(written, section.toUtf8(), key.toUtf8(), value.toUtf8());
    return replaceSettingsFile(file, written, access);
}

} // namespace kingyo
