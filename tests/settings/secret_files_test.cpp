// Files that hold a secret end readable by their owner only, on the file a link leads to
// too; the other settings files keep their mode.
#include "settings/account_file.h"
#include "settings/app_paths.h"
#include "settings/server_trust.h"
#include "settings/settings_option.h"
#include "support/test_files.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

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
         [](const AppPaths &p) { return writeAccount(p, {QStringLiteral("me"), QStringLiteral("pass")}, true); }, true},
        {"trust store", &AppPaths::serverTrustFile,
         [](const AppPaths &p) {
             return ServerTrust(p.serverTrustFile()).pinCertificate(QStringLiteral("pop.example.jp:995"), QByteArray(64, 'c'));
         },
         true},
        {"option file", &AppPaths::optionFile, [](const AppPaths &p) { return writeOptionFile(p, true, std::nullopt); },
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

} // namespace
} // namespace kingyo
