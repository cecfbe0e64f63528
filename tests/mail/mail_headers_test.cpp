#include "mail/mail_headers.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

namespace kingyo {
namespace {

struct HeaderCase {
    const char *block;
    const char *from;
    const char *subject;
};

const HeaderCase kCases[] = {
    // Encoded words: B and Q, the charsets of Japanese mail, a language tag.
    {"From: =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= <yamada@example.jp>\r\n"
     "Subject: =?iso-2022-jp?B?GyRCMnE1RCROO3FOQSRLJEQkJCRGGyhC?=\r\n",
     "山田 太郎", "会議の資料について"},
    {"Subject: =?ISO-2022-JP?Q?=1B$B2q5D$N;qNA=1B(B?=\r\n", "", "会議の資料"},
    {"Subject: =?Shift_JIS?B?gqiMqZDPguiCzIKyiMuXig==?=\r\n", "", "お見積りのご依頼"},
    {"Subject: =?euc-jp?q?=CC=C0=C6=FC=A4=CE=CD=BD=C4=EA?=\r\n", "", "明日の予定"},
    {"Subject: =?UTF-8?Q?Caf=C3=A9_au_lait?= menu\r\n", "", "Café au lait menu"},
    {"Subject: =?utf-8*ja?B?44GT44KT44Gr44Gh44Gv?=\r\n", "", "こんにちは"},
    // Neighbouring words join without the space, a character split between two included.
    {"Subject: =?UTF-8?B?44GU5g==?=\r\n =?UTF-8?B?oYjlhoU=?= =?UTF-8?B?6YCx5aCx?=\t=?ISO-2022-JP?B?GyRCJEckORsoQg==?=\r\n",
     "", "ご案内週報です"},
    // Folds, first occurrence, any case, the body not read.
    {"Date: today\nsubject: Meeting\r\n\tnotes\n tomorrow\nSUBJECT: second\n\nFrom: body@example.com\n", "",
     "Meeting notes tomorrow"},
    {"X-Subject: not this\r\nDate: today\r\n\r\nSubject: in the body\r\n", "", ""},
    // Bytes without a charset.
    {"Subject: \033$B?7Ce$N$*CN$i$;\033(B\r\n", "", "新着のお知らせ"},
    {"From: 山田 太郎 <yamada@example.jp>\r\nSubject: 請求書\r\n", "山田 太郎", "請求書"},
    {"Subject: \220\277\213\201\217\221\r\n", "", "請求書"},
    {"Subject: \300\301\265\341\275\361\r\n", "", "請求書"},
    {"Subject: caf\351\r\n", "", "café"},
    // Addresses: quoted names with escapes, comments, bare and angle addresses, lists.
    {"From: (office) \"Tanaka \\\"Tom\\\" (Sales)\" <tom@example.com>\r\n", "Tanaka \"Tom\" (Sales)", ""},
    {"From: bob@example.org (Bob \\) Smith), carol@example.org\r\n", "bob@example.org", ""},
    {"From: <alice@example.net>\r\n", "alice@example.net", ""},
    {"From: \"=?UTF-8?B?44GT44KT44Gr44Gh44Gv?=\" <hi@example.jp>, x@y\r\n", "こんにちは", ""},
    // Broken words stay as they came.
    {"Subject: =?UTF-8?B?YW=I?= and =?x-unknown?B?aGVsbG8=?= =?UTF-8?Q?bad=ZZ?=\r\n", "",
     "=?UTF-8?B?YW=I?= and =?x-unknown?B?aGVsbG8=?= =?UTF-8?Q?bad=ZZ?="},
    // Control characters and direction overrides blanked; markup is only text.
    {"From: Eve\001\177 <eve@example.com>\r\n"
     "Subject: =?UTF-8?B?PGI+aGk8L2I+B+KArmducC5leGXigaYgJiAieCI=?=\r\n",
     "Eve", "<b>hi</b> gnp.exe & \"x\""},
};

TEST(MailHeadersTest, ReadsSenderAndSubjectOfRealWorldHeaderBlocks)
{
    for (const HeaderCase &row : kCases) {
        SCOPED_TRACE(row.block);
        const MailSummary summary = summarizeHeaders(row.block);
        EXPECT_EQ(summary.from, QString::fromUtf8(row.from));
        EXPECT_EQ(summary.subject, QString::fromUtf8(row.subject));
    }
    // Over-long values are cut on a character boundary and marked.
    const QString smiles = QStringLiteral("😀").repeated(100); // each one two UTF-16 units
    const MailSummary summary =
        summarizeHeaders("From: " + QByteArray(200, 'n') + " <n@example.com>\r\nSubject: " + smiles.toUtf8());
    EXPECT_EQ(summary.from, QString(79, u'n') + u'…');
    EXPECT_EQ(summary.subject, smiles.left(118) + u'…');
}

TEST(MailHeadersTest, AHostileBlockOfEncodedWordStartsJustFinishes)
{
    for (const QByteArray &filler : {QByteArray("=?"), QByteArray("=?a?B?"), QByteArray("(\""), QByteArray("\n ")}) {
        const QByteArray block = "From: " + filler.repeated(kHeaderBlockLimit / 2 / filler.size()) + "\r\nSubject: " +
                                 filler.repeated(kHeaderBlockLimit / 2 / filler.size());
        const MailSummary summary = summarizeHeaders(block);
        EXPECT_LE(summary.from.size(), 80);
        EXPECT_LE(summary.subject.size(), 120);
    }
}

} // namespace
} // namespace kingyo
