#include "fake_pop3_server.h"
#include "mail/blocking_pop3.h"
#include "mail/qt_printers.h"
#include "pop3_login.h"
#include "settings/server_trust.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

using test::FakePop3Server;
using ::testing::HasSubstr;
using ::testing::Not;

const QString kPassword = QStringLiteral("open-sesame-9");

struct WithdrawnCase {
    const char *name;
    bool rememberStls;
    int portOffset; // where the store saw STLS, from the server's own port
    int expected;
    MailProblem problem;
};

void PrintTo(const WithdrawnCase &c, std::ostream *out)
{
    *out << c.name;
}

class WithdrawnStls : public ::testing::TestWithParam<WithdrawnCase> {};

TEST_P(WithdrawnStls, SendsNoPasswordToAServerThatOnceOfferedStls)
{
    const WithdrawnCase &c = GetParam();
    FakePop3Server server(QStringLiteral("stls_withdrawn"));
    ServerTrust trust;
    if (c.rememberStls)
        trust.rememberStls(ServerTrust::keyFor(QStringLiteral("127.0.0.1"), server.port() + c.portOffset));
    {
        Pop3Settings settings;
        settings.timeoutMs = 5000;
        settings.trust = &trust;
        test::BlockingPop3Client client(settings);
        EXPECT_EQ(test::connectAndLogIn(client, server.address(), QStringLiteral("kingyo"), kPassword), c.expected);
        EXPECT_EQ(client.failure().problem, c.problem) << describe(client.failure());
    }
    const std::string received = server.received().toStdString();
    if (c.problem == MailProblem::EncryptionWithdrawn) {
        EXPECT_THAT(received, Not(HasSubstr("PASS")));
        EXPECT_THAT(received, Not(HasSubstr("USER")));
        EXPECT_THAT(received, Not(HasSubstr(kPassword.toStdString())));
    } else {
        EXPECT_THAT(received, HasSubstr("PASS " + kPassword.toStdString()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pop3Downgrade, WithdrawnStls,
    ::testing::Values(WithdrawnCase{"seen_with_stls", true, 0, pop3::kTlsFailure, MailProblem::EncryptionWithdrawn},
                      WithdrawnCase{"never_seen_with_stls", false, 0, 0, MailProblem::None},
                      WithdrawnCase{"stls_seen_on_another_port", true, 1, 0, MailProblem::None}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace kingyo
