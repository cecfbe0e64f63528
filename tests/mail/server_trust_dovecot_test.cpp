#include "app/mail_check_windows.h"
#include "app/program.h"
#include "mail/mail_check.h"
#include "mail/pop3_failure.h"
#include "mail/blocking_pop3.h"
#include "mail/qt_printers.h"
#include "panel/id_pass_form.h"
#include "panel/msg_form.h"
#include "pop3_login.h"
#include "settings/account_file.h"
#include "settings/server_trust.h"
#include "test_pop3_server.h"

#include "panel/message_box_queue.h"
#include "support/message_boxes.h"
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

using namespace pop3;
using test::TestPop3Server;
using ::testing::HasSubstr;
using ::testing::Not;

// The certificate's SHA-256 fingerprint as openssl prints it, in lowercase hex.
QByteArray opensslFingerprint(const QString &certificate)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"x509", "-noout", "-fingerprint", "-sha256", "-in", certificate});
    if (!openssl.waitForFinished(10000) || openssl.exitCode() != 0)
        return {};
    // "sha256 Fingerprint=AB:CD:…"
    const QByteArray line = openssl.readAllStandardOutput().trimmed();
    return line.mid(line.indexOf('=') + 1).replace(":", "").toLower();
}

struct PortCase {
    const char *name;
    bool implicitTls;
};

void PrintTo(const PortCase &c, std::ostream *out)
{
    *out << c.name;
}

// The test Dovecot's certificate is self-signed and NOT trusted here: only a pin lets it through.
class DovecotPinning : public ::testing::TestWithParam<PortCase> {
protected:
    void SetUp() override
    {
        QString problem;
        ASSERT_TRUE(server.load(&problem)) << problem.toStdString();
        fingerprint = opensslFingerprint(server.certificatePath());
        ASSERT_EQ(fingerprint.size(), 64);
    }
    quint16 port() const { return GetParam().implicitTls ? server.tlsPort() : server.port(); }
    QString field() const
    {
        return (GetParam().implicitTls ? QStringLiteral("pop3s://127.0.0.1:%1") : QStringLiteral("127.0.0.1:%1"))
            .arg(port());
    }
    QString key() const { return ServerTrust::keyFor(QStringLiteral("127.0.0.1"), port()); }
    int logIn(const QString &user)
    {
        Pop3Settings settings;
        settings.timeoutMs = 10000;
        settings.trust = &trust;
        test::BlockingPop3Client client(settings);
        const int result = test::connectAndLogIn(client, field(), user, TestPop3Server::passwordOf(user));
        failure = client.failure();
        usedTls = client.usesTls();
        return result;
    }
    bool serverSawLogin(const QString &user) const
    {
        return server.logText().contains(QStringLiteral("user=<%1>").arg(user));
    }

    TestPop3Server server;
    QByteArray fingerprint;
    ServerTrust trust;
    MailFailure failure;
    bool usedTls = false;
};

TEST_P(DovecotPinning, AnUnknownCertificateBecomesAQuestionWithItsFingerprint)
{
    const QString user = QStringLiteral("heidi");
    EXPECT_EQ(logIn(user), kTlsFailure);
    EXPECT_EQ(failure.problem, MailProblem::CertificateUnknown) << describe(failure);
    EXPECT_EQ(failure.facts, (QStringList{QStringLiteral("127.0.0.1"), QString::number(port()),
                                          QString::fromLatin1(fingerprint)}));
    EXPECT_FALSE(serverSawLogin(user));
    EXPECT_FALSE(trust.entry(key()).offeredStls) << "no upgrade happened";
}

TEST_P(DovecotPinning, APinnedCertificateLogsIn)
{
    trust.pinCertificate(key(), fingerprint);
    EXPECT_GE(logIn(QStringLiteral("alice")), 0) << describe(failure);
    EXPECT_TRUE(usedTls);
    // Only the STLS upgrade is remembered; POP3S has nothing to withdraw.
    EXPECT_EQ(trust.entry(key()).offeredStls, !GetParam().implicitTls);
}

TEST_P(DovecotPinning, ADifferentPinnedCertificateIsRefusedAsChanged)
{
    const QString user = QStringLiteral("heidi");
    trust.pinCertificate(key(), QByteArray(64, '0'));
    EXPECT_EQ(logIn(user), kTlsFailure);
    EXPECT_EQ(failure.problem, MailProblem::CertificateChanged) << describe(failure);
    EXPECT_EQ(failure.facts.value(2), QString::fromLatin1(fingerprint));
    EXPECT_FALSE(serverSawLogin(user));
    EXPECT_EQ(trust.entry(key()).fingerprint, QByteArray(64, '0')) << "the old pin stays until the user says otherwise";
}

TEST_P(DovecotPinning, APinForAnotherPortTrustsNothingHere)
{
    trust.pinCertificate(ServerTrust::keyFor(QStringLiteral("127.0.0.1"), port() + 1), fingerprint);
    EXPECT_EQ(logIn(QStringLiteral("heidi")), kTlsFailure);
    EXPECT_EQ(failure.problem, MailProblem::CertificateUnknown) << describe(failure);
}

INSTANTIATE_TEST_SUITE_P(Pop3, DovecotPinning,
                         ::testing::Values(PortCase{"stls", false}, PortCase{"pop3s", true}),
                         [](const auto &info) { return std::string(info.param.name); });

// The whole check in the running program's windows, the "確認" box answered by a timer.
class CertificateQuestionDovecotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString problem;
        ASSERT_TRUE(server.load(&problem)) << problem.toStdString();
        const AppPaths paths{.programDir = dir.path()};
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("★MailData")));
        trust = std::make_unique<ServerTrust>(paths.serverTrustFile());
        Pop3Settings settings;
        settings.timeoutMs = 10000;
        settings.trust = trust.get();
        library = std::make_unique<NetworkMailLibrary>(settings);
        context.settings.setPaths(paths);
        context.settings.state().pop3Server = QStringLiteral("127.0.0.1:%1").arg(server.port());
        context.mail = library.get();
        context.serverTrust = trust.get();
        wireWindows(context);
        wireMailCheck(context);
    }
    void storeAccount(const QString &user)
    {
        ASSERT_TRUE(writeAccount(context.settings.paths(), {user, TestPop3Server::passwordOf(user)}, true));
    }
    void TearDown() override
    {
        context.msgForm.discard();
        context.idPassForm.discard();
        if (context.mailCheck)
            context.mailCheck->shutDown(true);
    }

    // Runs checks from one click until the boxes are answered and `checks` ended (a yes to
    // the certificate question runs another); every box is noted as "title|text" and
    // answered with `answer` (OK for errors). count: what the last check's notice showed.
    void runCheck(QMessageBox::StandardButton answer, int checks)
    {
        boxes.clear();
        QTimer closer;
        closer.setInterval(10);
        QObject::connect(&closer, &QTimer::timeout, [this, answer] {
            if (auto *box = test::shownMessageBox()) {
                boxes << box->windowTitle() + u'|' + box->text();
                QAbstractButton *button = box->button(answer);
                (button ? button : box->button(QMessageBox::Ok))->click();
            }
        });
        closer.start();
        QSignalSpy finished(context.mailCheck.get(), &MailCheck::finished);
        runMailCheck(context);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return finished.size() >= checks && context.boxes->isEmpty() && !context.mailCheck->isRunning(); },
            30000));
        EXPECT_EQ(finished.size(), checks);
        count = finished.last().first().toInt();
    }
    QString key() const { return ServerTrust::keyFor(QStringLiteral("127.0.0.1"), server.port()); }

    TestPop3Server server;
    QTemporaryDir dir;
    std::unique_ptr<ServerTrust> trust;
    std::unique_ptr<NetworkMailLibrary> library;
    Program context;
    QStringList boxes;
    int count = 0;
};

TEST_F(CertificateQuestionDovecotTest, YesPinsTheCertificateAndChecksAgainThenNextTimeNothingIsAsked)
{
    storeAccount(QStringLiteral("frank")); // whose mailbox other tests fill: any count will do
    runCheck(QMessageBox::Yes, 2);
    ASSERT_EQ(boxes.size(), 1) << boxes.join(u'\n').toStdString();
    EXPECT_THAT(boxes.first().toStdString(), ::testing::StartsWith("確認|"));
    const QByteArray expected = opensslFingerprint(server.certificatePath());
    EXPECT_THAT(boxes.first().toStdString(), HasSubstr(colonHex(expected.left(32)).toStdString()));
    EXPECT_GE(count, 0) << "a check ran again after the answer";
    // Stored in the data folder, where the next start finds it.
    EXPECT_EQ(ServerTrust(AppPaths{.programDir = dir.path()}.serverTrustFile()).entry(key()).fingerprint, expected);

    runCheck(QMessageBox::Yes, 1);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join(u'\n').toStdString();
    EXPECT_GE(count, 0);
}

TEST_F(CertificateQuestionDovecotTest, NoEndsTheCheckWithoutAnErrorBoxAndPinsNothing)
{
    storeAccount(QStringLiteral("heidi")); // who never logs in anywhere in these tests
    runCheck(QMessageBox::No, 1);
    ASSERT_EQ(boxes.size(), 1) << boxes.join(u'\n').toStdString();
    EXPECT_THAT(boxes.first().toStdString(), ::testing::StartsWith("確認|"));
    EXPECT_EQ(count, kTlsFailure);
    EXPECT_TRUE(trust->entry(key()).fingerprint.isEmpty());
    EXPECT_FALSE(server.logText().contains(QStringLiteral("user=<heidi>")));
}

} // namespace
} // namespace kingyo
