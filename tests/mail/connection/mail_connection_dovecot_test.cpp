#include "mail/connection/connection_recorder.h"
#include "mail/connection/mail_connection.h"
#include "mail/qt_printers.h"
#include "mail/test_pop3_server.h"
#include "settings/server_trust.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

using test::ConnectionRecorder;
using test::TestPop3Server;

enum class Transport { Plain, ImplicitTls, Stls };
enum class Pin { TrustedCa, None, Right, Wrong, NoTrustStore };

struct DovecotCase {
    const char *name;
    Transport transport;
    Pin pin;
    MailProblem problem; // None: the conversation goes on encrypted (or plain) to the end
};

void PrintTo(const DovecotCase &c, std::ostream *out) { *out << c.name; }

class MailConnectionDovecot : public ::testing::TestWithParam<DovecotCase> {
protected:
    void SetUp() override
    {
        QString problem;
        ASSERT_TRUE(server_.load(&problem)) << problem.toStdString();
    }
    quint16 port() const { return GetParam().transport == Transport::ImplicitTls ? server_.tlsPort() : server_.port(); }
    ConnectionSettings settings()
    {
        const QString key = ServerTrust::keyFor(QStringLiteral("127.0.0.1"), port());
        ConnectionSettings settings;
        settings.timeoutMs = ConnectionRecorder::kHangGuardMs;
        switch (GetParam().pin) {
        case Pin::TrustedCa:
            settings.extraCaCertificates = QSslCertificate::fromPath(server_.certificatePath());
            break;
        case Pin::Right:
            trust_.pinCertificate(key, fingerprint());
            break;
        case Pin::Wrong:
            trust_.pinCertificate(key, QByteArray(64, '0'));
            break;
        default:
            break;
        }
        if (GetParam().pin != Pin::NoTrustStore && GetParam().pin != Pin::TrustedCa)
            settings.trust = &trust_;
        return settings;
    }
    QByteArray fingerprint() const
    {
        return QSslCertificate::fromPath(server_.certificatePath()).value(0).digest(QCryptographicHash::Sha256).toHex();
    }

    TestPop3Server server_;
    ServerTrust trust_;
};

// Greeting, the upgrade when asked, CAPA encrypted, QUIT: the server closes last.
TEST_P(MailConnectionDovecot, TalksOverEachTransportOrRefusesTheCertificate)
{
    const DovecotCase &row = GetParam();
    MailConnection connection(settings());
    ConnectionRecorder recorder(&connection);
    connection.open(QStringLiteral("127.0.0.1"), port(), row.transport == Transport::ImplicitTls);
    const auto awaitOk = [&] {
        ASSERT_TRUE(recorder.waitForText("\r\n"));
        ASSERT_TRUE(recorder.received.startsWith("+OK")) << recorder.received.toStdString();
        recorder.received.clear();
    };
    ASSERT_TRUE(recorder.waitFor(QStringLiteral("opened")));
    if (row.transport == Transport::Stls) {
        ASSERT_NO_FATAL_FAILURE(awaitOk()); // the greeting
        connection.send("STLS\r\n");
        ASSERT_NO_FATAL_FAILURE(awaitOk());
        connection.startTls();
        ASSERT_TRUE(recorder.waitFor(QStringLiteral("encrypted")));
    }
    const QStringList facts{QStringLiteral("127.0.0.1"), QString::number(port()), QString::fromLatin1(fingerprint())};
    if (row.problem != MailProblem::None) {
        ASSERT_EQ(recorder.failures.size(), 1);
        if (row.problem == MailProblem::TlsFailed)
            EXPECT_EQ(recorder.failures[0].problem, MailProblem::TlsFailed);
        else
            EXPECT_EQ(recorder.failures[0], (MailFailure{row.problem, facts, {}}));
        return;
    }
    EXPECT_EQ(connection.isEncrypted(), row.transport != Transport::Plain);
    if (row.transport != Transport::Stls)
        ASSERT_NO_FATAL_FAILURE(awaitOk()); // the greeting
    connection.send("CAPA\r\n");
    ASSERT_TRUE(recorder.waitForText("\r\n.\r\n"));
    connection.send("QUIT\r\n");
    ASSERT_TRUE(recorder.waitFor(QStringLiteral("failed")));
    EXPECT_EQ(recorder.failures.value(0).problem, MailProblem::ClosedByServer);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MailConnectionDovecot,
    ::testing::Values(
        DovecotCase{"Plain", Transport::Plain, Pin::NoTrustStore, MailProblem::None},
        DovecotCase{"ImplicitTls", Transport::ImplicitTls, Pin::TrustedCa, MailProblem::None},
        DovecotCase{"Stls", Transport::Stls, Pin::TrustedCa, MailProblem::None},
        DovecotCase{"ImplicitTlsUnknown", Transport::ImplicitTls, Pin::None, MailProblem::CertificateUnknown},
        DovecotCase{"ImplicitTlsPinned", Transport::ImplicitTls, Pin::Right, MailProblem::None},
        DovecotCase{"ImplicitTlsChanged", Transport::ImplicitTls, Pin::Wrong, MailProblem::CertificateChanged},
        DovecotCase{"ImplicitTlsSystemStoreAlone", Transport::ImplicitTls, Pin::NoTrustStore, MailProblem::TlsFailed},
        DovecotCase{"StlsUnknown", Transport::Stls, Pin::None, MailProblem::CertificateUnknown},
        DovecotCase{"StlsPinned", Transport::Stls, Pin::Right, MailProblem::None},
        DovecotCase{"StlsChanged", Transport::Stls, Pin::Wrong, MailProblem::CertificateChanged}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace kingyo
