// Files that hold a secret end readable by their owner only, on the file a link leads to
// too; the other settings files keep their mode.
#include "mail/seen_messages.h"
#include "settings/account_file.h"
#include "settings/app_paths.h"
#include "settings/server_trust.h"
#include "settings/settings_option.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace kingyo {
namespace {

mode_t modeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// One of kingyo's writers, storing into the "★MailData" of programDir.
struct Writer {
    const char *name;
    std::function<QString(const AppPaths &)> file;
    std::function<bool(const AppPaths &)> write;
    QByteArray stored; // a part of what the write stores
    bool secret;
};

const QByteArray kPrint(64, 'c');

const Writer kWriters[] = {
    {"account", [](const AppPaths &paths) { return paths.accountFile(); },
     [](const AppPaths &paths) { return writeAccount(paths, {QStringLiteral("me"), QStringLiteral("pass")}, true); },
     "NAME2=pass", true},
    {"trust store", [](const AppPaths &paths) { return paths.serverTrustFile(); },
     [](const AppPaths &paths) {
         return ServerTrust(paths.serverTrustFile()).pinCertificate(QStringLiteral("pop.example.jp:995"), kPrint);
     },
     kPrint, true},
    {"seen IDs",
     [](const AppPaths &paths) {
         return SeenMessageStore(paths.dataDir(), QStringLiteral("pop.example.jp"), QStringLiteral("me")).path();
     },
     [](const AppPaths &paths) {
         return SeenMessageStore(paths.dataDir(), QStringLiteral("pop.example.jp"), QStringLiteral("me"))
             .save({"uid-1"});
     },
     "uid-1", true},
    {"option file", [](const AppPaths &paths) { return paths.optionFile(); },
     [](const AppPaths &paths) { return writeOptionFile(paths, true, std::nullopt); }, "NUMBER=1", false},
};

TEST(SecretFiles, EndForTheOwnerOnlyEvenThroughALinkWhileOtherFilesKeepTheirMode)
{
    for (const Writer &writer : kWriters) {
        for (const bool throughLink : {true, false}) {
            SCOPED_TRACE(std::string(writer.name) + (throughLink ? ", a link to a 0644 file" : ", a 0640 file"));
            QTemporaryDir dir;
            const AppPaths paths{.programDir = dir.path()};
            ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("★MailData/elsewhere")));
            const QString file = writer.file(paths);
            const QString written = throughLink ? paths.dataDir() + QStringLiteral("/elsewhere/dotfile") : file;
            QFile(written).open(QIODevice::WriteOnly);
            const mode_t before = throughLink ? 0644 : 0640;
            ASSERT_EQ(::chmod(QFile::encodeName(written).constData(), before), 0);
            if (throughLink) {
                ASSERT_TRUE(QFile::link(written, file));
            }

            ASSERT_TRUE(writer.write(paths));
            EXPECT_TRUE(contentsOf(written).contains(writer.stored));
            EXPECT_EQ(modeOf(written), writer.secret ? 0600u : before);
            EXPECT_EQ(QFileInfo(file).isSymLink(), throughLink) << "a link is followed, not replaced";
        }
    }
}

} // namespace
} // namespace kingyo
