#include "settings/account_file.h"
#include "settings/app_paths.h"
#include "settings/profile_file.h"
#include "settings/settings_storage.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>

namespace kingyo {
namespace {

mode_t modeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Makes every write beyond limit bytes fail with EFBIG while it lives, as a full disk
// would; it works for root too, where folder permissions do not.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST(SettingsStorage, FailedWriteLeavesTheOldFileWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vbmail.ini"));
    ASSERT_TRUE(replaceSettingsFile(path, "POP3=old\r\n"));
    {
        FileSizeLimit limit(16);
        EXPECT_FALSE(replaceSettingsFile(path, QByteArray(4096, 'x')));
    }
    EXPECT_EQ(contentsOf(path), "POP3=old\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("vbmail.ini")})
        << "no temporary file is left behind";
}

TEST(SettingsStorage, RewriteKeepsTheFileMode)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ini.ini"));
    ASSERT_TRUE(replaceSettingsFile(path, "a"));
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    ASSERT_TRUE(replaceSettingsFile(path, "b"));
    EXPECT_EQ(modeOf(path), 0640u);
    EXPECT_EQ(contentsOf(path), "b");
}

TEST(AccountFile, IsCreatedForItsOwnerOnlyAndAFailedFirstWriteLeavesNoFile)
{
    QTemporaryDir dir;
    AppPaths paths;
    paths.programDir = dir.path();
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("★MailData")));
    {
        FileSizeLimit limit(8);
        EXPECT_FALSE(writeAccount(paths, Account{QStringLiteral("me"), QStringLiteral("secret")}, true));
    }
    EXPECT_EQ(QDir(paths.dataDir()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    ASSERT_TRUE(writeAccount(paths, Account{QStringLiteral("me"), QStringLiteral("secret")}, true));
    EXPECT_EQ(modeOf(paths.accountFile()), 0600u);
}

TEST(AccountFile, UntickedSaveBoxWritesOnlyTheFlag)
{
    QTemporaryDir dir;
    AppPaths paths;
    paths.programDir = dir.path();
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("★MailData")));
    ASSERT_TRUE(writeAccount(paths, Account{QStringLiteral("me"), QStringLiteral("secret")}, true));
    ASSERT_TRUE(writeAccount(paths, Account{QStringLiteral("new"), QStringLiteral("typed")}, false));
    EXPECT_EQ(contentsOf(paths.accountFile()), "[EXEINI]\r\nNAME=me\r\nNAME2=secret\r\nNAME3=0\r\n");
    const Account stored = readAccount(paths);
    EXPECT_EQ(stored.userId, QStringLiteral("me"));
    EXPECT_EQ(stored.password, QStringLiteral("secret"));
}

TEST(AccountFile, MissingFolderStoresNothing)
{
    QTemporaryDir dir;
    AppPaths paths;
    paths.programDir = dir.path();
    EXPECT_FALSE(writeAccount(paths, Account{QStringLiteral("me"), QStringLiteral("secret")}, true));
    EXPECT_FALSE(QDir(paths.dataDir()).exists());
    EXPECT_TRUE(readAccount(paths).userId.isEmpty());
}

TEST(SettingsText, DecodesWithoutDroppingBytes)
{
    const std::pair<QByteArray, QString> cases[] = {
        {"plain", QStringLiteral("plain")},
        {"\xE9\x87\x91\xE9\xAD\x9A", QStringLiteral("金魚")},            // UTF-8
        {"\x8B\xE0\x8B\x9B", QStringLiteral("金魚")},                    // Shift_JIS
        {"\xE9", QString::fromLatin1("\xE9")},                          // cut character
        {"a\x82", QString::fromLatin1("a\x82")},                        // cut Shift_JIS character
        {QByteArray("\0\xFF", 2), QString::fromLatin1(QByteArray("\0\xFF", 2))},
    };
    for (const auto &[bytes, expected] : cases)
        EXPECT_EQ(decodeSettingsText(bytes), expected) << bytes.toHex().constData();
}

// Opened only when it is a plain file: a FIFO would hold the test up.
QByteArray plainContents(const QString &path)
{
    return QFileInfo(path).isFile() ? contentsOf(path) : QByteArray("<not a plain file>");
}

TEST(SettingsStorage, ReadsOnlyAPlainFileWithinTheBound)
{
    struct Case {
        const char *name;
        std::function<bool(const QString &)> plant;
        std::optional<QByteArray> read;
    };
    const QByteArray atBound(kSettingsFileLimit, 'x');
    const Case cases[] = {
        {"at_the_bound", [&](const QString &path) { return writeFile(path, atBound); }, atBound},
        {"over_the_bound", [&](const QString &path) { return writeFile(path, atBound + 'x'); }, std::nullopt},
        {"fifo", [](const QString &path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; },
         std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ini.ini"));
        ASSERT_TRUE(c.plant(path));
        const QByteArray before = plainContents(path);
        QString whyNot;
        const std::optional<QByteArray> read = readSettingsFile(path, kSettingsFileLimit, &whyNot);
        EXPECT_EQ(read, c.read);
        EXPECT_EQ(whyNot.isEmpty(), read.has_value()) << whyNot.toStdString();
        EXPECT_EQ(bool(writeProfileStrings(path, QStringLiteral("SET"), {{QStringLiteral("KEY"), QStringLiteral("1")}})),
                  read.has_value())
            << "only a file that was read is replaced";
        if (!read) {
            EXPECT_EQ(plainContents(path), before);
        }
    }
}

} // namespace
} // namespace kingyo
