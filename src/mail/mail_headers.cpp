#include "mail/mail_headers.h"

#include "settings/settings_storage.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <optional>

namespace kingyo {
namespace {

constexpr qsizetype kFromLimit = 80;
constexpr qsizetype kSubjectLimit = 120;

// The value of the first header called `name` (any case), its folds undone; empty when
// there is none. Stops at the empty line that starts the body.
QByteArray headerValue(QByteArrayView block, QByteArrayView name)
{
    QByteArray value;
    bool found = false;
    for (qsizetype start = 0; start < block.size();) {
        qsizetype end = block.indexOf('\n', start);
        if (end < 0)
            end = block.size();
        QByteArrayView line = block.sliced(start, end - start);
        start = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            break;
        const bool continued = line.front() == ' ' || line.front() == '\t';
        if (found) {
            if (!continued)
                break;
            value += line;
            continue;
        }
        const qsizetype colon = continued ? -1 : line.indexOf(':');
        if (colon > 0 && line.first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0) {
            found = true;
            value = line.sliced(colon + 1).toByteArray();
        }
    }
    return value;
}

std::optional<QString> decodeCleanly(const char *charset, QByteArrayView bytes)
{
    QStringDecoder decoder(charset, QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    QString text = decoder(bytes);
    if (decoder.hasError() || text.contains(QChar::ReplacementCharacter))
        return std::nullopt;
    return text;
}

// Bytes no charset was given for: the first charset of Japanese mail that reads them
// without a fault. ISO-2022-JP goes first since its escapes are plain ASCII to the
// others; EUC-JP before Shift_JIS since EUC-JP text also passes as Shift_JIS.
QString decodeUndeclared(QByteArrayView bytes)
{
    for (const char *charset : {"ISO-2022-JP", "UTF-8", "EUC-JP"}) {
        if (std::optional<QString> text = decodeCleanly(charset, bytes))
            return *text;
    }
    return decodeSettingsText(bytes); // Shift_JIS, else one character per byte
}

// Bytes an encoded word gave: its own charset, else (a sender that named the wrong one)
// whatever reads them.
QString decodeDeclared(const QByteArray &charset, QByteArrayView bytes)
{
    std::optional<QString> text = decodeCleanly(charset.constData(), bytes);
    return text ? *text : decodeUndeclared(bytes);
}

bool isKnownCharset(const QByteArray &charset) { return QStringDecoder(charset.constData()).isValid(); }

// The bytes of an encoded word's text, or nothing when it is not proper base64 ("B")
// or quoted-printable ("Q").
std::optional<QByteArray> decodeTransfer(QChar encoding, QStringView text)
{
    const QByteArray ascii = text.toLatin1();
    if (encoding.toUpper() == u'B') {
        QByteArray::FromBase64Result result =
            QByteArray::fromBase64Encoding(ascii, QByteArray::AbortOnBase64DecodingErrors);
        return result ? std::optional(result.decoded) : std::nullopt;
    }
    static const QRegularExpression brokenQ(QStringLiteral("=(?![0-9A-Fa-f]{2})|[^!-~]"));
    if (brokenQ.match(text).hasMatch())
        return std::nullopt;
    return QByteArray::fromPercentEncoding(QByteArray(ascii).replace('_', ' '), '=');
}

// One more encoded word's bytes onto those of the words before it in the same charset.
// ISO-2022 senders end each word back in ASCII and start the next with its shift;
// joined as they are, the two escapes make an empty segment, which the decoder refuses
// (a guard against escapes hiding text), so the return just before a shift goes.
void appendWordBytes(QByteArray &run, const QByteArray &charset, const QByteArray &bytes)
{
    constexpr QByteArrayView toAscii[] = {"\x1b(B", "\x1b(J"};
    if (charset.startsWith("iso-2022") && bytes.startsWith('\x1b')) {
        for (const QByteArrayView reset : toAscii) {
            if (run.endsWith(reset)) {
                run.chop(reset.size());
                break;
            }
        }
    }
    run += bytes;
}

// Text with its RFC 2047 encoded words decoded; the whitespace between two encoded words
// goes. Neighbouring words in one charset are decoded together, since some senders split
// a character, or an ISO-2022 shift, across two words. A word that cannot be decoded
// stays as it came.
QString decodeEncodedWords(const QString &text)
{
    // =?charset[*language]?B|Q?text?=
    static const QRegularExpression encodedWord(QStringLiteral(R"(=\?([^?*\s]+)(?:\*[^?\s]*)?\?([BbQq])\?([^?\s]*)\?=)"));
    QString decoded;
    QByteArray runCharset; // the encoded words read but not yet decoded: their charset
    QByteArray runBytes;   // ...and their bytes
    const auto endRun = [&] {
        if (!runCharset.isEmpty())
            decoded += decodeDeclared(runCharset, runBytes);
        runCharset.clear();
        runBytes.clear();
    };
    qsizetype plainStart = 0;
    for (const QRegularExpressionMatch &word : encodedWord.globalMatch(text)) {
        const QStringView gap = QStringView(text).sliced(plainStart, word.capturedStart() - plainStart);
        plainStart = word.capturedEnd();
        const QByteArray charset = word.capturedView(1).toLatin1().toLower();
        const std::optional<QByteArray> bytes = decodeTransfer(word.capturedView(2).front(), word.capturedView(3));
        const bool readable = bytes && isKnownCharset(charset);
        if (!readable || runCharset.isEmpty() || !gap.trimmed().isEmpty()) {
            endRun();
            decoded += gap;
        }
        if (!readable) {
            decoded += word.capturedView();
            continue;
        }
        if (charset != runCharset)
            endRun();
        runCharset = charset;
        appendWordBytes(runBytes, charset, *bytes);
    }
    endRun();
    decoded += QStringView(text).sliced(plainStart);
    return decoded;
}

// The first address of a From value as a name: its display name with quotes and
// escapes undone, else the address itself; comments are dropped.
QString senderName(QStringView from)
{
    QString name;
    QString address;
    bool quoted = false;
    bool inAngle = false;
    int commentDepth = 0;
    for (qsizetype i = 0; i < from.size(); ++i) {
        QChar c = from[i];
        if (c == u'\\' && (quoted || commentDepth > 0) && i + 1 < from.size()) {
            c = from[++i];
        } else if (quoted) {
            if (c == u'"') {
                quoted = false;
                continue;
            }
        } else if (c == u'(') {
            ++commentDepth;
            continue;
        } else if (commentDepth > 0) {
            if (c == u')')
                --commentDepth;
            continue;
        } else if (c == u'"') {
            quoted = true;
            continue;
        } else if (c == u'<' || c == u'>') {
            inAngle = c == u'<';
            continue;
        } else if (c == u',' && !inAngle) {
            break; // the next address
        }
        if (commentDepth == 0)
            (inAngle ? address : name) += c;
    }
    return name.trimmed().isEmpty() ? address : name;
}

// Control characters and direction overrides, which could break or disguise the line.
bool isBlanked(QChar c)
{
    const char16_t code = c.unicode();
    return c.category() == QChar::Other_Control || (code >= 0x202A && code <= 0x202E) ||
           (code >= 0x2066 && code <= 0x2069);
}

// One plain line of at most `limit` UTF-16 units; a longer one ends in "…".
QString shownLine(QString text, qsizetype limit)
{
    for (QChar &c : text) {
        if (isBlanked(c))
            c = u' ';
    }
    text = text.simplified();
    if (text.size() <= limit)
        return text;
    qsizetype cut = limit - 1;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.first(cut) + u'…';
}

} // namespace

MailSummary summarizeHeaders(QByteArrayView headerBlock)
{
    const QString from = decodeUndeclared(headerValue(headerBlock, "From"));
    const QString subject = decodeUndeclared(headerValue(headerBlock, "Subject"));
    return {shownLine(decodeEncodedWords(senderName(from)), kFromLimit),
            shownLine(decodeEncodedWords(subject), kSubjectLimit)};
}

} // namespace kingyo
