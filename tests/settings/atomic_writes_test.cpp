// One user action replaces each settings file once, so a crash leaves the old file or
// the new one, never a mix.
#include "settings/account_file.h"
#include "settings/app_paths.h"
#include "settings/leftover_files.h"
#include "settings/profile_file.h"
#include "settings/settings_model.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <random>
#include <thread>

#include <sys/inotify.h>
#include <unistd.h>

namespace kingyo {
namespace {

// Counts the renames onto each name in a folder, as the kernel reports them.
class RenameCounter {
public:
    explicit RenameCounter(const QString &folder)
        : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        // Both ends of each rename: the kernel merges an event that repeats the one before.
        ::inotify_add_watch(fd_, QFile::encodeName(folder).constData(), IN_MOVED_FROM | IN_MOVED_TO);
    }
    ~RenameCounter() { ::close(fd_); }
    RenameCounter(const RenameCounter &) = delete;
    RenameCounter &operator=(const RenameCounter &) = delete;

    // The renames onto name since the counter started.
    int renamesOnto(const QString &name)
    {
        alignas(inotify_event) char buffer[64 * 1024];
        for (ssize_t size; (size = ::read(fd_, buffer, sizeof buffer)) > 0;) {
            for (const char *at = buffer; at < buffer + size;) {
                const auto *event = reinterpret_cast<const inotify_event *>(at);
                if ((event->mask & IN_MOVED_TO) && event->len > 0)
                    ++renames_[QFile::decodeName(event->name)];
                at += sizeof(inotify_event) + event->len;
            }
        }
        return renames_[name];
    }

private:
    int fd_;
    std::map<QString, int> renames_;
};

struct Action {
    const char *name;
    QString file;        // in "★MailData"
    QByteArray before;   // the file's contents before; null: no file
    std::function<bool(const AppPaths &)> act;
    // What the file held when each key was written by itself.
    std::function<void(const AppPaths &)> keyByKey;
};

bool closeSettingsWindow(const AppPaths &paths, const MailWatchOptions &options)
{
    SettingsModel settings(paths);
    settings.loadMailWatchOptions();
    settings.setHangUpAfterCheck(true);
    settings.setMailWatch(options);
    return settings.storeOptions();
}

void writeKeys(const QString &file, const QList<std::pair<QString, QString>> &keys, NewFileAccess access)
{
    for (const auto &[key, value] : keys)
        ASSERT_TRUE(writeProfileStrings(file, QStringLiteral("EXEINI"), {{key, value}}, access));
}

const QByteArray kOddFile = "; kept\n[OTHER]\nNAME=x\n[exeini]\nname2 = old \nZ=1\n\n[LAST]\n";
const QString kAccount = QStringLiteral("iniIdPass.ini");
const QString kOptions = QStringLiteral("ini.ini");
const MailWatchOptions kChanged{true, 30, false};

const Action kActions[] = {
    {"account, save box ticked, new file", kAccount, QByteArray(),
     [](const AppPaths &p) { return writeAccount(p, {QStringLiteral("me"), QStringLiteral("pw")}, true); },
     [](const AppPaths &p) {
         writeKeys(p.accountFile(), {{"NAME", "me"}, {"NAME2", "pw"}, {"NAME3", "1"}}, NewFileAccess::OwnerOnly);
     }},
    {"account, save box ticked, a file of its own layout", kAccount, kOddFile,
     [](const AppPaths &p) { return writeAccount(p, {QStringLiteral("me"), QStringLiteral(" pw ")}, true); },
     [](const AppPaths &p) {
         writeKeys(p.accountFile(), {{"NAME", "me"}, {"NAME2", " pw "}, {"NAME3", "1"}}, NewFileAccess::OwnerOnly);
     }},
    {"account, save box unticked", kAccount, kOddFile,
     [](const AppPaths &p) { return writeAccount(p, {QStringLiteral("me"), QStringLiteral("pw")}, false); },
     [](const AppPaths &p) { writeKeys(p.accountFile(), {{"NAME3", "0"}}, NewFileAccess::OwnerOnly); }},
    {"settings window, mail watcher changed", kOptions, "[EXEINI]\r\nNUMBER=0\r\nINTERVAL=5\r\n",
     [](const AppPaths &p) { return closeSettingsWindow(p, kChanged); },
     [](const AppPaths &p) {
         writeKeys(p.optionFile(), {{"NUMBER", "1"}, {"NEWONLY", "1"}, {"INTERVAL", "30"}, {"NOTIFY", "0"}},
                   NewFileAccess::Usual);
     }},
    {"settings window, mail watcher as stored", kOptions, "; mine\r\n[EXEINI]\r\nNUMBER=0\r\nINTERVAL=5\r\n",
     [](const AppPaths &p) { return closeSettingsWindow(p, MailWatchOptions{false, 5, true}); },
     [](const AppPaths &p) { writeKeys(p.optionFile(), {{"NUMBER", "1"}}, NewFileAccess::Usual); }},
};

TEST(AtomicWrites, EachActionReplacesItsFileOnceWithTheBytesOfKeyByKeyWrites)
{
    for (const Action &action : kActions) {
        SCOPED_TRACE(action.name);
        QTemporaryDir dir;
        QTemporaryDir reference;
        const AppPaths paths{.programDir = dir.path()};
        const AppPaths referencePaths{.programDir = reference.path()};
        for (const AppPaths &p : {paths, referencePaths}) {
            ASSERT_TRUE(QDir(p.programDir).mkdir(QStringLiteral("★MailData")));
            if (!action.before.isNull()) {
                ASSERT_TRUE(writeFile(p.dataDir() + QLatin1Char('/') + action.file, action.before));
            }
        }
        RenameCounter counter(paths.dataDir());

        ASSERT_TRUE(action.act(paths));
        action.keyByKey(referencePaths);
        EXPECT_EQ(counter.renamesOnto(action.file), 1);
        const QString file = QStringLiteral("/★MailData/") + action.file;
        EXPECT_EQ(contentsOf(dir.path() + file), contentsOf(reference.path() + file));
    }
}

// Entries that an atomic write's temporary left in folder.
int temporariesIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("iniIdPass.ini.*")}, QDir::Files | QDir::Hidden).size();
}

TEST(AtomicWrites, AnAccountWriterKilledAtRandomLeavesOneWholeAccount)
{
    QTemporaryDir dir;
    const AppPaths paths{.programDir = dir.path()};
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("★MailData")));
    ASSERT_TRUE(writeAccount(paths, {QStringLiteral("bob"), QStringLiteral("banana-split")}, true));
    const QByteArray b = contentsOf(paths.accountFile());
    ASSERT_TRUE(writeAccount(paths, {QStringLiteral("alice"), QStringLiteral("apple-pie")}, true));
    const QByteArray a = contentsOf(paths.accountFile());

    std::mt19937 random(15);
    std::uniform_int_distribution<int> microseconds(0, 4000);
    constexpr int kKills = 200;
    int mixed = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        QProcess writer;
        writer.start(QStringLiteral(ACCOUNT_WRITER), {dir.path()});
        ASSERT_TRUE(writer.waitForReadyRead(10000)) << "the writer did not start";
        std::this_thread::sleep_for(std::chrono::microseconds(microseconds(random)));
        writer.kill();
        ASSERT_TRUE(writer.waitForFinished(10000));
        const QByteArray now = contentsOf(paths.accountFile());
        if (now != a && now != b) {
            ++mixed;
            ADD_FAILURE() << "after kill " << kill << ": " << now.toStdString();
        }
    }
    const int leftBehind = temporariesIn(paths.dataDir());
    const QStringList removed =
        removeLeftoverTemporaries(paths.dataDir(), QDateTime::currentDateTimeUtc(), std::chrono::seconds(0));
    std::cout << "kills " << kKills << ", mixed files " << mixed << ", temporaries left " << leftBehind
              << ", after the clean-up " << temporariesIn(paths.dataDir()) << '\n';
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(removed.size(), leftBehind);
    EXPECT_EQ(temporariesIn(paths.dataDir()), 0);
    EXPECT_TRUE(contentsOf(paths.accountFile()) == a || contentsOf(paths.accountFile()) == b);
}

} // namespace
} // namespace kingyo
