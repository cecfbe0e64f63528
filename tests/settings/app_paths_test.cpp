#include "settings/account_file.h"
#include "settings/app_paths.h"
#include "settings/settings_model.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace kingyo {
namespace {

mode_t modeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

void putFile(const QString &path, const QByteArray &contents = "in the way")
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(contents);
}

// Every file and folder under root, relative to it, sorted.
QStringList treeOf(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

// A fresh world: an executable in bin/, a home folder, and the environment to decide in.
struct PathsWorld {
    QTemporaryDir root;
    QString bin = root.filePath(QStringLiteral("bin"));
    QString home = root.filePath(QStringLiteral("home"));

    PathsWorld()
    {
        QDir().mkpath(bin);
        QDir().mkpath(home);
    }

    PathsDecision decide(const QProcessEnvironment &environment) const
    {
        return decideAppPaths({bin + QStringLiteral("/kingyo"), home, environment});
    }
};

TEST(AppPaths, PortableWhenTheDataFolderLiesBesideTheExecutable)
{
    PathsWorld world;
    ASSERT_TRUE(QDir(world.bin).mkdir(QStringLiteral("★MailData")));
    const QStringList homeBefore = treeOf(world.home);

    QProcessEnvironment environment;
    environment.insert(QStringLiteral("XDG_DATA_HOME"), world.root.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("relative/config"));
    const PathsDecision decision = world.decide(environment);
    EXPECT_FALSE(decision.paths.installed);
    EXPECT_TRUE(decision.problem.isEmpty());
    EXPECT_EQ(decision.paths.programDir, world.bin);
    EXPECT_EQ(decision.paths.serverFile, QStringLiteral("vbmail.ini")) << "the server file stays in the current folder";
    EXPECT_EQ(decision.paths.executable, world.bin + QStringLiteral("/kingyo"));
    EXPECT_EQ(decision.paths.autostartEntry, world.home + QStringLiteral("/.config/autostart/io.github.kingyo.desktop"))
        << "a relative XDG_CONFIG_HOME counts as unset";
    EXPECT_EQ(treeOf(world.home), homeBefore);
    EXPECT_FALSE(QFileInfo::exists(world.root.filePath(QStringLiteral("data"))));
}

TEST(AppPaths, InstalledUsesThePerUserFolderMadeForTheOwnerOnly)
{
    struct Case {
        const char *name;
        std::optional<QString> xdgDataHome; // relative to the world's root when not absolute
        QString expectedBase;               // relative to the world's root
        QStringList createdFolders;         // relative to the world's root, each 0700
    };
    const Case cases[] = {
        {"unset", std::nullopt, QStringLiteral("home/.local/share"),
         {QStringLiteral("home/.local"), QStringLiteral("home/.local/share")}},
        {"empty", QString(), QStringLiteral("home/.local/share"),
         {QStringLiteral("home/.local"), QStringLiteral("home/.local/share")}},
        {"relative", QStringLiteral("data"), QStringLiteral("home/.local/share"),
         {QStringLiteral("home/.local"), QStringLiteral("home/.local/share")}},
        {"absolute", QStringLiteral("/xdg/data"), QStringLiteral("xdg/data"),
         {QStringLiteral("xdg"), QStringLiteral("xdg/data")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PathsWorld world;
        // A "★MailData" that is a file does not make a copy portable.
        putFile(world.bin + QStringLiteral("/★MailData"));
        QProcessEnvironment environment;
        if (c.xdgDataHome) {
            const QString value = c.xdgDataHome->startsWith(QLatin1Char('/'))
                ? world.root.path() + *c.xdgDataHome
                : *c.xdgDataHome;
            environment.insert(QStringLiteral("XDG_DATA_HOME"), value);
            environment.insert(QStringLiteral("XDG_CONFIG_HOME"), value + QStringLiteral("-config"));
        }

        const PathsDecision decision = world.decide(environment);
        const QString folder = world.root.filePath(c.expectedBase + QStringLiteral("/kingyo"));
        EXPECT_TRUE(decision.paths.installed);
        EXPECT_TRUE(decision.problem.isEmpty()) << decision.problem.toStdString();
        EXPECT_EQ(decision.paths.programDir, folder);
        EXPECT_EQ(decision.paths.serverFile, folder + QStringLiteral("/vbmail.ini"));
        EXPECT_EQ(decision.paths.dataDir(), folder + QStringLiteral("/★MailData"));
        // XDG_CONFIG_HOME, set beside XDG_DATA_HOME, follows the same rule.
        const QString configBase = c.expectedBase.startsWith(QLatin1String("home/"))
            ? QStringLiteral("home/.config")
            : c.expectedBase + QStringLiteral("-config");
        EXPECT_EQ(decision.paths.autostartEntry,
                  world.root.filePath(configBase + QStringLiteral("/autostart/io.github.kingyo.desktop")));
        QStringList privateFolders = c.createdFolders;
        privateFolders << c.expectedBase + QStringLiteral("/kingyo")
                       << c.expectedBase + QStringLiteral("/kingyo/★MailData");
        for (const QString &created : privateFolders) {
            EXPECT_TRUE(QFileInfo(world.root.filePath(created)).isDir()) << created.toStdString();
            EXPECT_EQ(modeOf(world.root.filePath(created)), 0700u) << created.toStdString();
        }
        EXPECT_FALSE(QFileInfo::exists(QStringLiteral("data"))) << "a relative XDG_DATA_HOME is not used";
    }
}

TEST(AppPaths, ExistingFoldersKeepTheirModeAndAreUsed)
{
    PathsWorld world;
    const QString folder = world.home + QStringLiteral("/.local/share/kingyo");
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/★MailData")));
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder + QStringLiteral("/★MailData")).constData(), 0750), 0);
    putFile(folder + QStringLiteral("/vbmail.ini"), "POP3=kept\r\n");

    const PathsDecision decision = world.decide({});
    EXPECT_TRUE(decision.problem.isEmpty()) << decision.problem.toStdString();
    EXPECT_EQ(modeOf(folder), 0755u);
    EXPECT_EQ(modeOf(folder + QStringLiteral("/★MailData")), 0750u);
    SettingsModel settings(decision.paths);
    settings.loadServerFile();
    EXPECT_EQ(settings.state().pop3Server, QStringLiteral("kept"));
}

TEST(AppPaths, APerUserFolderThatOthersOwnOrMayWriteIsNeitherReadNorWritten)
{
    struct Case {
        const char *name;
        QString folder; // within the per-user folder; empty: the per-user folder itself
        mode_t mode;
        bool ownedByAnother;
        bool reachedByLink; // the per-user folder is a link to the real one
        bool used;
    };
    const QString data = QStringLiteral("★MailData");
    const Case cases[] = {
        {"per-user folder open to its group", {}, 0770, false, false, false},
        {"data folder writable by its group", data, 0720, false, false, false},
        {"per-user folder of another user", {}, 0700, true, false, false},
        {"readable by all, written by the user alone", {}, 0755, false, false, true},
        {"a link to a folder of the user alone", {}, 0700, false, true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.ownedByAnother && ::geteuid() != 0)
            continue; // only root can give a folder away
        PathsWorld world;
        const QString kingyo = world.home + QStringLiteral("/.local/share/kingyo");
        const QString real = c.reachedByLink ? world.root.filePath(QStringLiteral("dotfiles/kingyo")) : kingyo;
        ASSERT_TRUE(QDir().mkpath(real + QLatin1Char('/') + data));
        if (c.reachedByLink) {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(kingyo).path()));
            ASSERT_TRUE(QFile::link(real, kingyo));
        }
        putFile(real + QStringLiteral("/vbmail.ini"), "POP3=planted\r\n");
        const QByteArray folder = QFile::encodeName(real + QLatin1Char('/') + c.folder);
        ASSERT_EQ(::chmod(folder.constData(), c.mode), 0);
        if (c.ownedByAnother) {
            ASSERT_EQ(::chown(folder.constData(), 65534, 65534), 0);
        }
        const QStringList before = treeOf(world.root.path());

        const PathsDecision decision = world.decide({});
        EXPECT_EQ(decision.problem.isEmpty(), c.used) << decision.problem.toStdString();
        SettingsModel settings(decision.paths);
        settings.loadServerFile();
        EXPECT_EQ(settings.state().pop3Server == QStringLiteral("planted"), c.used);
        EXPECT_EQ(bool(settings.confirmAccount({QStringLiteral("me"), QStringLiteral("secret")}, true)), c.used);
        EXPECT_EQ(decision.paths.privateFolders().isEmpty(), !c.used);
        if (!c.used) {
            EXPECT_EQ(treeOf(world.root.path()), before) << "nothing was stored";
        }
    }
}

TEST(AppPaths, AFolderThatCannotBeMadeStoresNothing)
{
    struct Case {
        const char *name;
        QString fileInTheWay; // relative to home
        bool serverFileStored; // the per-user folder itself could be made
    };
    const Case cases[] = {
        {"a file where the data home should be", QStringLiteral(".local"), false},
        {"a file where the per-user folder should be", QStringLiteral(".local/share/kingyo"), false},
        {"a file where its data folder should be", QStringLiteral(".local/share/kingyo/★MailData"), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PathsWorld world;
        const QString blocker = world.home + QLatin1Char('/') + c.fileInTheWay;
        QDir().mkpath(QFileInfo(blocker).absolutePath());
        putFile(blocker);
        const QStringList before = treeOf(world.root.path());

        const PathsDecision decision = world.decide({});
        EXPECT_TRUE(decision.paths.installed);
        EXPECT_FALSE(decision.problem.isEmpty());
        SettingsModel settings(decision.paths);
        EXPECT_EQ(bool(settings.storeServer(QStringLiteral("smtp"), QStringLiteral("pop"),
                                            QStringLiteral("me@example.jp"), true)),
                  c.serverFileStored);
        EXPECT_FALSE(settings.confirmAccount({QStringLiteral("me"), QStringLiteral("secret")}, true));
        EXPECT_FALSE(settings.storeOptions());
        EXPECT_TRUE(readAccount(decision.paths).userId.isEmpty());
        QStringList after = treeOf(world.root.path());
        after.removeAll(QStringLiteral("home/.local/share/kingyo/vbmail.ini"));
        EXPECT_EQ(after, before) << "nothing but the server file was stored";
        QFile blockerFile(blocker);
        ASSERT_TRUE(blockerFile.open(QIODevice::ReadOnly));
        EXPECT_EQ(blockerFile.readAll(), "in the way");
    }
}

} // namespace
} // namespace kingyo
