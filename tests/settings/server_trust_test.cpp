#include "settings/server_trust.h"
#include "settings/settings_storage.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace kingyo {
namespace {

const QByteArray kPrint(64, 'a');
const QByteArray kOtherPrint = QByteArray(63, 'b') + '7';

class ServerTrustFileTest : public ::testing::Test {
protected:
    QString path() const { return dir.filePath(QStringLiteral("servers.txt")); }
    QTemporaryDir dir;
};

TEST_F(ServerTrustFileTest, WhatIsLearnedIsFoundByTheNextRunAndReadableByTheOwnerOnly)
{
    {
        ServerTrust trust(path());
        EXPECT_TRUE(trust.pinCertificate(ServerTrust::keyFor(QStringLiteral("Mail.Example.JP"), 995), kPrint));
        EXPECT_TRUE(trust.rememberStls(ServerTrust::keyFor(QStringLiteral("mail.example.jp"), 110)));
        EXPECT_TRUE(trust.pinCertificate(ServerTrust::keyFor(QStringLiteral("::1"), 110), kOtherPrint));
        EXPECT_TRUE(trust.rememberStls(ServerTrust::keyFor(QStringLiteral("::1"), 110)));
    }
    ServerTrust again(path());
    EXPECT_EQ(again.entry(QStringLiteral("mail.example.jp:995")), (ServerTrust::Entry{kPrint, false}));
    EXPECT_EQ(again.entry(QStringLiteral("mail.example.jp:110")), (ServerTrust::Entry{{}, true}));
    EXPECT_EQ(again.entry(QStringLiteral("[::1]:110")), (ServerTrust::Entry{kOtherPrint, true}));
    EXPECT_EQ(again.entry(QStringLiteral("mail.example.jp:1110")), ServerTrust::Entry{});

    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ServerTrustFileTest, ANewPinReplacesTheOldOneForThatServerOnly)
{
    ServerTrust trust(path());
    trust.pinCertificate(QStringLiteral("a:110"), kPrint);
    trust.pinCertificate(QStringLiteral("b:110"), kPrint);
    trust.pinCertificate(QStringLiteral("a:110"), kOtherPrint);
    ServerTrust again(path());
    EXPECT_EQ(again.entry(QStringLiteral("a:110")).fingerprint, kOtherPrint);
    EXPECT_EQ(again.entry(QStringLiteral("b:110")).fingerprint, kPrint);
}

TEST_F(ServerTrustFileTest, SomethingThatIsNoFingerprintIsNeverPinned)
{
    ServerTrust trust(path());
    for (const QByteArray &bad : {QByteArray(), QByteArray(63, 'a'), QByteArray(64, 'A'), QByteArray(64, 'g'),
                                  QByteArray(32, 'a') + '\t' + QByteArray(31, 'a')})
        EXPECT_FALSE(trust.pinCertificate(QStringLiteral("a:110"), bad)) << bad.toStdString();
    for (const char *key : {"a\n:110", "a\t:110", "#a:110", " # a:110", ""})
        EXPECT_FALSE(trust.pinCertificate(QString::fromLatin1(key), kPrint)) << key;
    EXPECT_EQ(trust.entry(QStringLiteral("a:110")), ServerTrust::Entry{});
    EXPECT_FALSE(QFile::exists(path()));
}

QByteArray withPrints(QByteArray text)
{
    return text.replace("<print>", kPrint).replace("<other>", kOtherPrint);
}

// A hand-edited file: each bad line costs only itself and a rewrite gives it back byte
// for byte. "a:110" is pinned and "c:110" offered STLS in each.
TEST_F(ServerTrustFileTest, AHandEditedFileKeepsEveryOtherLineAndGivesBackWhatItSkipped)
{
    for (const char *before : {"kingyo-server-trust 1\r\n# mine\r\na:110\t<print>\t-\r\n\r\nb:110 <other> stls\r\nc:110\t-\tstls\r\n",
                               "kingyo-server-trust 1\n\xff:110\t-\tstls\na:110\tnot-hex\t-\na:110\t<print>\t-\nc:110\t-\tstls\n"}) {
        SCOPED_TRACE(before);
        ASSERT_TRUE(writeFile(path(), withPrints(before)));
        {
            ServerTrust trust(path());
            EXPECT_EQ(trust.entry(QStringLiteral("a:110")), (ServerTrust::Entry{kPrint, false}));
            EXPECT_EQ(trust.entry(QStringLiteral("c:110")), (ServerTrust::Entry{{}, true}));
            EXPECT_TRUE(trust.pinCertificate(QStringLiteral("d:110"), kOtherPrint));
        }
        const QByteArray newLine = QByteArray(before).contains('\r') ? "\r\n" : "\n";
        EXPECT_EQ(contentsOf(path()), withPrints(QByteArray(before) + "d:110\t<other>\t-" + newLine));
        EXPECT_EQ(ServerTrust(path()).entry(QStringLiteral("a:110")).fingerprint, kPrint);
    }
}

TEST_F(ServerTrustFileTest, AFileOverTheBoundIsNeverUsedNorReplaced)
{
    QByteArray before = "kingyo-server-trust 1\n";
    while (before.size() <= kSettingsFileLimit)
        before += "a:110\t" + kPrint + "\tstls\n";
    ASSERT_TRUE(writeFile(path(), before));
    ServerTrust trust(path());
    EXPECT_EQ(trust.entry(QStringLiteral("a:110")), ServerTrust::Entry{});
    EXPECT_FALSE(trust.pinCertificate(QStringLiteral("b:110"), kPrint));
    EXPECT_EQ(trust.entry(QStringLiteral("b:110")).fingerprint, kPrint) << "kept for this run";
    EXPECT_EQ(contentsOf(path()), before);
}

TEST_F(ServerTrustFileTest, WithoutADataFolderItIsKnownForThisRunOnly)
{
    const QString missing = dir.filePath(QStringLiteral("no-such-folder/servers.txt"));
    for (const QString &where : {missing, QString()}) {
        ServerTrust trust(where);
        EXPECT_FALSE(trust.pinCertificate(QStringLiteral("a:110"), kPrint));
        EXPECT_EQ(trust.entry(QStringLiteral("a:110")).fingerprint, kPrint);
    }
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("no-such-folder"))));
}

TEST(ColonHex, PairsTheDigitsInCapitals)
{
    EXPECT_EQ(colonHex("0a1b2c"), "0A:1B:2C");
    EXPECT_EQ(colonHex(""), "");
}

} // namespace
} // namespace kingyo
