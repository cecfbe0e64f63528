// The temporaries a crash left beside kingyo's files, removed at start.
#include "settings/leftover_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace kingyo {
namespace {

enum class Kind { File, Link, Folder, Fifo, OtherUsersFile };

struct Entry {
    QString name;
    Kind kind;
    bool old; // last changed two minutes before the clean-up
    bool removed;
};

// Sets the time a file, folder or a link's target last changed.
void setChanged(const QString &path, const QDateTime &when)
{
    const timespec time{static_cast<time_t>(when.toSecsSinceEpoch()), 0};
    const timespec times[2] = {time, time};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0) << path.toStdString();
}

void make(const QTemporaryDir &dir, const Entry &entry, const QDateTime &now)
{
    const QString path = dir.filePath(entry.name);
    if (entry.kind == Kind::Folder) {
        ASSERT_TRUE(QDir(dir.path()).mkdir(entry.name));
    } else if (entry.kind == Kind::Fifo) {
        ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (entry.kind == Kind::Link) {
        const QString target = dir.filePath(QStringLiteral("target"));
        ASSERT_TRUE(QFile::exists(target) || QFile(target).open(QIODevice::WriteOnly));
        ASSERT_TRUE(QFile::link(target, path));
    } else {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("NAME=me\r\nNAME2=secret\r\n");
    }
    if (entry.kind == Kind::OtherUsersFile) {
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    }
    setChanged(path, entry.old ? now.addSecs(-120) : now);
}

TEST(LeftoverTemporaries, OnlyOldTemporariesOfOurOwnFilesAreRemoved)
{
    const QString seen = QStringLiteral("seen-0123456789abcdef0123456789abcdef.uidl");
    std::vector<Entry> entries = {
        {QStringLiteral("iniIdPass.ini.AbCdEf"), Kind::File, true, true},
        {QStringLiteral("ini.ini.qwErty"), Kind::File, true, true},
        {QStringLiteral("servers.txt.ZZZZZZ"), Kind::File, true, true},
        {QStringLiteral("vbmail.ini.aaaaaa"), Kind::File, true, true},
        {seen + QStringLiteral(".MnOpQr"), Kind::File, true, true},
        {QStringLiteral("iniIdPass.ini.GhIjKl"), Kind::File, false, false}, // a write in progress
        {QStringLiteral("iniIdPass.ini"), Kind::File, true, false},
        {QStringLiteral("iniIdPass.ini.Ab1dEf"), Kind::File, true, false},
        {QStringLiteral("iniIdPass.ini.AbCdEfG"), Kind::File, true, false},
        {QStringLiteral("seen-xyz.uidl.AbCdEf"), Kind::File, true, false},
        {QStringLiteral("INI.INI.AbCdEf"), Kind::File, true, false},
        {QStringLiteral("servers.txt.LiNkEd"), Kind::Link, true, false},
        {QStringLiteral("ini.ini.FoLdEr"), Kind::Folder, true, false},
        {QStringLiteral("vbmail.ini.FiFoOo"), Kind::Fifo, true, false},
    };
    if (::geteuid() == 0)
        entries.push_back({QStringLiteral("iniIdPass.ini.NoBody"), Kind::OtherUsersFile, true, false});
    else
        std::cout << "not root: the row of another user's file is skipped\n";

    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const Entry &entry : entries)
        make(dir, entry, now);

    QStringList expectedRemoved;
    for (const Entry &entry : entries)
        if (entry.removed)
            expectedRemoved << entry.name;
    QStringList removed = removeLeftoverTemporaries(dir.path(), now);
    removed.sort();
    expectedRemoved.sort();
    EXPECT_EQ(removed, expectedRemoved);
    for (const Entry &entry : entries)
        EXPECT_EQ(QFileInfo(dir.filePath(entry.name)).exists() || QFileInfo(dir.filePath(entry.name)).isSymLink(),
                  !entry.removed)
            << entry.name.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("target")))) << "a link's target stays";
}

TEST(LeftoverTemporaries, AMissingFolderRemovesNothing)
{
    QTemporaryDir dir;
    EXPECT_TRUE(removeLeftoverTemporaries(dir.filePath(QStringLiteral("missing")), QDateTime::currentDateTimeUtc())
                    .isEmpty());
}

} // namespace
} // namespace kingyo
