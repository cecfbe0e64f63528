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

TEST_P(ServerField, IsReadAsHostPortAndTls)
{
    const AddressCase &c = GetParam();
    EXPECT_EQ(parseMailServerAddress(QString::fromUtf8(c.field)), c.expected) << c.field;
}

MailServerAddress plain(const char *host, quint16 port)
{
    return {QString::fromUtf8(host), port, false};
}

MailServerAddress tls(const char *host, quint16 port)
{
    return {QString::fromUtf8(host), port, true};
}

INSTANTIATE_TEST_SUITE_P(
    Pop3, ServerField,
    ::testing::Values(AddressCase{"mail.example.jp", plain("mail.example.jp", 110)},
                      AddressCase{"  mail.example.jp  ", plain("mail.example.jp", 110)},
                      AddressCase{"mail.example.jp:1110", plain("mail.example.jp", 1110)},
                      AddressCase{"mail.example.jp:995", tls("mail.example.jp", 995)},
                      AddressCase{"127.0.0.1:2110", plain("127.0.0.1", 2110)},
                      AddressCase{"[::1]:2110", plain("::1", 2110)},
                      AddressCase{"[::1]", plain("::1", 110)},
                      AddressCase{"::1", plain("::1", 110)},
                      AddressCase{"fe80::1:2", plain("fe80::1:2", 110)},
                      AddressCase{"pop3://mail.example.jp", plain("mail.example.jp", 110)},
                      AddressCase{"POP3://mail.example.jp:995/", plain("mail.example.jp", 995)},
                      AddressCase{"pop3s://mail.example.jp", tls("mail.example.jp", 995)},
                      AddressCase{"pop3s://[::1]:1995", tls("::1", 1995)},
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
                      AddressCase{"imap://mail.example.jp", std::nullopt},
                      AddressCase{"pop3://", std::nullopt},
                      AddressCase{"pop3://user@mail.example.jp", std::nullopt},
                      AddressCase{"mail example.jp", std::nullopt},
                      AddressCase{"pop3://mail.example.jp/inbox", std::nullopt}));

} // namespace
} // namespace kingyo
