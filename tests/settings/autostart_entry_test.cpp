#include "settings/autostart_entry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace kingyo {
namespace {

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void putFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(contents);
}

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

struct AutostartWorld {
    QTemporaryDir dir;
    QString entry = dir.filePath(QStringLiteral("config/autostart/io.github.kingyo.desktop"));
};

TEST(AutostartEntry, TickingWritesTheEntryAndUntickingRemovesIt)
{
    AutostartWorld world;
    const QString program = QStringLiteral("/opt/kingyo/bin/kingyo");
    ASSERT_FALSE(isAutostartEnabled(world.entry));

    ASSERT_TRUE(setAutostartEnabled(world.entry, program, true));
    EXPECT_TRUE(isAutostartEnabled(world.entry));
    EXPECT_EQ(entryLines(world.entry),
              QStringList({"Exec=/opt/kingyo/bin/kingyo", "Icon=kingyo", "Name=kingyo", "Type=Application",
                           "X-GNOME-Autostart-enabled=true", "[Desktop Entry]"}));
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
        putFile(world.entry, contents);
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
    for (const auto &[program, exec] : cases)
        EXPECT_EQ(desktopExecArgument(program), exec) << program.toStdString();
}

TEST(AutostartEntry, IsAValidDesktopEntryForAnAwkwardPath)
{
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed (scripts/install-deps test)";
    AutostartWorld world;
    for (const QString &program :
         {QStringLiteral("/usr/bin/kingyo"), QStringLiteral("/home/me/My \"Apps\" $1 `x` \\ (a)/kingyo")}) {
        ASSERT_TRUE(setAutostartEnabled(world.entry, program, true));
        QProcess validate;
        validate.start(validator, {world.entry});
        ASSERT_TRUE(validate.waitForFinished(10000));
        EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().constData();
        EXPECT_TRUE(validate.readAllStandardOutput().isEmpty());
    }
}

} // namespace
} // namespace kingyo
