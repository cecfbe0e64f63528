#include "app/mail_check_windows.h"

#include "app/browser_sign_in.h"
#include "app/program.h"
#include "mail/auth/access_token_source.h"
#include "mail/mail_check.h"
#include "mail/pop3_failure.h"
#include "mail/qt_printers.h"
#include "mail/recording_mail_library.h"
#include "panel/id_pass_form.h"
#include "panel/message_box_queue.h"
#include "panel/msg_form.h"
#include "panel/option_form.h"
#include "panel/set_form.h"
#include "settings/account_file.h"
#include "settings/server_trust.h"

#include "support/message_boxes.h"
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
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
    bool markupDrawnAsWritten = false;
    QMessageBox::Icon icon = QMessageBox::Information;
    QMessageBox::StandardButtons buttons;
};

// Whether a label draws its text as written: markup's own characters take room that
// they do not take when the text is read as markup. Measured on the label itself.
bool drawsTextAsWritten(QLabel &label)
{
    const Qt::TextFormat shown = label.textFormat();
    const QSize asShown = label.sizeHint();
    label.setTextFormat(Qt::PlainText);
    const QSize asWritten = label.sizeHint();
    label.setTextFormat(Qt::RichText);
    const QSize asMarkup = label.sizeHint();
    label.setTextFormat(shown);
    return asShown == asWritten && asWritten != asMarkup;
}

class MailCheckWindowsTest : public ::testing::Test {
protected:
    MailCheckWindowsTest()
    {
        context.settings.setPaths(AppPaths{.programDir = dir.path()});
        QDir(dir.path()).mkdir(QStringLiteral("★MailData"));
        context.settings.state().pop3Server = QStringLiteral("127.0.0.1");
        context.mail = &mail;
        wireWindows(context);
        wireMailCheck(context);
        storeAccount(QStringLiteral("taro"), QStringLiteral("secret"));
    }
    ~MailCheckWindowsTest() override
    {
        context.msgForm.discard();
        context.optionForm.discard();
        context.idPassForm.discard();
        context.setForm.discard();
    }

    void storeAccount(const QString &id, const QString &password)
    {
        ASSERT_TRUE(writeAccount(context.settings.paths(), {id, password}, true));
    }

    // Runs one check to its end with the events running, and lets the boxes it posted be
    // answered; false when it never ended.
    bool runCheck(void (*run)(Program &) = runMailCheck)
    {
        QSignalSpy finished(context.mailCheck.get(), &MailCheck::finished);
        run(context);
        return finished.wait(5000) && QTest::qWaitFor([this] { return context.boxes->isEmpty(); }, 5000);
    }

    // Notes every box's title and answers it: No to a question, OK otherwise.
    void answerBoxesWithNo(QStringList &titles)
    {
        auto *watch = new QTimer(context.mailCheck.get());
        QObject::connect(watch, &QTimer::timeout, [&titles] {
            if (auto *box = test::shownMessageBox()) {
                titles << box->windowTitle();
                QAbstractButton *no = box->button(QMessageBox::No);
                (no ? no : box->button(QMessageBox::Ok))->click();
            }
        });
        watch->start(5);
    }

    // Closes the next "エラー" box with OK once the run has shown it.
    void closeNextErrorBox()
    {
        auto *watch = new QTimer(context.mailCheck.get());
        QObject::connect(watch, &QTimer::timeout, [this, watch] {
            auto *box = test::shownMessageBox();
            if (!box)
                return;
            auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
            const bool asWritten = label && drawsTextAsWritten(*label);
            errorBox = {true, box->windowTitle(), box->text(), asWritten, box->icon(), box->standardButtons()};
            box->button(QMessageBox::Ok)->click();
            watch->deleteLater();
        });
        watch->start(5);
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
    ASSERT_TRUE(runCheck());

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
    ASSERT_TRUE(runCheck());
    MsgForm *first = notice();
    mail.authenticateResult = 0;
    ASSERT_TRUE(runCheck());
    EXPECT_EQ(notice(), first);
    EXPECT_EQ(first->text1()->text(), "新着メールはありませんでした。");
    EXPECT_EQ(first->text2()->text(), "0");
}

TEST_F(MailCheckWindowsTest, AFailedLoginShowsTheErrorBoxAndTheNoticeWithItsCode)
{
    mail.authenticateResult = -5;
    mail.failure = MailFailure{MailProblem::LoginRejected, {}, QStringLiteral("[AUTH] Authentication failed.")};
    closeNextErrorBox();
    ASSERT_TRUE(runCheck());

    EXPECT_TRUE(errorBox.shown);
    EXPECT_EQ(errorBox.title, "エラー");
    EXPECT_EQ(errorBox.text, "ログインできませんでした。ユーザーIDかパスワードが違います。 サーバーの応答:「[AUTH] Authentication failed.」");
    EXPECT_EQ(errorBox.icon, QMessageBox::NoIcon);
    EXPECT_EQ(errorBox.buttons, QMessageBox::Ok);
    ASSERT_NE(notice(), nullptr);
    EXPECT_EQ(notice()->text1()->text(), "新着メールはありませんでした。");
    EXPECT_EQ(notice()->text2()->text(), "-5");
}

TEST_F(MailCheckWindowsTest, AServerTextIsShownAsPlainText)
{
    mail.authenticateResult = -4;
    mail.failure = MailFailure{MailProblem::NotPop3, {}, QStringLiteral("<b>bold</b> &amp; <a href='x'>link</a>")};
    closeNextErrorBox();
    ASSERT_TRUE(runCheck());
    ASSERT_TRUE(errorBox.shown);
    EXPECT_TRUE(errorBox.text.endsWith(QStringLiteral("「<b>bold</b> &amp; <a href='x'>link</a>」")));
    EXPECT_TRUE(errorBox.markupDrawnAsWritten);
}

// A box waits for nobody: left open, it holds up neither the checks the server's news
// starts nor what they announce.
TEST_F(MailCheckWindowsTest, AnErrorBoxLeftOpenHoldsUpNoLaterCheck)
{
    mail.authenticateResult = -5;
    mail.failure = MailFailure{MailProblem::LoginRejected, {}, {}};
    QSignalSpy finished(context.mailCheck.get(), &MailCheck::finished);
    runPeriodicMailCheck(context);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.isEmpty() && context.boxes->open(); }, 5000));
    mail.authenticateResult = 2;
    mail.failure = {};
    runMailCheckForNewMail(context);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.size() == 2; }, 5000));
    ASSERT_NE(notice(), nullptr);
    EXPECT_EQ(notice()->text2()->text(), "2");
    EXPECT_TRUE(context.boxes->open() && context.boxes->open()->isVisible()) << "still waiting for the user";
}

TEST_F(MailCheckWindowsTest, AMissingPasswordOpensTheAccountDialog)
{
    storeAccount(QStringLiteral("taro"), QString());
    ASSERT_TRUE(runCheck());
    ASSERT_TRUE(context.idPassForm.isLoaded());
    EXPECT_TRUE(context.idPassForm.get()->isVisible());
    EXPECT_EQ(notice()->text2()->text(), "0");
    EXPECT_TRUE(log.filter("authenticate").isEmpty());
}

// No server: nothing to ask, and nothing to say about the mailbox.
TEST_F(MailCheckWindowsTest, NoServerOpensTheServerDialogAndClaimsNothing)
{
    context.settings.state().pop3Server.clear();
    runMailCheck(context);
    ASSERT_TRUE(context.optionForm.isLoaded());
    EXPECT_TRUE(context.optionForm.get()->isVisible());
    EXPECT_FALSE(context.mailCheck->isRunning());
    EXPECT_EQ(notice(), nullptr);
    EXPECT_TRUE(log.isEmpty());
}

// A keyring that is locked (here: none at all) leaves the check without a password: the
// user hears why, once in a streak of timed checks and on every click, and nothing is
// rewritten.
TEST_F(MailCheckWindowsTest, APasswordTheKeyringWithholdsIsToldOncePerStreak)
{
    ASSERT_TRUE(writeAccount(context.settings.paths(), {QStringLiteral("taro"), QStringLiteral("secret")}, true,
                             PasswordPlace::keyring(QStringLiteral("k1"))));
    QFile file(context.settings.paths().accountFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray stored = file.readAll();
    const struct {
        void (*run)(Program &);
        QStringList titles;
    } checks[] = {{runPeriodicMailCheck, {"エラー"}}, {runPeriodicMailCheck, {}}, {runMailCheck, {"エラー"}}};
    QStringList titles;
    answerBoxesWithNo(titles);
    for (const auto &check : checks) {
        titles.clear();
        ASSERT_TRUE(runCheck(check.run));
        EXPECT_EQ(titles, check.titles);
    }
    file.seek(0);
    EXPECT_EQ(file.readAll(), stored);
}

TEST_F(MailCheckWindowsTest, AnUnsavedTickInTheSettingsWindowCounts)
{
    MailCheckWindows windows(context);
    EXPECT_FALSE(windows.hangUpAfterCheck());
    context.setForm.get()->check1()->setChecked(true);
    EXPECT_TRUE(windows.hangUpAfterCheck());
    EXPECT_FALSE(QFile::exists(context.settings.paths().optionFile())) << "stored only when the window closes";
}

// Nobody may be there when the timer checks: the certificate waits for a click.
TEST_F(MailCheckWindowsTest, ATimedCheckNeverAsksAboutACertificateAndTheNextClickDoes)
{
    ServerTrust trust; // in memory
    context.serverTrust = &trust;
    mail.authenticateResult = pop3::kTlsFailure;
    mail.failure = {MailProblem::CertificateUnknown,
                    {QStringLiteral("127.0.0.1"), QStringLiteral("995"), QString(64, u'b')},
                    {}};
    const struct {
        void (*run)(Program &);
        QStringList titles;
    } checks[] = {{runPeriodicMailCheck, {"エラー"}}, {runMailCheck, {"確認"}}};
    QStringList titles;
    answerBoxesWithNo(titles);
    for (const auto &check : checks) {
        titles.clear();
        ASSERT_TRUE(runCheck(check.run));
        EXPECT_EQ(titles, check.titles);
    }
    EXPECT_TRUE(trust.entry(QStringLiteral("127.0.0.1:995")).fingerprint.isEmpty());
}

// A token the server refuses before its time (access revoked) is not offered again: the
// next check asks the provider, here out of reach, and logs in nowhere.
TEST_F(MailCheckWindowsTest, AnAccessTokenTheServerRefusedIsNotOfferedAgain)
{
    const SignIn signIn{SignIn::Provider::Other, QUrl(QStringLiteral("http://127.0.0.1:1/authorize")),
                        QUrl(QStringLiteral("http://127.0.0.1:1/token")), QStringLiteral("mail"),
                        QStringLiteral("client"), {}};
    ASSERT_TRUE(writeSignIn(context.settings.paths(), signIn, QStringLiteral("taro@example.jp")));
    wireSignIn(context);
    context.accessTokens->use(signIn, QStringLiteral("refresh"),
                              {QStringLiteral("access"), std::chrono::system_clock::now() + std::chrono::hours(1), {}});
    mail.authenticateResult = pop3::kLoginRejected;
    mail.failure = {MailProblem::TokenRejected, {}, QStringLiteral(R"({"status":"invalid_token"})")};
    for (int check = 0; check < 2; ++check) {
        closeNextErrorBox();
        ASSERT_TRUE(runCheck());
    }
    EXPECT_EQ(log.filter(QStringLiteral("authenticate")),
              QStringList{QStringLiteral("authenticate 7 taro@example.jp token:access user")});
}

} // namespace
} // namespace kingyo
