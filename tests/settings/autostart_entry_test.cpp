#include "settings/autostart_entry.h"

#include "settings/app_paths.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace kingyo {
namespace {

mode_t modeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// The lines of an entry, sorted.
QStringList entryLines(const QString &path)
{
    QStringList lines = QString::fromUtf8(contentsOf(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.sort();
    return lines;
}

ino_t inodeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

struct AutostartWorld {
    QTemporaryDir dir;
    QString entry = dir.filePath(QStringLiteral("config/autostart/io.github.kingyo.desktop"));

    // An executable file at name under the world's folder, with its folder.
    QString program(const QString &name) const
    {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
};

TEST(AutostartEntry, TickingWritesTheEntryAndUntickingRemovesIt)
{
    AutostartWorld world;
    const AutostartLaunch program{.executable = QStringLiteral("/opt/kingyo/bin/kingyo")};
    ASSERT_FALSE(isAutostartEnabled(world.entry));

    ASSERT_TRUE(setAutostartEnabled(world.entry, program, true));
    EXPECT_TRUE(isAutostartEnabled(world.entry));
    EXPECT_EQ(entryLines(world.entry),
              QStringList({"Exec=/opt/kingyo/bin/kingyo", "Icon=kingyo", "Name=kingyo", "Type=Application",
                           "X-GNOME-Autostart-enabled=true", "X-Kingyo-Autostart=true",
                           "[Desktop Entry]"}));
    EXPECT_TRUE(contentsOf(world.entry).startsWith("[Desktop Entry]\n"));
    EXPECT_EQ(modeOf(world.dir.filePath(QStringLiteral("config"))), 0700u);
    EXPECT_EQ(modeOf(world.dir.filePath(QStringLiteral("config/autostart"))), 0700u);
    EXPECT_EQ(QDir(QFileInfo(world.entry).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("io.github.kingyo.desktop")})
        << "no temporary file is left behind";

    ASSERT_TRUE(setAutostartEnabled(world.entry, program, false));
    EXPECT_FALSE(QFileInfo::exists(world.entry));
    EXPECT_FALSE(isAutostartEnabled(world.entry));
    EXPECT_TRUE(setAutostartEnabled(world.entry, program, false)) << "nothing to remove is fine";
}

TEST(AutostartEntry, StateIsReadFromTheEntry)
{
    const std::pair<QByteArray, bool> cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=kingyo\n", true},
        {"[Desktop Entry]\nExec=kingyo\nHidden=true\n", false},
        {"[Desktop Entry]\nExec=kingyo\nHidden = true\n", false},
        {"[Desktop Entry]\nExec=kingyo\nHidden=false\n", true},
        {"[Desktop Entry]\nExec=kingyo\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\r\nExec=kingyo\r\nHidden=true\r\n", false},
        {"[Desktop Entry]\nExec=kingyo\n[Desktop Action off]\nHidden=true\n", true},
        {"# Hidden=true\n[Desktop Entry]\nExec=kingyo\n", true},
    };
    AutostartWorld world;
    QDir().mkpath(QFileInfo(world.entry).absolutePath());
    for (const auto &[contents, enabled] : cases) {
        ASSERT_TRUE(writeFile(world.entry, contents));
        EXPECT_EQ(isAutostartEnabled(world.entry), enabled) << contents.constData();
    }
    EXPECT_FALSE(isAutostartEnabled(QString()));
}

TEST(AutostartEntry, ExecQuotesAPathThatNeedsIt)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("/usr/bin/kingyo"), QStringLiteral("/usr/bin/kingyo")},
        {QStringLiteral("/home/me/My Apps/kingyo"), QStringLiteral("\"/home/me/My Apps/kingyo\"")},
        {QStringLiteral("/home/me/金魚/kingyo"), QStringLiteral("/home/me/金魚/kingyo")},
        {QStringLiteral("/tmp/a\"b/kingyo"), QStringLiteral("\"/tmp/a\\\\\"b/kingyo\"")},
        {QStringLiteral("/tmp/$HOME`x`/kingyo"), QStringLiteral("\"/tmp/\\\\$HOME\\\\`x\\\\`/kingyo\"")},
        {QStringLiteral("/tmp/back\\slash/kingyo"), QStringLiteral("\"/tmp/back\\\\\\\\slash/kingyo\"")},
        {QStringLiteral("/tmp/it's (mine)/kingyo"), QStringLiteral("\"/tmp/it's (mine)/kingyo\"")},
        {QStringLiteral("/opt/100%/kingyo"), QStringLiteral("/opt/100%%/kingyo")},
        {QStringLiteral("/tmp/tab\there/kingyo"), QStringLiteral("\"/tmp/tab\\there/kingyo\"")},
    };
    for (const auto &[program, exec] : cases) {
        EXPECT_EQ(desktopExecArgument(program), exec) << program.toStdString();
        EXPECT_EQ(desktopExecProgram(exec), program) << "read back";
    }
}

TEST(AutostartEntry, APortableCopyStartsInTheFolderOfItsServerFile)
{
    const QString here = QStringLiteral("/media/usb/★ 金魚");
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("vbmail.ini"), here},                // portable: read from the current folder
        {QStringLiteral("/home/me/.local/share/kingyo/vbmail.ini"), QString()}, // installed
    };
    for (const auto &[serverFile, folder] : cases) {
        AppPaths paths;
        paths.serverFile = serverFile;
        paths.executable = QStringLiteral("/media/usb/★ 金魚/kingyo");
        EXPECT_EQ(autostartLaunchOf(paths, here), (AutostartLaunch{paths.executable, folder}))
            << serverFile.toStdString();
    }
}

TEST(AutostartEntry, TheFolderIsWrittenAsOneEscapedLine)
{
    const QString text = QString::fromUtf8(autostartEntryText({QStringLiteral("/k/kingyo"), QStringLiteral("/tmp/★\nx")}));
    EXPECT_EQ(text.split(u'\n').filter(QRegularExpression(QStringLiteral("^Path="))), QStringList{QStringLiteral("Path=/tmp/★\\nx")});
}

TEST(AutostartEntry, IsAValidDesktopEntryForAnAwkwardPath)
{
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    ASSERT_FALSE(validator.isEmpty()) << "desktop-file-validate is missing: scripts/install-deps test installs it";
    AutostartWorld world;
    const AutostartLaunch launches[] = {
        {QStringLiteral("/usr/bin/kingyo"), QString()},
        {QStringLiteral("/home/me/My \"Apps\" $1 `x` \\ (a)/kingyo"), QStringLiteral("/home/me/★ 金魚 \\ $1")},
    };
    for (const AutostartLaunch &launch : launches) {
        ASSERT_TRUE(setAutostartEnabled(world.entry, launch, true));
        QProcess validate;
        validate.start(validator, {world.entry});
        ASSERT_TRUE(validate.waitForFinished(10000));
        EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().constData();
        EXPECT_TRUE(validate.readAllStandardOutput().isEmpty());
    }
}

// Anything but our entry with a moved copy stays byte for byte, not even rewritten.
TEST(AutostartEntry, OnlyAnEntryOfOursWhoseCopyMovedIsRewrittenAtStart)
{
    struct Case {
        const char *name;
        QString entry; // %1: a program that is there (in Exec's quoting), %2: a folder that is there
        AutostartRepair repair;
    };
    const QString ours = QStringLiteral("X-Kingyo-Autostart=true\n");
    const Case cases[] = {
        {"moved", "[Desktop Entry]\nExec=/gone/kingyo\nPath=%2\n" + ours, AutostartRepair::Rewritten},
        {"right", "[Desktop Entry]\nExec=%1\nPath=%2\n" + ours, AutostartRepair::Untouched},
        {"foreign_unmarked", "[Desktop Entry]\nExec=/gone/kingyo\n", AutostartRepair::Untouched},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AutostartWorld world;
        const QString elsewhere = world.program(QStringLiteral("old place/★ copy/kingyo"));
        const AutostartLaunch running{world.program(QStringLiteral("new place/kingyo")), world.dir.path()};
        QDir().mkpath(QFileInfo(world.entry).absolutePath());
        const QByteArray before =
            c.entry.arg(desktopExecArgument(elsewhere), QFileInfo(elsewhere).absolutePath()).toUtf8();
        ASSERT_TRUE(writeFile(world.entry, before));
        const ino_t file = inodeOf(world.entry);

        EXPECT_EQ(repairMovedAutostartEntry(world.entry, running), c.repair);
        if (c.repair == AutostartRepair::Rewritten) {
            EXPECT_EQ(contentsOf(world.entry), autostartEntryText(running));
        } else {
            EXPECT_EQ(contentsOf(world.entry), before);
            EXPECT_EQ(inodeOf(world.entry), file) << "not even rewritten as it was";
        }
    }
}

} // namespace
} // namespace kingyo
