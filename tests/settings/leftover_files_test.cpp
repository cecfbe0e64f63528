// The temporaries a crash left beside kingyo's files, removed at start.
#include "settings/leftover_files.h"
#include "support/test_files.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kingyo {
namespace {

enum class Kind { File, Link, Folder, Fifo, OtherUsersFile };

TEST(LeftoverTemporaries, OnlyOldTemporariesOfOurOwnFilesAreRemoved)
{
    const struct {
        QString name;
        Kind kind;
        bool old; // last changed two minutes before the clean-up
        bool removed;
    } entries[] = {
        {QStringLiteral("iniIdPass.ini.AbCdEf"), Kind::File, true, true},
        {QStringLiteral("seen-0123456789abcdef0123456789abcdef.uidl.MnOpQr"), Kind::File, true, true},
        {QStringLiteral("seen-0123456789abcdef0123456789abcdef.uidnext.StUvWx"), Kind::File, true, true},
        {QStringLiteral("oauth-refresh-token.YzAbCd"), Kind::File, true, true},
        {QStringLiteral("oauth-refresh-token.LiNkEd"), Kind::Link, true, false},
        {QStringLiteral("iniIdPass.ini.GhIjKl"), Kind::File, false, false}, // a write in progress
        {QStringLiteral("iniIdPass.ini"), Kind::File, true, false},
        {QStringLiteral("iniIdPass.ini.Ab1dEf"), Kind::File, true, false},
        {QStringLiteral("INI.INI.AbCdEf"), Kind::File, true, false},
        {QStringLiteral("servers.txt.LiNkEd"), Kind::Link, true, false},
        {QStringLiteral("ini.ini.FoLdEr"), Kind::Folder, true, false},
        {QStringLiteral("vbmail.ini.FiFoOo"), Kind::Fifo, true, false},
        {QStringLiteral("iniIdPass.ini.NoBody"), Kind::OtherUsersFile, true, ::geteuid() != 0},
    };
    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString target = dir.filePath(QStringLiteral("target"));
    ASSERT_TRUE(writeFile(target, "x"));
    QStringList expectedRemoved;
    for (const auto &entry : entries) {
        const QByteArray path = QFile::encodeName(dir.filePath(entry.name));
        const bool made = entry.kind == Kind::Folder ? QDir(dir.path()).mkdir(entry.name)
                          : entry.kind == Kind::Fifo ? ::mkfifo(path.constData(), 0600) == 0
                          : entry.kind == Kind::Link ? QFile::link(target, dir.filePath(entry.name))
                                                     : writeFile(dir.filePath(entry.name), "NAME2=secret\r\n");
        ASSERT_TRUE(made) << entry.name.toStdString();
        // Not root: nobody's file cannot be made, so the row checks an own file instead.
        if (entry.kind == Kind::OtherUsersFile && ::geteuid() == 0) {
            ASSERT_EQ(::chown(path.constData(), 65534, 65534), 0);
        }
        const timespec time{static_cast<time_t>(now.toSecsSinceEpoch() - (entry.old ? 120 : 0)), 0};
        const timespec times[2] = {time, time};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.constData(), times, 0), 0);
        if (entry.removed)
            expectedRemoved << entry.name;
    }
    QStringList removed = removeLeftoverTemporaries(dir.path(), now);
    removed.sort();
    expectedRemoved.sort();
    EXPECT_EQ(removed, expectedRemoved);
    for (const auto &entry : entries)
        EXPECT_EQ(QFileInfo(dir.filePath(entry.name)).exists() || QFileInfo(dir.filePath(entry.name)).isSymLink(),
                  !entry.removed)
            << entry.name.toStdString();
    EXPECT_TRUE(QFile::exists(target)) << "a link's target stays";
    EXPECT_TRUE(removeLeftoverTemporaries(dir.filePath(QStringLiteral("missing")), now).isEmpty());
}

} // namespace
} // namespace kingyo
