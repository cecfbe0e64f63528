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
    {"From: =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= <yamada@example.jp>\r\n"
     "Subject: =?iso-2022-jp?B?GyRCMnE1RCROO3FOQSRLJEQkJCRGGyhC?=\r\n",
     "山田 太郎", "会議の資料について"},
    {"Subject: =?ISO-2022-JP?Q?=1B$B2q5D$N;qNA=1B(B?=\r\n", "", "会議の資料"},
    {"Subject: =?UTF-8?B?44GU5g==?=\r\n =?UTF-8?B?oYjlhoU=?= =?UTF-8?B?6YCx5aCx?=\t=?ISO-2022-JP?B?GyRCJEckORsoQg==?=\r\n",
     "", "ご案内週報です"},
    {"Subject: =?ISO-2022-JP?B?GyRCMnE1RCRONUQ7dk8/JHIbKEI=?=\r\n =?ISO-2022-JP?B?GyRCJCpBdyRqJDckXiQ5GyhC?=\r\n",
     "", "会議の議事録をお送りします"},
    {"Subject: =?ISO-2022-JP?B?GyRCMnE1RCRONUQ7?= =?iso-2022-jp?b?dk8/JHIkKkF3JGokNyReJDkbKEI=?=\r\n", "",
     "会議の議事録をお送りします"},
    {"Date: today\nsubject: Meeting\r\n\tnotes\n tomorrow\nSUBJECT: second\n\nFrom: body@example.com\n", "",
     "Meeting notes tomorrow"},
    {"Subject: \033$B?7Ce$N$*CN$i$;\033(B\r\n", "", "新着のお知らせ"},
    {"From: 山田 太郎 <yamada@example.jp>\r\nSubject: 請求書\r\n", "山田 太郎", "請求書"},
    {"From: (office) \"Tanaka \\\"Tom\\\" (Sales)\" <tom@example.com>\r\n", "Tanaka \"Tom\" (Sales)", ""},
    {"Subject: =?UTF-8?B?YW=I?= and =?x-unknown?B?aGVsbG8=?= =?UTF-8?Q?bad=ZZ?=\r\n", "",
     "=?UTF-8?B?YW=I?= and =?x-unknown?B?aGVsbG8=?= =?UTF-8?Q?bad=ZZ?="},
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
