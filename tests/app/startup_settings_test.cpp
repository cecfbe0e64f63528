#include "app/startup_settings.h"

#include "panel/id_pass_form.h"
#include "panel/option_form.h"
#include "panel/set_form.h"
#include "app/settings_windows_fixture.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFileInfo>
#include <QLineEdit>

namespace kingyo::test {
namespace {

using StartupSettings = SettingsWindowsTest;

struct StartupCase {
    const char *name;
    QByteArray serverFile;  // empty: no file
    QByteArray accountFile; // empty: no file
    bool serverDialogShown;
    bool accountDialogShown;
};

TEST_F(StartupSettings, OpensTheDialogsWhoseSettingsAreIncomplete)
{
    const QByteArray account = "[EXEINI]\r\nNAME=me\r\nNAME2=secret\r\nNAME3=1\r\n";
    const StartupCase cases[] = {
        {"first run", "", "", true, true},
        {"complete settings", "POP3=pop.example.jp\r\n", account, false, false},
        {"empty POP3 value", "SMTP=s\r\nPOP3=\r\n", account, true, false},
        {"password missing", "POP3=p\r\n", "[EXEINI]\r\nNAME=me\r\n", false, true},
        {"ID empty", "POP3=p\r\n", "[EXEINI]\r\nNAME=\r\nNAME2=secret\r\n", false, true},
        // The check says so when the keyring does not give it.
        {"password in the keyring", "POP3=p\r\n", "[EXEINI]\r\nNAME=me\r\nNAME2=\r\nKEYRING=k1\r\n", false, false},
    };
    for (const StartupCase &c : cases) {
        SettingsWorld fresh; // each case starts from its own folder
        if (!c.serverFile.isEmpty())
            put(fresh.context.settings.paths().serverFile, c.serverFile);
        if (!c.accountFile.isEmpty())
            put(fresh.context.settings.paths().accountFile(), c.accountFile);

        loadSettingsAtStartup(fresh.context);

        EXPECT_EQ(fresh.context.optionForm.isLoaded() && fresh.context.optionForm.get()->isVisible(),
                  c.serverDialogShown)
            << c.name;
        ASSERT_TRUE(fresh.context.idPassForm.isLoaded()) << c.name;
        EXPECT_EQ(fresh.context.idPassForm.get()->isVisible(), c.accountDialogShown) << c.name;
        EXPECT_EQ(fresh.mail.calls, QStringList({"initialize", "setOption 1 8192"})) << c.name;
    }
}

TEST_F(StartupSettings, FirstRunShowsEmptyDialogs)
{
    loadSettingsAtStartup(context);
    ASSERT_TRUE(context.optionForm.isLoaded());
    OptionForm *server = context.optionForm.get();
    for (const char *box : {"SmtpText", "Pop3Text", "MailText"})
        EXPECT_TRUE(server->findChild<QLineEdit *>(box)->text().isEmpty()) << box;
    EXPECT_FALSE(server->findChild<QCheckBox *>("ApopCheck")->isChecked());
    EXPECT_TRUE(context.idPassForm.get()->idText()->text().isEmpty());
    EXPECT_FALSE(context.setForm.get()->isVisible());
}

TEST_F(StartupSettings, ReadsTheServerFileIntoTheSharedState)
{
    put(context.settings.paths().serverFile, "SMTP=s\r\nPOP3=p\r\nMAIL=m\r\nAPOP=1\r\n");
    loadSettingsAtStartup(context);
    EXPECT_EQ(context.settings.state().smtpServer, QStringLiteral("s"));
    EXPECT_EQ(context.settings.state().pop3Server, QStringLiteral("p"));
    EXPECT_EQ(context.settings.state().mailAddress, QStringLiteral("m"));
    EXPECT_EQ(context.settings.state().apopFlag, 1);
}

TEST_F(StartupSettings, TheHangUpOptionCountsOnlyForZeroOrOne)
{
    const std::pair<QByteArray, bool> cases[] = {
        // option file, hang up after a check
        {"", false},
        {"[EXEINI]\r\nNUMBER=1\r\n", true},
        {"[EXEINI]\r\nNUMBER=0\r\n", false},
        {"[EXEINI]\r\nNUMBER=2\r\n", false},
        {"[EXEINI]\r\nNUMBER=-1\r\n", false},
    };
    for (const auto &[optionFile, hangUp] : cases) {
        SettingsWorld fresh;
        if (!optionFile.isEmpty())
            put(fresh.context.settings.paths().optionFile(), optionFile);
        loadSettingsAtStartup(fresh.context);
        EXPECT_EQ(fresh.context.settings.hangUpAfterCheck(), hangUp) << optionFile.constData();
        EXPECT_FALSE(fresh.context.setForm.isLoaded()) << optionFile.constData();
    }
}

TEST_F(StartupSettings, RemovesTheTemporariesACrashLeftInTheDataFolders)
{
    const AppPaths &paths = context.settings.paths();
    const QString left[] = {paths.dataDir() + QStringLiteral("/iniIdPass.ini.AbCdEf"),
                            QFileInfo(paths.serverFile).path() + QStringLiteral("/vbmail.ini.GhIjKl")};
    const QString beingWritten = paths.dataDir() + QStringLiteral("/servers.txt.MnOpQr");
    for (const QString &path : left) {
        put(path, "NAME2=secret\r\n");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-120), QFileDevice::FileModificationTime));
    }
    put(beingWritten, "x");

    loadSettingsAtStartup(context);
    for (const QString &path : left)
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
    EXPECT_TRUE(QFileInfo::exists(beingWritten));
}

TEST_F(StartupSettings, WorksWithoutAMailLibrary)
{
    context.mail = nullptr;
    loadSettingsAtStartup(context);
    EXPECT_TRUE(context.optionForm.get()->isVisible());
}

} // namespace
} // namespace kingyo::test
