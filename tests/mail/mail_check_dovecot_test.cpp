#include "settings/account_file.h"
#include "app/program.h"
#include "mail/mail_check.h"
#include "app/mail_check_windows.h"
#include "panel/msg_form.h"
#include "mail/network_mail_library.h"
#include "mail/qt_printers.h"
#include "panel/id_pass_form.h"
#include "panel/set_form.h"
#include "test_pop3_server.h"

#include "panel/message_box_queue.h"
#include "support/message_boxes.h"
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

using test::TestPop3Server;

// The whole mail check, from the panel's "受信" to the notice, against the private Dovecot.
class MailCheckDovecotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString problem;
        ASSERT_TRUE(server.load(&problem)) << problem.toStdString();
        library = std::make_unique<NetworkMailLibrary>(server.trustingSettings());
        context.settings.setPaths(AppPaths{.programDir = dir.path()});
        QDir(dir.path()).mkdir(QStringLiteral("★MailData"));
        context.settings.state().pop3Server = QStringLiteral("127.0.0.1:%1").arg(server.port());
        context.mail = library.get();
        wireWindows(context);
        wireMailCheck(context);
        library->initialize();
        library->setOption(1, 8192);
    }
    void TearDown() override
    {
        context.msgForm.discard();
        context.idPassForm.discard();
        context.setForm.discard();
        if (context.mailCheck)
            context.mailCheck->shutDown(true);
    }

    void storeAccount(const QString &user, const QString &password)
    {
        ASSERT_TRUE(writeAccount(context.settings.paths(), {user, password}, true));
    }

    // Runs one check, answering an error box (if any) with OK and noting its text.
    void runCheck()
    {
        errorTexts.clear();
        QTimer *closer = new QTimer;
        closer->setInterval(10);
        QObject::connect(closer, &QTimer::timeout, [this] {
            if (auto *box = test::shownMessageBox()) {
                errorTexts << box->windowTitle() + u'|' + box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        closer->start();
        QSignalSpy finished(context.mailCheck.get(), &MailCheck::finished);
        runMailCheck(context);
        EXPECT_TRUE(finished.wait(20000));
        EXPECT_TRUE(QTest::qWaitFor([this] { return context.boxes->isEmpty(); }, 5000));
        delete closer;
    }

    QString noticeSentence() { return context.msgForm.get()->text1()->text(); }
    QString noticeCount() { return context.msgForm.get()->text2()->text(); }

    TestPop3Server server;
    QTemporaryDir dir;
    std::unique_ptr<NetworkMailLibrary> library;
    Program context;
    QStringList errorTexts;
};

TEST_F(MailCheckDovecotTest, ThreeMessagesAreReportedOnEveryRun)
{
    const QString user = QStringLiteral("judy");
    server.clearMailbox(user);
    for (int k = 1; k <= 3; ++k)
        server.deliver(user, "From: a@example.jp\r\nSubject: " + QByteArray::number(k) + "\r\n\r\nbody\r\n");
    storeAccount(user, TestPop3Server::passwordOf(user));

    for (int run = 1; run <= 2; ++run) {
        runCheck();
        EXPECT_TRUE(errorTexts.isEmpty()) << errorTexts.join(u'\n').toStdString();
        EXPECT_EQ(noticeSentence(), "新着メールが有ります。") << "run " << run;
        EXPECT_EQ(noticeCount(), "3") << "run " << run;
    }
}

TEST_F(MailCheckDovecotTest, AWrongPasswordShowsTheServersTextThenTheNegativeCode)
{
    storeAccount(QStringLiteral("mallory"), QStringLiteral("not-the-password"));
    runCheck();
    ASSERT_EQ(errorTexts.size(), 1);
    EXPECT_THAT(errorTexts.first().toStdString(), ::testing::StartsWith("エラー|"));
    EXPECT_THAT(errorTexts.first().toStdString(), ::testing::HasSubstr("Authentication failed"));
    EXPECT_EQ(noticeSentence(), "新着メールはありませんでした。");
    bool numeric = false;
    EXPECT_LT(noticeCount().toInt(&numeric), 0);
    EXPECT_TRUE(numeric) << noticeCount().toStdString();
}

TEST_F(MailCheckDovecotTest, ARefusedConnectionIsReportedBeforeTheNotice)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close(); // nothing listens there any more
    context.settings.state().pop3Server = QStringLiteral("127.0.0.1:%1").arg(port);
    storeAccount(QStringLiteral("judy"), TestPop3Server::passwordOf(QStringLiteral("judy")));
    runCheck();
    ASSERT_EQ(errorTexts.size(), 1);
    EXPECT_GT(errorTexts.first().size(), QStringLiteral("エラー|").size()); // some words on why
    EXPECT_EQ(noticeSentence(), "新着メールはありませんでした。");
    EXPECT_EQ(noticeCount(), "0");
}

} // namespace
} // namespace kingyo
