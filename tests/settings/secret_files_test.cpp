// Files that hold a secret end readable by their owner only, on the file a link leads to
// too; the other settings files keep their mode.
#include "settings/account_file.h"
#include "settings/app_paths.h"
#include "settings/refresh_token_keeper.h"
#include "settings/server_trust.h"
#include "settings/settings_option.h"
#include "support/test_files.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace kingyo {
namespace {

TEST(SecretFiles, EndForTheOwnerOnlyThroughALinkWhileOtherFilesKeepTheirMode)
{
    const struct {
        const char *name;
        std::function<QString(const AppPaths &)> file;
        std::function<bool(const AppPaths &)> write;
        bool secret;
    } writers[] = {
        {"account", &AppPaths::accountFile,
         [](const AppPaths &p) { return bool(writeAccount(p, {QStringLiteral("me"), QStringLiteral("pass")}, true)); }, true},
        {"trust store", &AppPaths::serverTrustFile,
         [](const AppPaths &p) {
             return ServerTrust(p.serverTrustFile()).pinCertificate(QStringLiteral("pop.example.jp:995"), QByteArray(64, 'c'));
         },
         true},
        {"option file", &AppPaths::optionFile, [](const AppPaths &p) { return bool(writeOptionFile(p, true, std::nullopt)); },
         false},
    };
    const auto readable = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    for (const auto &writer : writers) {
        SCOPED_TRACE(writer.name);
        QTemporaryDir dir;
        const AppPaths paths{.programDir = dir.path()};
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("★MailData")));
        const QString target = dir.filePath(QStringLiteral("target"));
        ASSERT_TRUE(writeFile(target, QByteArray()));
        ASSERT_TRUE(QFile::setPermissions(target, readable));
        ASSERT_TRUE(QFile::link(target, writer.file(paths)));

        ASSERT_TRUE(writer.write(paths));
        EXPECT_NE(contentsOf(target), QByteArray()) << "written through the link";
        EXPECT_EQ(QFile::permissions(target) & 0x0fff,
                  writer.secret ? (QFileDevice::ReadUser | QFileDevice::WriteUser) : readable);
        EXPECT_TRUE(QFileInfo(writer.file(paths)).isSymLink()) << "a link is followed, not replaced";
    }
}

// Without a keyring the sign-in's refresh token has a file of its own, for its owner
// alone; a link someone put in that file's place is neither written nor read through.
TEST(SecretFiles, TheRefreshTokenFileIsPrivateAndALinkInItsPlaceIsNotFollowed)
{
    using Plant = std::function<bool(const QString &path, const QString &elsewhere)>;
    const struct {
        const char *name;
        Plant plant;
        bool stored;
    } places[] = {
        {"nothing", [](const QString &, const QString &) { return true; }, true},
        {"link", [](const QString &path, const QString &elsewhere) {
             return writeFile(elsewhere, "theirs") && QFile::link(elsewhere, path);
         }, false},
    };
    const QString token = QStringLiteral("1//refresh-token");
    for (const auto &place : places) {
        SCOPED_TRACE(place.name);
        QTemporaryDir dir;
        const AppPaths paths{.programDir = dir.path()};
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("★MailData")));
        ASSERT_TRUE(writeAccount(paths, {QStringLiteral("me"), QStringLiteral("old-password")}, true));
        ASSERT_TRUE(writeSignIn(paths, knownSignIn(SignIn::Provider::Microsoft), QStringLiteral("me@example.jp")));
        EXPECT_FALSE(contentsOf(paths.accountFile()).contains("old-password")) << "a sign-in has no password";
        const QString path = paths.dataDir() + u'/' + RefreshTokenKeeper::fileName();
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
        ASSERT_TRUE(place.plant(path, elsewhere));

        RefreshTokenKeeper keeper(paths);
        std::optional<bool> stored;
        keeper.keep(token, [&stored](RefreshTokenKeeper::Kept kept) { stored = kept == RefreshTokenKeeper::Kept::Stored; });
        ASSERT_TRUE(QTest::qWaitFor([&stored] { return stored.has_value(); }));
        EXPECT_EQ(*stored, place.stored);
        EXPECT_EQ(keeper.token(), token) << "in use for the run either way";
        RefreshTokenKeeper next(paths);
        QSignalSpy loaded(&next, &RefreshTokenKeeper::loaded);
        next.load();
        ASSERT_TRUE(loaded.wait(5000));
        EXPECT_EQ(next.token(), place.stored ? token : QString());
        if (place.stored)
            EXPECT_EQ(QFile::permissions(path) & 0x0fff, QFileDevice::ReadUser | QFileDevice::WriteUser);
        else
            EXPECT_EQ(contentsOf(elsewhere), QFileInfo::exists(elsewhere) ? QByteArray("theirs") : "<missing>");
        EXPECT_FALSE(contentsOf(paths.accountFile()).contains(token.toLatin1()));
    }
}

} // namespace
} // namespace kingyo
