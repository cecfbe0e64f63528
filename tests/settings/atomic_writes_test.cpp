// One user action replaces each settings file once, so a crash leaves the old file or
// the new one, never a mix.
#include "settings/account_file.h"
#include "settings/app_paths.h"
#include "settings/leftover_files.h"
#include "settings/profile_file.h"
#include "settings/settings_model.h"
#include "support/test_files.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include <sys/inotify.h>
#include <unistd.h>

namespace kingyo {
namespace {

// Renames onto name in folder since watchRenames, as the kernel reports them.
int watchRenames(const QString &folder)
{
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(fd, QFile::encodeName(folder).constData(), IN_MOVED_TO);
    return fd;
}

int renamesOnto(int fd, const QString &name)
{
    alignas(inotify_event) char buffer[64 * 1024];
    int renames = 0;
    for (ssize_t size; (size = ::read(fd, buffer, sizeof buffer)) > 0;)
        for (const char *at = buffer; at < buffer + size;) {
            const auto *event = reinterpret_cast<const inotify_event *>(at);
            renames += event->len > 0 && QFile::decodeName(event->name) == name;
            at += sizeof(inotify_event) + event->len;
        }
    ::close(fd);
    return renames;
}

void writeKeys(const QString &file, const QList<std::pair<QString, QString>> &keys, NewFileAccess access)
{
    for (const auto &[key, value] : keys)
        ASSERT_TRUE(writeProfileStrings(file, QStringLiteral("EXEINI"), {{key, value}}, access));
}

TEST(AtomicWrites, EachActionReplacesItsFileOnceWithTheBytesOfKeyByKeyWrites)
{
    const auto owner = NewFileAccess::OwnerOnly;
    const struct {
        const char *name;
        QString file;      // in "★MailData"
        QByteArray before; // null: no file
        std::function<bool(const AppPaths &)> act;
        QList<std::pair<QString, QString>> keys; // written one by one for the expected bytes
        NewFileAccess access;
    } actions[] = {
        {"account, new file", QStringLiteral("iniIdPass.ini"), QByteArray(),
         [](const AppPaths &p) { return bool(writeAccount(p, {QStringLiteral("me"), QStringLiteral(" pw ")}, true)); },
         {{"NAME", "me"}, {"NAME2", " pw "}, {"NAME3", "1"}}, owner},
        {"account unsaved, own layout", QStringLiteral("iniIdPass.ini"), "; kept\n[exeini]\nname2 = old \n",
         [](const AppPaths &p) { return bool(writeAccount(p, {QStringLiteral("me"), QStringLiteral("pw")}, false)); },
         {{"NAME3", "0"}}, owner},
        {"settings window", QStringLiteral("ini.ini"), "[EXEINI]\r\nNUMBER=0\r\nINTERVAL=5\r\n",
         [](const AppPaths &p) {
             SettingsModel settings(p);
             settings.loadMailWatchOptions();
             settings.setHangUpAfterCheck(true);
             settings.setMailWatch(MailWatchOptions{true, 30, false});
             return bool(settings.storeOptions());
         },
         {{"NUMBER", "1"}, {"NEWONLY", "1"}, {"INTERVAL", "30"}, {"NOTIFY", "0"}}, NewFileAccess::Usual},
    };
    for (const auto &action : actions) {
        SCOPED_TRACE(action.name);
        QTemporaryDir dir, reference;
        const AppPaths paths{.programDir = dir.path()}, referencePaths{.programDir = reference.path()};
        for (const AppPaths &p : {paths, referencePaths}) {
            ASSERT_TRUE(QDir(p.programDir).mkdir(QStringLiteral("★MailData")));
            if (!action.before.isNull()) {
                ASSERT_TRUE(writeFile(p.dataDir() + QLatin1Char('/') + action.file, action.before));
            }
        }
        const int watch = watchRenames(paths.dataDir());
        ASSERT_TRUE(action.act(paths));
        writeKeys(referencePaths.dataDir() + QLatin1Char('/') + action.file, action.keys, action.access);
        EXPECT_EQ(renamesOnto(watch, action.file), 1);
        EXPECT_EQ(contentsOf(paths.dataDir() + QLatin1Char('/') + action.file),
                  contentsOf(referencePaths.dataDir() + QLatin1Char('/') + action.file));
    }
}

TEST(AtomicWrites, AnAccountWriterKilledAtRandomLeavesOneWholeAccountAndNoTemporary)
{
    QTemporaryDir dir;
    const AppPaths paths{.programDir = dir.path()};
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("★MailData")));
    QList<QByteArray> whole;
    for (const char *name : {"alice", "bob"}) {
        ASSERT_TRUE(writeAccount(paths, {QString::fromLatin1(name), QStringLiteral("pie")}, true));
        whole << contentsOf(paths.accountFile());
    }
    std::mt19937 random(15);
    std::uniform_int_distribution<int> microseconds(0, 4000);
    for (int kill = 0; kill < 200; ++kill) {
        QProcess writer;
        writer.start(QStringLiteral(ACCOUNT_WRITER), {dir.path()});
        ASSERT_TRUE(writer.waitForReadyRead(10000));
        std::this_thread::sleep_for(std::chrono::microseconds(microseconds(random)));
        writer.kill();
        ASSERT_TRUE(writer.waitForFinished(10000));
        ASSERT_TRUE(whole.contains(contentsOf(paths.accountFile()))) << "mixed file after kill " << kill;
    }
    removeLeftoverTemporaries(paths.dataDir(), QDateTime::currentDateTimeUtc(), std::chrono::seconds(0));
    EXPECT_EQ(QDir(paths.dataDir()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("iniIdPass.ini")});
}

} // namespace
} // namespace kingyo
