#include "settings/server_file.h"

#include "settings/shared_state.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

struct ReadCase {
    const char *name;
    QByteArray contents;
    QString smtp;
    QString pop3;
    QString mail;
    int apop;
};

SharedState read(const QByteArray &contents)
{
    SharedState state;
    applyServerFileContents(contents, state);
    return state;
}

TEST(ServerFileReader, FollowsTheLineRules)
{
    const QString hundred(100, u'x');
    const ReadCase cases[] = {
        {"only POP3", "POP3=pop.example.jp\r\n", "", "pop.example.jp", "", 0},
        {"all four", "SMTP=smtp.a\r\nPOP3=pop.a\r\nMAIL=me@a\r\nAPOP=1\r\n", "smtp.a", "pop.a", "me@a", 1},
        {"bare LF line ends", "SMTP=s\nPOP3=p\nAPOP=1\n", "s", "p", "", 1},
        {"no final line end", "POP3=p", "", "p", "", 0},
        {"lower-case key ignored", "pop3=p\r\n", "", "", "", 0},
        {"indented key ignored", " POP3=p\r\n", "", "", "", 0},
        {"unknown lines ignored", "[EXEINI]\r\n; comment\r\nPOP3 =x\r\n", "", "", "", 0},
        {"value not trimmed", "POP3=  p  \r\n", "", "  p  ", "", 0},
        {"value keeps later equals signs", "MAIL=a=b\r\n", "", "", "a=b", 0},
        {"later line wins", "POP3=first\r\nPOP3=second\r\n", "", "second", "", 0},
        {"later empty line wins", "POP3=first\r\nPOP3=\r\n", "", "", "", 0},
        {"150 characters cut to 100", "SMTP=" + QByteArray(150, 'x') + "\r\n", hundred, "", "", 0},
        {"UTF-8 cut by characters", "MAIL=" + QString(120, u'金').toUtf8(), "", "", QString(100, u'金'), 0},
        {"APOP empty", "APOP=\r\n", "", "", "", 0},
        {"APOP 2.5 ties to even", "APOP=2.5\r\n", "", "", "", 2},
        {"APOP 3.5 ties to even", "APOP=3.5\r\n", "", "", "", 4},
        {"APOP letter", "APOP=x1\r\n", "", "", "", 0},
        {"APOP leading blanks", "APOP=  \t7\r\n", "", "", "", 7},
        {"APOP stops at a letter", "APOP=12abc\r\n", "", "", "", 12},
        {"APOP negative", "APOP=-3\r\n", "", "", "", -3},
        {"APOP fraction only", "APOP=.6\r\n", "", "", "", 1},
        {"APOP trailing point", "APOP=2.\r\n", "", "", "", 2},
        {"APOP plus sign", "APOP=+4\r\n", "", "", "", 4},
        {"APOP sign alone", "APOP=-\r\n", "", "", "", 0},
        {"APOP exponent", "APOP=1e2\r\n", "", "", "", 100},
        {"APOP dangling exponent", "APOP=3e\r\n", "", "", "", 3},
        {"APOP above 16 bits clamps", "APOP=40000\r\n", "", "", "", 32767},
        {"APOP below 16 bits clamps", "APOP=-40000\r\n", "", "", "", -32768},
        {"APOP exponent beyond double", "APOP=1e999\r\n", "", "", "", 32767},
        {"byte-order mark", "\xEF\xBB\xBFPOP3=p\r\n", "", "p", "", 0},
        {"short lines", "POP\r\n\r\nA\r\n", "", "", "", 0},
    };
    for (const ReadCase &c : cases) {
        const SharedState state = read(c.contents);
        EXPECT_EQ(state.smtpServer, c.smtp) << c.name;
        EXPECT_EQ(state.pop3Server, c.pop3) << c.name;
        EXPECT_EQ(state.mailAddress, c.mail) << c.name;
        EXPECT_EQ(state.apopFlag, c.apop) << c.name;
    }
}

TEST(ServerFileReader, KeepsTextThatIsNotUtf8)
{
    // "ぽっぷ" in Shift_JIS, as the program's Windows ancestor stored it.
    EXPECT_EQ(read("POP3=\x82\xDB\x82\xC1\x82\xD5\r\n").pop3Server, QStringLiteral("ぽっぷ"));
    // Bytes that are neither UTF-8 nor Shift_JIS: one character per byte, none dropped.
    const QString junk = read("POP3=a\xFF\xFE" "b\r\n").pop3Server;
    EXPECT_EQ(junk.size(), 4);
    EXPECT_EQ(junk.toLatin1(), QByteArray("a\xFF\xFE" "b"));
}

TEST(ServerFileReader, MissingFileLeavesEverythingEmpty)
{
    QTemporaryDir dir;
    SharedState state;
    readServerFile(dir.filePath(QStringLiteral("vbmail.ini")), state);
    EXPECT_TRUE(state.pop3Server.isEmpty());
    EXPECT_TRUE(state.smtpServer.isEmpty());
    EXPECT_TRUE(state.mailAddress.isEmpty());
    EXPECT_EQ(state.apopFlag, 0);
}

TEST(ServerFileWriter, WritesFourCrLfLines)
{
    SharedState state;
    state.smtpServer = QStringLiteral("smtp.example.jp");
    state.pop3Server = QStringLiteral("pop.example.jp");
    state.mailAddress = QStringLiteral("金魚@example.jp");
    state.apopFlag = 1;
    EXPECT_EQ(serverFileContents(state), QStringLiteral("SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\n"
                                                        "MAIL=金魚@example.jp\r\nAPOP=1\r\n")
                                             .toUtf8());
    EXPECT_EQ(serverFileContents(SharedState{}), QByteArray("SMTP=\r\nPOP3=\r\nMAIL=\r\nAPOP=0\r\n"));
}

TEST(ServerFileWriter, RoundTripsThroughTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vbmail.ini"));
    const QString values[] = {QString(), QStringLiteral("  blanks kept  "), QStringLiteral("ぽっぷ.example.jp"),
                              QStringLiteral("a=b;c"), QString(100, u'z')};
    for (const QString &value : values) {
        SharedState written;
        written.smtpServer = value;
        written.pop3Server = value + QStringLiteral("p");
        written.mailAddress = value;
        written.apopFlag = value.isEmpty() ? 0 : 1;
        ASSERT_TRUE(writeServerFile(path, written));
        SharedState readBack;
        readServerFile(path, readBack);
        EXPECT_EQ(readBack.smtpServer, written.smtpServer) << value.toStdString();
        EXPECT_EQ(readBack.pop3Server, written.pop3Server.left(100)) << value.toStdString();
        EXPECT_EQ(readBack.mailAddress, written.mailAddress) << value.toStdString();
        EXPECT_EQ(readBack.apopFlag, written.apopFlag) << value.toStdString();
    }
}

TEST(ServerFileWriter, ReplacesUnknownLinesOfTheOldFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vbmail.ini"));
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("X-OLD=1\r\nPOP3=old\r\n");
    old.close();
    SharedState state;
    state.pop3Server = QStringLiteral("new");
    ASSERT_TRUE(writeServerFile(path, state));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("SMTP=\r\nPOP3=new\r\nMAIL=\r\nAPOP=0\r\n"));
}

TEST(ServerFileWriter, FolderThatCannotHoldFilesStoresNothing)
{
    QTemporaryDir dir;
    const QString notAFolder = dir.filePath(QStringLiteral("plain-file"));
    QFile file(notAFolder);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_FALSE(writeServerFile(notAFolder + QStringLiteral("/vbmail.ini"), SharedState{}));
    EXPECT_FALSE(writeServerFile(dir.filePath(QStringLiteral("missing/vbmail.ini")), SharedState{}));
}

} // namespace
} // namespace kingyo
