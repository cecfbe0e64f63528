#pragma once
#include "mail/connection/protocol_channel.h"
#include "mail/imap/imap_session.h"
#include "mail/mail_server_address.h"

#include <functional>

namespace kingyo {

// One IMAP conversation: an ImapSession over a connection, answering as a
// ProtocolChannel does; Idling and MailboxChanged go to the unasked handler.
class ImapChannel : public ProtocolChannel<ImapSession> {
public:
    explicit ImapChannel(const ConnectionSettings &settings) : ProtocolChannel(settings) {}

    void open(const MailServerAddress &address, std::function<void(const MailFailure &)> opened)
    {
        ProtocolChannel::open(address.host, address.port, address.implicitTls, std::move(opened));
    }
    // The session's logIn(); the trust store's downgrade memory comes from the connection,
    // and a successful STARTTLS is remembered in it.
    void logIn(const QString &user, const MailSecret &secret, Answer answer)
    {
        beginLogIn(std::move(answer), [&](bool encrypted, bool startTlsSeenBefore) {
            mutableSession().logIn({user, secret, encrypted, startTlsSeenBefore});
        });
    }
    void status(Answer answer)
    {
        request(std::move(answer), [&] { mutableSession().status(); });
    }
    void examine(Answer answer)
    {
        request(std::move(answer), [&] { mutableSession().examine(); });
    }
    void searchUnseen(const UnseenSearch &search, Answer answer)
    {
        request(std::move(answer), [&] { mutableSession().searchUnseen(search); });
    }
    void fetchHeaders(const std::vector<std::uint32_t> &uids, Answer answer)
    {
        request(std::move(answer), [&] { mutableSession().fetchHeaders(uids); });
    }
    void idle(Answer answer)
    {
        request(std::move(answer), [&] { mutableSession().idle(); });
    }
    void done()
    {
        tell([&] { mutableSession().done(); });
    }
    void noop(Answer answer)
    {
        request(std::move(answer), [&] { mutableSession().noop(); });
    }
    // LOGOUT, dropping the answers still owed; closed() once the server answered or the
    // connection ended, at the latest after the step's timeout.
    void logout(std::function<void()> closed)
    {
        sayGoodbye(std::move(closed), [&] { mutableSession().logout(); });
    }
};

} // namespace kingyo
