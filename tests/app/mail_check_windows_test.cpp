#include "app/mail_check_windows.h"

#include "settings/account_file.h"
#include "app/program.h"
#include "base/twips.h"
#include "panel/msg_form.h"
#include "mail/qt_printers.h"
#include "mail/recording_mail_library.h"
#include "panel/id_pass_form.h"
#include "panel/set_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

struct ErrorBoxSeen {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::Information;
    QMessageBox::StandardButtons buttons;
    bool noticeAlreadyLoaded = false;
};

class MailCheckWindowsTest : public ::testing::Test {
protected:
    MailCheckWindowsTest()
    {
        context.settings.setPaths(AppPaths{dir.path()});
        QDir(dir.path()).mkdir(QStringLiteral("★MailData"));
        context.settings.state().pop3Server = QStringLiteral("127.0.0.1");
        context.mail = &mail;
        wireWindows(context);
        storeAccount(QStringLiteral("taro"), QStringLiteral("secret"));
    }
    ~MailCheckWindowsTest() override
    {
        context.msgForm.discard();
        context.idPassForm.discard();
        context.setForm.discard();
    }

    void storeAccount(const QString &id, const QString &password)
    {
        ASSERT_TRUE(writeAccount(context.settings.paths(), {id, password}, true));
    }

    // Closes the next "エラー" box with OK once the run has shown it.
    void closeNextErrorBox()
    {
        QTimer::singleShot(0, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            errorBox = {true, box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                        context.msgForm.isLoaded()};
            box->button(QMessageBox::Ok)->click();
        });
    }

    MsgForm *notice() { return context.msgForm.isLoaded() ? context.msgForm.get() : nullptr; }

    QTemporaryDir dir;
    QStringList log;
    test::RecordingMailLibrary mail{log};
    Program context;
    ErrorBoxSeen errorBox;
};

TEST_F(MailCheckWindowsTest, NewMailShowsTheNoticeWithTheCountAndTheAccountDialogStaysHidden)
{
    mail.authenticateResult = 3;
    runMailCheck(context);

    ASSERT_NE(notice(), nullptr);
    EXPECT_TRUE(notice()->isVisible());
    EXPECT_EQ(notice()->text1()->text(), "新着メールが有ります。");
    EXPECT_EQ(notice()->text2()->text(), "3");
    ASSERT_TRUE(context.idPassForm.isLoaded());
    EXPECT_FALSE(context.idPassForm.get()->isVisible());
    EXPECT_EQ(context.idPassForm.get()->idText()->text(), "taro");
    EXPECT_EQ(context.idPassForm.get()->passText()->text(), "secret");
    EXPECT_TRUE(log.contains("authenticate 7 taro secret user"));
}

TEST_F(MailCheckWindowsTest, ALaterRunReusesTheOpenNotice)
{
    mail.authenticateResult = 3;
    runMailCheck(context);
    MsgForm *first = notice();
    mail.authenticateResult = 0;
    runMailCheck(context);
    EXPECT_EQ(notice(), first);
    EXPECT_EQ(first->text1()->text(), "新着メールはありませんでした。");
    EXPECT_EQ(first->text2()->text(), "0");
}

TEST_F(MailCheckWindowsTest, AFailedLoginShowsTheErrorBoxBeforeTheNotice)
{
    mail.authenticateResult = -5;
    mail.failureText = QStringLiteral("-ERR [AUTH] Authentication failed.");
    closeNextErrorBox();
    runMailCheck(context);

    EXPECT_TRUE(errorBox.shown);
    EXPECT_EQ(errorBox.title, "エラー");
    EXPECT_EQ(errorBox.text, "-ERR [AUTH] Authentication failed.");
    EXPECT_EQ(errorBox.icon, QMessageBox::NoIcon);
    EXPECT_EQ(errorBox.buttons, QMessageBox::Ok);
    EXPECT_FALSE(errorBox.noticeAlreadyLoaded);
    ASSERT_NE(notice(), nullptr);
    EXPECT_EQ(notice()->text1()->text(), "新着メールはありませんでした。");
    EXPECT_EQ(notice()->text2()->text(), "-5");
}

TEST_F(MailCheckWindowsTest, AServerTextIsShownAsPlainText)
{
    mail.authenticateResult = -1;
    mail.failureText = QStringLiteral("<b>bold</b> & <a href='x'>link</a>");
    closeNextErrorBox();
    runMailCheck(context);
    ASSERT_TRUE(errorBox.shown);
    EXPECT_EQ(errorBox.text, mail.failureText);
}

TEST_F(MailCheckWindowsTest, AMissingPasswordOpensTheAccountDialog)
{
    storeAccount(QStringLiteral("taro"), QString());
    runMailCheck(context);
    ASSERT_TRUE(context.idPassForm.isLoaded());
    EXPECT_TRUE(context.idPassForm.get()->isVisible());
    EXPECT_EQ(notice()->text2()->text(), "0");
    EXPECT_TRUE(log.filter("authenticate").isEmpty());
}

TEST_F(MailCheckWindowsTest, AnUnsavedTickInTheSettingsWindowCounts)
{
    MailCheckWindows windows(context);
    EXPECT_FALSE(windows.hangUpAfterCheck());
    context.setForm.get()->check1()->setChecked(true);
    EXPECT_TRUE(windows.hangUpAfterCheck());
    EXPECT_FALSE(QFile::exists(context.settings.paths().optionFile())) << "stored only when the window closes";
}

} // namespace
} // namespace kingyo
