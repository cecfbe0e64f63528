#include "settings/server_trust.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace kingyo {
namespace {

const QByteArray kPrint(64, 'a');
const QByteArray kOtherPrint = QByteArray(63, 'b') + '7';

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

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
    EXPECT_FALSE(trust.pinCertificate(QStringLiteral("a\n:110"), kPrint));
    EXPECT_EQ(trust.entry(QStringLiteral("a:110")), ServerTrust::Entry{});
    EXPECT_FALSE(QFile::exists(path()));
}

class BrokenTrustFile : public ServerTrustFileTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(BrokenTrustFile, ReadsAsEmptyAndStaysUntilSomethingIsLearned)
{
    const QByteArray broken = QByteArray(GetParam()).replace("<print>", kPrint);
    ASSERT_TRUE(writeFile(path(), broken));
    ServerTrust trust(path());
    EXPECT_EQ(trust.entry(QStringLiteral("a:110")), ServerTrust::Entry{});
    EXPECT_EQ(contentsOf(path()), broken);
    // What is learned next replaces it with a whole, readable file.
    EXPECT_TRUE(trust.rememberStls(QStringLiteral("b:110")));
    EXPECT_TRUE(ServerTrust(path()).entry(QStringLiteral("b:110")).offeredStls);
}

INSTANTIATE_TEST_SUITE_P(ServerTrust, BrokenTrustFile,
                         ::testing::Values("", "\x89PNG\r\n\x1a\n\0\0", "kingyo-server-trust 2\na:110\t<print>\tstls\n",
                                           "kingyo-server-trust 1\na:110\t<print>\n",
                                           "kingyo-server-trust 1\na:110\t<print>\tstls\textra\n",
                                           "kingyo-server-trust 1\na:110\tnot-a-fingerprint\tstls\n",
                                           "kingyo-server-trust 1\na:110\t<print>\tyes\n",
                                           "kingyo-server-trust 1\n\t<print>\tstls\n",
                                           "kingyo-server-trust 1\na:110\t-\t-\n\na:110\t-\tstls\n"));

TEST_F(ServerTrustFileTest, AFileThatCannotBeReadIsNeverOverwritten)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    ASSERT_TRUE(writeFile(path(), "kingyo-server-trust 1\na:110\t-\tstls\n"));
    ASSERT_TRUE(QFile::setPermissions(path(), QFileDevice::Permissions{}));
    ServerTrust trust(path());
    EXPECT_FALSE(trust.rememberStls(QStringLiteral("b:110")));
    EXPECT_TRUE(trust.entry(QStringLiteral("b:110")).offeredStls) << "still known for this run";
    QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(contentsOf(path()), "kingyo-server-trust 1\na:110\t-\tstls\n");
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
