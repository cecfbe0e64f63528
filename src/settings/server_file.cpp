#include "settings/server_file.h"

#include "base/rounding.h"
#include "settings/settings_storage.h"
#include "settings/shared_state.h"

#include <QLocale>

#include <cmath>

namespace kingyo {
namespace {

constexpr qsizetype valueLimit = 100; // characters

// The first limit characters, never splitting a surrogate pair.
QString firstCharacters(QStringView text, qsizetype limit)
{
    qsizetype end = 0;
    for (qsizetype count = 0; end < text.size() && count < limit; ++count)
        end += (text[end].isHighSurrogate() && end + 1 < text.size() && text[end + 1].isLowSurrogate()) ? 2 : 1;
    return text.first(end).toString();
}

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

qsizetype skipDigits(QStringView text, qsizetype i)
{
    while (i < text.size() && isDigit(text[i]))
        ++i;
    return i;
}

void applyLine(QStringView line, SharedState &state)
{
    const QStringView key = line.first(qMin<qsizetype>(5, line.size()));
    const QString value = firstCharacters(line.sliced(key.size()), valueLimit);
    if (key == u"SMTP=")
        state.smtpServer = value;
    else if (key == u"POP3=")
        state.pop3Server = value;
    else if (key == u"MAIL=")
        state.mailAddress = value;
    else if (key == u"APOP=")
        state.apopFlag = toInt16(leadingNumber(value));
}

} // namespace

double leadingNumber(QStringView text)
{
    qsizetype start = 0;
    while (start < text.size() && (text[start] == u' ' || text[start] == u'\t'))
        ++start;
    qsizetype i = start;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype end = skipDigits(text, i);
    qsizetype digits = end - i;
    if (end < text.size() && text[end] == u'.') {
        const qsizetype fractionEnd = skipDigits(text, end + 1);
        digits += fractionEnd - (end + 1);
        end = fractionEnd;
    }
    if (digits == 0)
        return 0; // no number at all: "", "-", "." or a letter
    if (end < text.size() && (text[end] == u'e' || text[end] == u'E')) {
        qsizetype exponent = end + 1;
        if (exponent < text.size() && (text[exponent] == u'+' || text[exponent] == u'-'))
            ++exponent;
        const qsizetype exponentEnd = skipDigits(text, exponent);
        if (exponentEnd > exponent)
            end = exponentEnd;
    }
    bool ok = false;
    const double value = QLocale::c().toDouble(text.sliced(start, end - start), &ok);
    if (ok)
        return value;
    // Only an exponent too large for a double fails here.
    return text[start] == u'-' ? -HUGE_VAL : HUGE_VAL;
}

void applyServerFileContents(QByteArrayView contents, SharedState &state)
{
    contents = withoutByteOrderMark(contents);
    qsizetype start = 0;
    while (start < contents.size()) {
        qsizetype end = contents.indexOf('\n', start);
        if (end < 0)
            end = contents.size();
        QByteArrayView line = contents.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        applyLine(decodeSettingsText(line), state);
        start = end + 1;
    }
}

QByteArray serverFileContents(const SharedState &state)
{
    const auto line = [](const char *key, const QString &value) {
        QByteArray text = value.toUtf8();
        text.replace('\n', ' '); // a value is one line
        return key + text + "\r\n";
    };
    return line("SMTP=", state.smtpServer) + line("POP3=", state.pop3Server) + line("MAIL=", state.mailAddress)
        + line("APOP=", QString::number(state.apopFlag));
}

void readServerFile(const QString &path, SharedState &state)
{
    if (const auto contents = readSettingsFile(path))
        applyServerFileContents(*contents, state);
}

WriteResult writeServerFile(const QString &path, const SharedState &state)
{
    return replaceSettingsFile(path, serverFileContents(state));
}

} // namespace kingyo
