#pragma once
#include "mail/mail_failure.h"
#include "mail/mail_headers.h"
#include "mail/mail_worker.h"
#include "mail/mail_library.h"
#include "mail/seen_messages.h"
#include "settings/account_file.h"

#include <QDeadlineTimer>
#include <QObject>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace kingyo {

struct SharedState;

// What a mail check needs from the windows and files around it. The program's own
// implementation reaches the real windows; tests record the calls. Every call comes on
// the thread that started the check.
class MailCheckSurroundings {
public:
    virtual ~MailCheckSurroundings() = default;
    virtual Account readAccount() = 0;
    // The account's password is kept in the keyring, which has not given it (locked,
    // or not answering): the check says so rather than asking for the account.
    virtual bool passwordLocked() { return false; }
    // The account signs in through the browser: the check logs in with an access token,
    // the account's ID being the mail address, and never asks for the account.
    virtual bool signsInWithToken() { return false; }
    using TokenAnswer = std::function<void(const MailSecret &token, const MailFailure &failure)>;
    // An access token for the check, asked before connecting: answers once, later (never
    // within the call), by the deadline at the latest; a failure (sign in again, the
    // keyring locked, the provider out of reach, the deadline) ends the check with its
    // error box, no connection made. By default: no way to get one.
    virtual void fetchAccessToken(QDeadlineTimer deadline, TokenAnswer answer);
    // Writes the account into the account dialog's boxes, loading it hidden if needed.
    virtual void fillAccountDialog(const Account &account) = 0;
    virtual void showAccountDialog() = 0; // modeless
    // Tells the failure; returns at once. The box waits for nothing: it is shown from the
    // event loop, once the check has let go of its connection.
    virtual void showError(const MailFailure &failure) = 0;
    enum class TrustAnswer {
        Asked,    // the question is open; on yes the certificate is pinned and a check runs again
        Declined, // these surroundings cannot ask at all
        Deferred, // not asked: nobody may be there to answer; a check the user starts asks
    };
    // A CertificateUnknown failure: whether the user is asked to trust that certificate
    // from now on. Returns at once; the check ends either way.
    virtual TrustAnswer trustCertificate(const MailFailure &) { return TrustAnswer::Declined; }
    // Announces the run's result: a modeless notice, and whatever else tells the user.
    // `newest`: who wrote the newest of the new mail and what about, the newest first.
    virtual void showNotice(int count, const QList<MailSummary> &newest) = 0;
    virtual bool hangUpAfterCheck() = 0;                   // the hang-up option
    virtual void hangUp() = 0;
};

// One mail check at a time, as a small state machine on the thread that starts it:
// connects, logs in with the account (or, for an account that signs in through the
// browser, with an access token the surroundings fetch before it connects), fetches every waiting message (or, new-only,
// lists their IDs), reads the headers of the newest new ones, reports the count with
// them and hangs up when asked to. An IMAP server is asked for its unread messages
// instead, which it counts itself. The library answers by events, so the thread's
// events keep running throughout; the windows are reached between the steps, in order.
// Only the seen-ID files are read and written on a worker thread. A whole check has
// one time budget, name lookup included. A password the keyring withholds, like a
// token that cannot be had, ends the check before it connects.
class MailCheck : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds kBudget{60};
    static constexpr int kSummaries = 3; // new messages whose headers are read

    enum class Step {
        Idle,
        FetchingToken, // before connecting, for an account that signs in through the browser
        Connecting,
        LoggingIn,    // IMAP: until the unread messages are counted
        Fetching,     // message by message
        ListingIds,   // new-only
        LoadingSeen,  // new-only, on the worker (IMAP: before the login)
        ReadingHeaders,
        Announcing,   // the windows have the result
        StoringSeen,  // new-only, on the worker
    };

    MailCheck(SharedState &state, MailLibrary &mail, MailCheckSurroundings &surroundings,
              std::chrono::milliseconds budget = kBudget, QObject *parent = nullptr);
    // Abandons a check under way (as shutDown(false)).
    ~MailCheck() override;

    // Starts a check; false, and nothing done, while one is running or no server is set
    // (nothing can be asked, so nothing is said about the mailbox).
    bool start();
    bool isRunning() const { return step_ != Step::Idle; }
    Step step() const { return step_; }
    // From the next start(): with a folder, the check counts only messages whose unique
    // IDs no earlier check of the account on the server saw (their IDs kept in folder),
    // fetches no message, and reports that count; a server without unique IDs gives its
    // waiting count. An IMAP check counts the unread messages that came after the
    // UIDNEXT it stored there. Empty (the default): every waiting message is fetched and
    // counted (IMAP: every unread one). What was seen is stored only once the count was
    // announced (showNotice()); a folder that cannot be written keeps it for this run.
    void setNewOnlyFolder(const QString &folder) { newOnlyFolder_ = folder; }

    // The program is ending: a check under way is abandoned at once and shows nothing
    // more, the library is ended when endLibrary says so, and the worker is stopped
    // within a second. False when the worker was still busy then.
    bool shutDown(bool endLibrary);

signals:
    void runningChanged(bool running);
    // The check is over, the seen IDs stored: the count the notice showed (messages
    // waiting, 0, or a failure code).
    void finished(int count);

private:
    // The server's IDs in a new-only check, to be stored as seen.
    struct SeenIds {
        SeenMessageStore store;
        std::vector<std::string> ids;
    };
    using IdSet = std::shared_ptr<const std::set<std::string>>;

    void setStep(Step step);
    void connect();
    void connected(int handle);
    void fetchTokenThenConnect();
    // The keyring withholds the password: said without connecting.
    void tellKeyringLocked();
    void logIn(const MailSecret &secret);
    void loggedIn(int count);
    // IMAP: from the mark stored by the last new-only check, if any.
    void countUnread();
    void countUnreadSince(std::optional<UnreadMark> since);
    void unreadCounted(const UnreadCount &count);
    void fetchFrom(int message);
    void idsListed(int listed, std::vector<std::string> ids);
    void seenLoaded(std::vector<std::string> ids, const IdSet &seen);
    // Reads the headers of these messages, the newest first, then closes with count.
    void summarize(std::vector<int> messages, int count);
    void failed(std::int64_t result);
    void askToTrustCertificate(const MailFailure &failure);
    // Tells failure, then closes and finishes with its code.
    void failWith(const MailFailure &failure);
    void closeThenFinish(int count);
    void finish(int count);
    void storeSeenThenEnd(SeenIds seen, int count);
    void storeMarkThenEnd(UnreadMarkStore store, UnreadMark mark, int count);
    void end(int count);

    SharedState &state_;
    MailLibrary &mail_;
    MailCheckSurroundings &surroundings_;
    std::chrono::milliseconds budget_;
    MailWorker worker_;
    Step step_ = Step::Idle;
    QDeadlineTimer deadline_;
    int handle_ = -1;               // while connected
    MailSecret secret_;             // the run's password or access token, until it ends
    quint64 run_ = 0;               // one more with each start(): a late token answer is dropped
    int waiting_ = 0;               // from the login
    QString newOnlyFolder_;
    std::optional<SeenMessageStore> seenStore_; // new-only, during a check
    std::optional<SeenIds> seenToStore_;        // until the check's count is announced
    std::optional<UnreadMarkStore> markStore_;  // IMAP new-only, during a check
    std::optional<UnreadMark> markToStore_;     // until the check's count is announced
    QList<MailSummary> newest_;                 // to announce with the count
    std::map<QString, IdSet> unstoredSeen_;     // by store path: what a store that could not be written would hold
    std::map<QString, UnreadMark> marks_;       // by store path: the marks this run stored or meant to
    bool shutDown_ = false;
};

} // namespace kingyo
