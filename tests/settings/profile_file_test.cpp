#include "settings/profile_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

struct FindCase {
    const char *name;
    QByteArray contents;
    std::optional<QByteArray> expected;
    QByteArrayView section = "EXEINI";
};

TEST(ProfileFind, MatchesSectionAndKeyWithoutCase)
{
    const FindCase cases[] = {
        {"exact", "[EXEINI]\r\nNAME=kingyo\r\n", "kingyo"},
        {"section and key in other case", "[exeini]\r\nname=kingyo\r\n", "kingyo"},
        {"blanks around names and value", "  [ ExeIni ]  \r\n  Name  =  kingyo  \r\n", "kingyo"},
        {"quotes keep blanks", "[EXEINI]\r\nNAME=\"  kingyo \"\r\n", "  kingyo "},
        {"lone quote kept", "[EXEINI]\r\nNAME=\"kingyo\r\n", "\"kingyo"},
        {"bare LF", "[EXEINI]\nNAME=kingyo\n", "kingyo"},
        {"no final line end", "[EXEINI]\r\nNAME=kingyo", "kingyo"},
        {"empty value", "[EXEINI]\r\nNAME=\r\n", ""},
        {"first of two keys", "[EXEINI]\r\nNAME=a\r\nNAME=b\r\n", "a"},
        {"key in another section", "[OTHER]\r\nNAME=a\r\n[EXEINI]\r\nX=1\r\n", std::nullopt},
        {"section missing", "NAME=a\r\n", std::nullopt},
        {"key missing", "[EXEINI]\r\nNAME2=a\r\n", std::nullopt},
        {"key is a prefix", "[EXEINI]\r\nNAMEX=a\r\n", std::nullopt},
        {"commented key", "[EXEINI]\r\n;NAME=a\r\n", std::nullopt},
        {"byte-order mark", "\xEF\xBB\xBF[EXEINI]\r\nNAME=a\r\n", "a"},
        {"UTF-8 section names fold only ASCII", "[\xC3\xA9]\r\nNAME=a\r\n", std::nullopt, "\xE3\xA9"},
        {"empty file", "", std::nullopt},
    };
    for (const FindCase &c : cases)
        EXPECT_EQ(profile::findValue(c.contents, c.section, "NAME"), c.expected) << c.name;
}

TEST(ProfileInteger, ReadsLeadingDigits)
{
    const std::pair<QByteArray, int> cases[] = {
        {"1", 1}, {"0", 0}, {"7", 7}, {"12abc", 12}, {"abc", 0}, {"", 0}, {"-1", -1},
        {"+5", 5}, {"- 5", 0}, {"1.9", 1}, {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1},
    };
    for (const auto &[value, expected] : cases)
        EXPECT_EQ(profile::leadingInteger(value), expected) << value.constData();
}

struct WriteCase {
    const char *name;
    QByteArray before;
    QByteArray after;
};

TEST(ProfileWrite, ChangesOnlyTheKeyLine)
{
    const WriteCase cases[] = {
        {"new file", "", "[EXEINI]\r\nNAME=v\r\n"},
        {"replace in place",
         "; kept comment\r\n[EXEINI]\r\nname = old\r\nOTHER=x\r\n\r\n[MORE]\r\nNAME=y\r\n",
         "; kept comment\r\n[EXEINI]\r\nNAME=v\r\nOTHER=x\r\n\r\n[MORE]\r\nNAME=y\r\n"},
        {"replace keeps bare LF", "[EXEINI]\nNAME=old\nX=1\n", "[EXEINI]\nNAME=v\nX=1\n"},
        {"replace last line without line end", "[EXEINI]\r\nNAME=old", "[EXEINI]\r\nNAME=v"},
        {"add key at end of section before blank lines", "[EXEINI]\r\nX=1\r\n\r\n[MORE]\r\nY=2\r\n",
         "[EXEINI]\r\nX=1\r\nNAME=v\r\n\r\n[MORE]\r\nY=2\r\n"},
        {"add key to section ending the file", "[EXEINI]\nX=1", "[EXEINI]\nX=1\nNAME=v\n"},
        {"add key to empty section", "[exeini]\r\n[MORE]\r\n", "[exeini]\r\nNAME=v\r\n[MORE]\r\n"},
        {"add section at end", "[MORE]\r\nY=2\r\n", "[MORE]\r\nY=2\r\n[EXEINI]\r\nNAME=v\r\n"},
        {"add section after unterminated line", "junk", "junk\r\n[EXEINI]\r\nNAME=v\r\n"},
        {"add section in bare LF file", "[MORE]\nY=2\n", "[MORE]\nY=2\n[EXEINI]\nNAME=v\n"},
    };
    for (const WriteCase &c : cases)
        EXPECT_EQ(profile::withValue(c.before, "EXEINI", "NAME", "v"), c.after) << c.name;
}

TEST(ProfileWrite, ValuesReadBackAsWritten)
{
    const QByteArray values[] = {"", "plain", "  lead", "trail  ", "\"quoted\"", "\"", "a=b", "[x]", "\t",
                                 "金魚", "semi;colon"};
    for (const QByteArray &value : values) {
        const QByteArray contents = profile::withValue("[EXEINI]\r\nNAME=old\r\n", "EXEINI", "NAME", value);
        EXPECT_EQ(profile::findValue(contents, "EXEINI", "NAME"), value) << value.constData();
    }
}

TEST(ProfileWrite, ValueCannotAddLines)
{
    const QByteArray contents = profile::withValue("", "EXEINI", "NAME", "a\r\n[EVIL]\r\nX=1");
    EXPECT_EQ(contents.count('\n'), 2);
    EXPECT_FALSE(profile::findValue(contents, "EVIL", "X"));
}

class ProfileFileTest : public ::testing::Test {
protected:
    QString path(const char *name) const { return dir_.filePath(QString::fromUtf8(name)); }

    void put(const QString &file, const QByteArray &contents) const
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(contents);
    }

    QByteArray contentsOf(const QString &file) const
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir dir_;
};

TEST_F(ProfileFileTest, MissingFileGivesDefaults)
{
    EXPECT_EQ(readProfileString(path("none.ini"), "EXEINI", "NAME"), QString());
    EXPECT_EQ(readProfileInt(path("none.ini"), "EXEINI", "NUMBER", 42), 42);
    put(path("a.ini"), "[EXEINI]\r\nNUMBER=\r\n");
    EXPECT_EQ(readProfileInt(path("a.ini"), "EXEINI", "NUMBER", 42), 0);
    EXPECT_EQ(readProfileInt(path("a.ini"), "EXEINI", "OTHER", 42), 42);
}

TEST_F(ProfileFileTest, LongValueIsCutAt255BytesOnACharacterBoundary)
{
    const QString ascii(300, u'p');
    ASSERT_TRUE(writeProfileStrings(path("a.ini"), "EXEINI", {{"NAME2", ascii}}));
    EXPECT_EQ(readProfileString(path("a.ini"), "EXEINI", "NAME2"), ascii.left(255));
    EXPECT_EQ(contentsOf(path("a.ini")), "[EXEINI]\r\nNAME2=" + ascii.toUtf8() + "\r\n"); // stored whole

    // "a" then three-byte characters: byte 255 falls inside the 85th character.
    const QString japanese = QStringLiteral("a") + QString(100, u'魚');
    ASSERT_TRUE(writeProfileStrings(path("a.ini"), "EXEINI", {{"NAME2", japanese}}));
    const QString read = readProfileString(path("a.ini"), "EXEINI", "NAME2");
    EXPECT_EQ(read, japanese.left(85));
    EXPECT_LE(read.toUtf8().size(), 255);
}

TEST_F(ProfileFileTest, WriteCreatesFileButNeverTheFolder)
{
    EXPECT_FALSE(writeProfileStrings(path("missing/ini.ini"), "EXEINI", {{"NUMBER", "1"}}));
    EXPECT_FALSE(QDir(path("missing")).exists());
    ASSERT_TRUE(writeProfileStrings(path("ini.ini"), "EXEINI", {{"NUMBER", "1"}}));
    EXPECT_EQ(readProfileInt(path("ini.ini"), "EXEINI", "NUMBER", 0), 1);
}

TEST_F(ProfileFileTest, FolderThatCannotBeWrittenStoresNothingAndLosesNothing)
{
    // A path under a regular file fails for every user, root included.
    put(path("blocker"), "x");
    EXPECT_FALSE(writeProfileStrings(path("blocker/ini.ini"), "EXEINI", {{"NUMBER", "1"}}));
    EXPECT_EQ(contentsOf(path("blocker")), "x");
}

TEST_F(ProfileFileTest, FileThatCannotBeReadIsNeverReplaced)
{
    QDir(dir_.path()).mkdir(QStringLiteral("ini.ini")); // a folder where the file should be
    EXPECT_FALSE(writeProfileStrings(path("ini.ini"), "EXEINI", {{"NUMBER", "1"}}));
    EXPECT_TRUE(QDir(path("ini.ini")).exists());
}

TEST_F(ProfileFileTest, BinaryJunkReadsWithoutHarmAndIsKeptOnWrite)
{
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk += char((i * 7919 + 13) % 256);
    put(path("junk.ini"), junk);
    EXPECT_EQ(readProfileInt(path("junk.ini"), "EXEINI", "NUMBER", 0), 0);
    EXPECT_EQ(readProfileString(path("junk.ini"), "EXEINI", "NAME"), QString());
    ASSERT_TRUE(writeProfileStrings(path("junk.ini"), "EXEINI", {{"NUMBER", "1"}}));
    EXPECT_EQ(readProfileInt(path("junk.ini"), "EXEINI", "NUMBER", 0), 1);
    EXPECT_TRUE(contentsOf(path("junk.ini")).startsWith(junk));
}

} // namespace
} // namespace kingyo
