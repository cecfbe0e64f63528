#include "mail/mail_server_address.h"

#include <gtest/gtest.h>

namespace kingyo {
namespace {

struct AddressCase {
    const char *field;
    std::optional<MailServerAddress> expected;
};

// Names the case in test listings.
void PrintTo(const AddressCase &c, std::ostream *out)
{
    *out << c.field;
}

class ServerField : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ServerField, IsReadAsProtocolHostPortAndTls)
{
    const AddressCase &c = GetParam();
    EXPECT_EQ(parseMailServerAddress(QString::fromUtf8(c.field)), c.expected) << c.field;
}

using Protocol = MailServerAddress::Protocol;

MailServerAddress pop3(const char *host, quint16 port)
{
    return {Protocol::Pop3, QString::fromUtf8(host), port, false};
}

MailServerAddress pop3s(const char *host, quint16 port)
{
    return {Protocol::Pop3, QString::fromUtf8(host), port, true};
}

MailServerAddress imap(const char *host, quint16 port)
{
    return {Protocol::Imap, QString::fromUtf8(host), port, false};
}

MailServerAddress imaps(const char *host, quint16 port)
{
    return {Protocol::Imap, QString::fromUtf8(host), port, true};
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ServerField,
    ::testing::Values(AddressCase{"mail.example.jp", pop3("mail.example.jp", 110)},
                      AddressCase{"  mail.example.jp  ", pop3("mail.example.jp", 110)},
                      AddressCase{"mail.example.jp:1110", pop3("mail.example.jp", 1110)},
                      AddressCase{"mail.example.jp:995", pop3s("mail.example.jp", 995)},
                      AddressCase{"127.0.0.1:2110", pop3("127.0.0.1", 2110)},
                      AddressCase{"[::1]:2110", pop3("::1", 2110)},
                      AddressCase{"[::1]", pop3("::1", 110)},
                      AddressCase{"::1", pop3("::1", 110)},
                      AddressCase{"fe80::1:2", pop3("fe80::1:2", 110)},
                      AddressCase{"pop3://mail.example.jp", pop3("mail.example.jp", 110)},
                      AddressCase{"POP3://mail.example.jp:995/", pop3("mail.example.jp", 995)},
                      AddressCase{"pop3s://mail.example.jp", pop3s("mail.example.jp", 995)},
                      AddressCase{"pop3s://[::1]:1995", pop3s("::1", 1995)},
                      AddressCase{"mail.example.jp:993", imaps("mail.example.jp", 993)},
                      AddressCase{"mail.example.jp:143", imap("mail.example.jp", 143)},
                      AddressCase{"[::1]:993", imaps("::1", 993)},
                      AddressCase{"imap://mail.example.jp", imap("mail.example.jp", 143)},
                      AddressCase{"imap://mail.example.jp:993/", imap("mail.example.jp", 993)},
                      AddressCase{"IMAPS://mail.example.jp", imaps("mail.example.jp", 993)},
                      AddressCase{"imaps://[::1]:1143", imaps("::1", 1143)},
                      AddressCase{"", std::nullopt},
                      AddressCase{"host:", std::nullopt},
                      AddressCase{"host:0", std::nullopt},
                      AddressCase{"host:65536", std::nullopt},
                      AddressCase{"host:+5", std::nullopt},
                      AddressCase{"host:port", std::nullopt},
                      AddressCase{"[::1", std::nullopt},
                      AddressCase{"[mail.example.jp]:110", std::nullopt},
                      AddressCase{"[::1]x", std::nullopt},
                      AddressCase{"a:b:c", std::nullopt},
                      AddressCase{"imap4://mail.example.jp", std::nullopt},
                      AddressCase{"pop3://", std::nullopt},
                      AddressCase{"pop3://user@mail.example.jp", std::nullopt},
                      AddressCase{"mail example.jp", std::nullopt},
                      AddressCase{"pop3://mail.example.jp/inbox", std::nullopt}));

} // namespace
} // namespace kingyo
