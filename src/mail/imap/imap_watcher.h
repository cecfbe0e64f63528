#pragma once
#include "mail/auth/mail_secret.h"
#include "mail/connection/mail_connection.h"
#include "mail/connection/retry_backoff.h"
#include "mail/mail_failure.h"
#include "mail/mail_server_address.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <memory>

namespace kingyo {

class ImapChannel;
struct ImapEvent;

struct ImapWatcherTimings {
    // IDLE is ended and asked again this often: servers may drop an IDLE after 29 minutes.
    std::chrono::milliseconds renewEvery{std::chrono::minutes(25)};
    BackoffTimings backoff; // between attempts after a failure
};

// Keeps one IMAP connection in IDLE on INBOX and says when mail arrives, so that the
// program checks at once rather than at its next poll. Before each connection it asks
// its secret source (a password, or an access token renewed when near its end), then
// logs in, examines INBOX (read-only: nothing is ever marked), remembers its count and
// waits in IDLE; every renewal it ends the IDLE, asks NOOP (whose answer must come within
// the connection's step time, so a peer gone silent is found there) and idles again. A
// failure drops the connection and a new one is tried after a backoff, which starts
// over only once a connection has come through a renewal; wake() tries at once. An
// access token the server refuses is renewed once and tried again at once.
//
// Signals are never emitted from inside a call to the watcher; their slots may call
// anything on it or delete it. After stop() nothing more is emitted.
class ImapWatcher : public QObject {
    Q_OBJECT
public:
    // settings: the connection's, given keep-alive and no deadline here.
    ImapWatcher(ConnectionSettings settings, RandomSource &random, ImapWatcherTimings timings = {},
                QObject *parent = nullptr);
    ~ImapWatcher() override; // closes at once

    // Starts watching the account; the same account (address and user) while watched (or
    // waiting to retry) keeps its connection, the new source giving the next login's
    // secret; another account starts afresh. A POP3 address: idleUnavailable().
    void watch(const MailServerAddress &address, const QString &user, SecretSource secrets);
    // The same with a secret that does not change (a password).
    void watch(const MailServerAddress &address, const QString &user, const MailSecret &secret);
    // Ends at once: the connection is dropped without a word, nothing more is emitted.
    void stop();
    // The machine resumed or the network came back: the connection is made anew at once
    // and the backoff starts over (once a lent connection is back). Nothing while stopped.
    void wake();

    // Lends the connection, logged in and INBOX examined, to a check of the account it
    // watches (address and user: the secret may have been refreshed since the login), so
    // that the check costs no login: its IDLE is ended (DONE, the server's answer coming
    // before the borrower's) and nothing is renewed meanwhile. Null when not in IDLE on
    // this account at this moment. Whatever it says unasked goes nowhere.
    std::unique_ptr<ImapChannel> lend(const MailServerAddress &address, const QString &user);
    // The borrower is done: a channel still logged in goes back to IDLE on INBOX, another
    // is let go and a new one made. mailArrived() follows when INBOX holds more messages
    // than when it was lent. A lent channel destroyed instead counts as lost.
    void takeBack(std::unique_ptr<ImapChannel> channel);

signals:
    // A connection reached IDLE (not again at its renewals).
    void watching();
    // ...and it follows one that was lost (or dropped by wake()): mail may have come
    // meanwhile. Emitted right after watching().
    void reconnected();
    // The INBOX holds more messages than before: once per rise, whatever its size (rises
    // told in one go are told once), also when the rise is seen on a new connection or
    // once a lent one is back.
    void mailArrived();
    // The server does not offer IDLE; the watcher logged out and stopped.
    void idleUnavailable();
    // The first failure of a streak that ends when IDLE is reached again; retrying.
    void connectionLost(const MailFailure &failure);
    // A failure that retrying would only repeat until the user acts: the password
    // refused, a token refused again once renewed (or with no way to send it), no secret
    // to be had (keyring locked, sign-in to renew), the certificate not trusted or
    // changed, encryption missing where it is needed or struck, credentials that cannot
    // be sent. The watcher stopped.
    void stopped(const MailFailure &failure);

private:
    // Where the watcher is; changed only by enter().
    enum class Phase {
        Stopped,
        Waiting,        // to retry after a failure
        AskingSecret,   // of the secret source, before connecting
        Connecting,     // until IDLE: connect, log in, examine
        Idling,
        Renewing,       // our DONE went out; the NOOP and a new IDLE follow
        EndedByServer,  // the server ended the IDLE itself: waiting to idle again
        Lent,           // the connection is out with a borrower
    };
    void enter(Phase phase);
    // refused: the server refused the secret last given (see SecretSource).
    void askSecret(bool refused = false);
    void connectToServer();
    void listenTo(ImapChannel *channel);
    // The watcher's answer for its own channel, dropped once that channel is not its own.
    template <class Step>
    std::function<void(const ImapEvent &)> answer(Step step);
    void lentChannelGone();
    void loggedIn(const ImapEvent &event);
    void examined(const ImapEvent &event);
    void unasked(const ImapEvent &event);
    void noteCount(std::int64_t messages);
    void idling();
    void idleEnded(const ImapEvent &event);
    void renew();
    void renewed(const ImapEvent &event);
    void renewedAfterWholePeriod(const ImapEvent &event);
    void lose(const MailFailure &failure);
    void dropChannel();
    void logOutForGood();
    // Emits from the event loop, unless stop() or a new watch() came first.
    template <class... Parameters, class... Arguments>
    void announce(void (ImapWatcher::*signal)(Parameters...), Arguments &&...arguments);

    ConnectionSettings settings_;
    ImapWatcherTimings timings_;
    RetryBackoff backoff_;
    MailServerAddress address_;
    QString user_;
    SecretSource secrets_;
    MailSecret secret_;              // the last one the source gave
    Phase phase_ = Phase::Stopped;
    ImapChannel *channel_ = nullptr; // a child; dropped ones are deleted from the event loop
    ImapChannel *lent_ = nullptr;    // out with a borrower (not ours meanwhile)
    std::int64_t messages_ = -1;     // in INBOX, as last told (on any connection); -1: not yet
    bool idledHere_ = false;         // this connection reached IDLE once
    bool wokenWhileLent_ = false;    // the lent channel may be dead: made anew on return
    bool afterLoss_ = false;         // this connection replaces one that was lost
    bool lossAnnounced_ = false;     // connectionLost() said for the current streak
    bool tokenRenewed_ = false;      // since the last login, after the server refused the token
    std::uint64_t generation_ = 0;   // one more with each stop() and each new watch
    std::uint64_t attempt_ = 0;      // one more with each secret asked: a late answer is dropped
    QTimer retry_;
    QTimer renewal_;
    QTimer arrival_; // mailArrived() from the event loop
};

} // namespace kingyo
