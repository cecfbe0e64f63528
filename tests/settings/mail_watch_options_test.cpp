// The mail watcher's options in the option file, beside the hang-up key.
#include "settings/app_paths.h"
#include "settings/settings_option.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

struct Folder {
    Folder()
    {
        paths.programDir = dir.path();
        QDir(dir.path()).mkdir(QStringLiteral("★MailData"));
    }
    void put(const QByteArray &contents)
    {
        QFile file(paths.optionFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    QByteArray contents()
    {
        QFile file(paths.optionFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QTemporaryDir dir;
    AppPaths paths;
};

struct ReadCase {
    const char *name;
    QByteArray file;
    MailWatchOptions expected;
};

void PrintTo(const ReadCase &c, std::ostream *out) { *out << c.name; }

class MailWatchRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(MailWatchRead, KeepsTheDefaultsForWhatIsMissingOrUnreadable)
{
    Folder folder;
    if (!GetParam().file.isNull())
        folder.put(GetParam().file);
    EXPECT_EQ(readMailWatchOptions(folder.paths), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MailWatchRead,
    ::testing::Values(ReadCase{"no_file", QByteArray(), {false, 0, true}},
                      ReadCase{"older_file", "[EXEINI]\r\nNUMBER=1\r\n", {false, 0, true}},
                      ReadCase{"all_set", "[EXEINI]\nNEWONLY=1\nINTERVAL=15\nNOTIFY=0\n", {true, 15, false}},
                      ReadCase{"out_of_range", "[EXEINI]\nNEWONLY=7\nINTERVAL=-3\nNOTIFY=2\n", {false, 0, true}},
                      ReadCase{"too_long", "[EXEINI]\nINTERVAL=1441\n", {false, 0, true}},
                      ReadCase{"longest", "[EXEINI]\nINTERVAL=1440\n", {false, 1440, true}},
                      ReadCase{"other_section", "[OTHER]\nNEWONLY=1\n", {false, 0, true}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(MailWatchWrite, AddsItsKeysAndKeepsEveryOtherLine)
{
    Folder folder;
    folder.put("; mine\r\n[EXEINI]\r\nNUMBER=1\r\n\r\n[OTHER]\r\nX = y \r\n");
    const MailWatchOptions options{true, 30, false};
    ASSERT_TRUE(writeOptionFile(folder.paths, true, options));
    EXPECT_EQ(folder.contents(),
              "; mine\r\n[EXEINI]\r\nNUMBER=1\r\nNEWONLY=1\r\nINTERVAL=30\r\nNOTIFY=0\r\n\r\n[OTHER]\r\nX = y \r\n");
    EXPECT_EQ(readMailWatchOptions(folder.paths), options);
    EXPECT_EQ(readHangupOption(folder.paths), 1);
}

TEST(MailWatchWrite, WithoutTheDataFolderStoresNothing)
{
    AppPaths paths;
    QTemporaryDir dir;
    paths.programDir = dir.filePath(QStringLiteral("missing"));
    EXPECT_FALSE(writeOptionFile(paths, false, MailWatchOptions{true, 5, true}));
}

} // namespace
} // namespace kingyo
