#pragma once
#include "mail/connection/protocol_channel.h"
#include "mail/mail_server_address.h"
#include "mail/pop3/pop3_session.h"

#include <functional>

namespace kingyo {

struct Pop3Settings : ConnectionSettings {
    Pop3Pipeline pipeline;
};

// One POP3 conversation: a Pop3Session over a connection, answering as a
// ProtocolChannel does.
class Pop3Channel : public ProtocolChannel<Pop3Session> {
public:
    explicit Pop3Channel(const Pop3Settings &settings) : ProtocolChannel(settings, settings.pipeline) {}

    void open(const MailServerAddress &address, std::function<void(const MailFailure &)> opened)
    {
        ProtocolChannel::open(address.host, address.port, address.implicitTls, std::move(opened));
    }
    // The session's logIn(); the trust store's downgrade memory comes from the connection,
    // and a successful STLS is remembered in it.
    void logIn(const QString &user, const MailSecret &secret, bool apop, bool listSizes, Answer answer)
    {
        beginLogIn(std::move(answer), [&](bool encrypted, bool stlsSeenBefore) {
            mutableSession().logIn({user, secret, apop, listSizes, encrypted, stlsSeenBefore});
        });
    }
    void retrieve(int message, Answer answer)
    {
        request(std::move(answer), [&] { mutableSession().retrieve(message); });
    }
    void listIds(const IdListLimit &limit, Answer answer)
    {
        request(std::move(answer), [&] { mutableSession().listIds(limit); });
    }
    void readHeaders(int message, Answer answer)
    {
        request(std::move(answer), [&] { mutableSession().readHeaders(message); });
    }
    // QUIT, dropping the answers still owed; closed() once the server answered or the
    // connection ended, at the latest after the step's timeout.
    void quit(std::function<void()> closed)
    {
        sayGoodbye(std::move(closed), [&] { mutableSession().quit(); });
    }
};

} // namespace kingyo
