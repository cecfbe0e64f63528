#include "settings/server_trust.h"
#include "settings/settings_storage.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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

int linesSaid(const std::string &stderrText)
{
    return static_cast<int>(std::count(stderrText.begin(), stderrText.end(), '\n'));
}

// Hand-edited files: each line costs only itself, and a rewrite gives back every line
// it did not read, byte for byte. "a:110" is pinned and "c:110" offered STLS in each.
struct HandEditCase {
    const char *name;
    const char *before;
    int linesSaid; // on stderr, at the start only
    const char *afterPin; // once "d:110" is pinned
};

void PrintTo(const HandEditCase &c, std::ostream *out) { *out << c.name; }

class HandEditedTrustFile : public ServerTrustFileTest, public ::testing::WithParamInterface<HandEditCase> {};

QByteArray withPrints(const char *text)
{
    return QByteArray(text).replace("<print>", kPrint).replace("<other>", kOtherPrint);
}

TEST_P(HandEditedTrustFile, KeepsEveryOtherLineAndGivesBackWhatItSkipped)
{
    const HandEditCase &c = GetParam();
    ASSERT_TRUE(writeFile(path(), withPrints(c.before)));
    ::testing::internal::CaptureStderr();
    {
        ServerTrust trust(path());
        for (int lookup = 0; lookup < 3; ++lookup) {
            EXPECT_EQ(trust.entry(QStringLiteral("a:110")), (ServerTrust::Entry{kPrint, false}));
            EXPECT_EQ(trust.entry(QStringLiteral("c:110")), (ServerTrust::Entry{{}, true}));
        }
        EXPECT_EQ(contentsOf(path()), withPrints(c.before)) << "reading alone never writes";
        EXPECT_TRUE(trust.pinCertificate(QStringLiteral("d:110"), kOtherPrint));
    }
    EXPECT_EQ(linesSaid(::testing::internal::GetCapturedStderr()), c.linesSaid);
    EXPECT_EQ(contentsOf(path()), withPrints(c.afterPin));
    ServerTrust again(path());
    EXPECT_EQ(again.entry(QStringLiteral("a:110")).fingerprint, kPrint);
    EXPECT_TRUE(again.entry(QStringLiteral("c:110")).offeredStls);
    EXPECT_EQ(again.entry(QStringLiteral("d:110")).fingerprint, kOtherPrint);
}

INSTANTIATE_TEST_SUITE_P(
    ServerTrust, HandEditedTrustFile,
    ::testing::Values(
        HandEditCase{"crlf_comment_blank_and_a_typo",
                     "kingyo-server-trust 1\r\n# my servers\r\na:110\t<print>\t-\r\n\r\nb:110 <other> stls\r\nc:110\t-\tstls\r\n",
                     1,
                     "kingyo-server-trust 1\r\n# my servers\r\na:110\t<print>\t-\r\n\r\nb:110 <other> stls\r\nc:110\t-\tstls\r\n"
                     "d:110\t<other>\t-\r\n"},
        HandEditCase{"a_server_named_twice_keeps_its_first_line",
                     "kingyo-server-trust 1\na:110\t<print>\t-\nc:110\t-\tstls\na:110\t<other>\tstls\n", 1,
                     "kingyo-server-trust 1\na:110\t<print>\t-\nc:110\t-\tstls\na:110\t<other>\tstls\nd:110\t<other>\t-\n"},
        HandEditCase{"no_header_gets_one",
                     "# typed by hand\na:110\t<print>\t-\nc:110\t-\tstls", 0,
                     "kingyo-server-trust 1\n# typed by hand\na:110\t<print>\t-\nc:110\t-\tstls\nd:110\t<other>\t-\n"},
        HandEditCase{"bad_fields_not_utf8_and_control_bytes",
                     "kingyo-server-trust 1\n\xff:110\t-\tstls\n\x1b[2J\ta\tb\na:110\tnot-hex\t-\n\t<print>\tstls\n"
                     "a:110\t<print>\t-\nc:110\t-\tstls\n", 4,
                     "kingyo-server-trust 1\n\xff:110\t-\tstls\n\x1b[2J\ta\tb\na:110\tnot-hex\t-\n\t<print>\tstls\n"
                     "a:110\t<print>\t-\nc:110\t-\tstls\nd:110\t<other>\t-\n"},
        HandEditCase{"a_mark_in_a_key_and_a_cr_at_the_end",
                     "kingyo-server-trust 1\na:110\t<print>\t-\nc:110\t-\tstls\n\xef\xbb\xbfz:1\t-\t-\nb\t-\tstls\r\r", 1,
                     "kingyo-server-trust 1\na:110\t<print>\t-\nc:110\t-\tstls\n\xef\xbb\xbfz:1\t-\t-\nb\t-\tstls\r\r\n"
                     "d:110\t<other>\t-\n"},
        HandEditCase{"many_bad_lines_said_in_six",
                     "kingyo-server-trust 1\n1\n2\n3\n4\n5\n6\n7\na:110\t<print>\t-\nc:110\t-\tstls\n", 6,
                     "kingyo-server-trust 1\n1\n2\n3\n4\n5\n6\n7\na:110\t<print>\t-\nc:110\t-\tstls\nd:110\t<other>\t-\n"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ServerTrustFileTest, ASkippedLineIsNamedByNumberAndCutShort)
{
    const QByteArray huge(200'000, 'x');
    ASSERT_TRUE(writeFile(path(), "kingyo-server-trust 1\n# fine\n" + huge + "\n"));
    ::testing::internal::CaptureStderr();
    ServerTrust trust(path());
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("servers.txt line 3 "), std::string::npos) << said;
    EXPECT_LT(said.size(), 400u);
}

// A file that cannot be read as a whole: nothing in it is used, it is never replaced,
// what is learned holds for the run, and why is said once.
struct UnreadCase {
    const char *name;
    std::function<bool(const QString &path)> plant;
};

void PrintTo(const UnreadCase &c, std::ostream *out) { *out << c.name; }

class UnreadTrustFile : public ServerTrustFileTest, public ::testing::WithParamInterface<UnreadCase> {};

TEST_P(UnreadTrustFile, IsNeverReplacedAndWhatIsLearnedHoldsForTheRun)
{
    ASSERT_TRUE(GetParam().plant(path()));
    const QByteArray before = contentsOf(path());
    ::testing::internal::CaptureStderr();
    {
        ServerTrust trust(path());
        for (int lookup = 0; lookup < 3; ++lookup)
            EXPECT_EQ(trust.entry(QStringLiteral("a:110")), ServerTrust::Entry{}) << "nothing in it is used";
        EXPECT_FALSE(trust.pinCertificate(QStringLiteral("b:110"), kPrint));
        EXPECT_FALSE(trust.rememberStls(QStringLiteral("b:110")));
        EXPECT_EQ(trust.entry(QStringLiteral("b:110")), (ServerTrust::Entry{kPrint, true})) << "kept for this run";
    }
    EXPECT_EQ(linesSaid(::testing::internal::GetCapturedStderr()), 1);
    EXPECT_EQ(contentsOf(path()), before);
}

QByteArray entriesOfSize(qint64 size)
{
    QByteArray text = "kingyo-server-trust 1\n";
    while (text.size() < size)
        text += "a:110\t" + kPrint + "\tstls\n";
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    ServerTrust, UnreadTrustFile,
    ::testing::Values(
        UnreadCase{"larger_than_the_bound",
                   [](const QString &path) { return writeFile(path, entriesOfSize(kSettingsFileLimit + 1)); }},
        UnreadCase{"a_later_format",
                   [](const QString &path) {
                       return writeFile(path, "kingyo-server-trust 2\na:110\t" + kPrint + "\tstls\textra\n");
                   }},
        UnreadCase{"someone_elses_file",
                   [](const QString &path) { return writeFile(path, "#!/bin/sh\necho \"a:110\"\n"); }}),
    [](const auto &info) { return std::string(info.param.name); });

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
