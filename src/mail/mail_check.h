#pragma once
#include "mail/mail_failure.h"
#include "mail/mail_headers.h"
#include "mail/mail_worker.h"
#include "mail/seen_messages.h"
#include "settings/account_file.h"

#include <QDeadlineTimer>
#include <QObject>
#include <chrono>
#include <map>
#include <memory>
#include <optional>

namespace kingyo {

struct SharedState;
class MailLibrary;

// What a mail check needs from the windows and files around it. The program's own
// implementation reaches the real windows; tests record the calls. Every call comes on
// the thread that started the check.
class MailCheckSurroundings {
public:
    virtual ~MailCheckSurroundings() = default;
    virtual Account readAccount() = 0;
    // Writes the account into the account dialog's boxes, loading it hidden if needed.
    virtual void fillAccountDialog(const Account &account) = 0;
    virtual void showAccountDialog() = 0;                  // modeless
    virtual void showError(const MailFailure &failure) = 0; // modal, returns when closed
    enum class TrustAnswer {
        Trusted,  // pinned for the server (for this run at least)
        Declined, // the user said no, or these surroundings cannot ask at all
        Deferred, // not asked: nobody may be there to answer; a check the user starts asks
    };
    // A CertificateUnknown failure: asks whether to trust that certificate from now on
    // and, on yes, pins it for the server. Modal.
    virtual TrustAnswer trustCertificate(const MailFailure &) { return TrustAnswer::Declined; }
    // Announces the run's result: a modeless notice, and whatever else tells the user.
    // `newest`: who wrote the newest of the new mail and what about, the newest first.
    virtual void showNotice(int count, const QList<MailSummary> &newest) = 0;
    virtual bool hangUpAfterCheck() = 0;                   // the hang-up option
    virtual void hangUp() = 0;
};

// One mail check at a time: connects, logs in with the account, fetches every waiting
// message, reads the headers of the newest new ones, reports the count with them and
// hangs up when asked to. The library's calls run on a
// worker thread; the windows are reached between them, in order, on the thread that
// started the check, whose events keep running meanwhile. A whole check has one time
// budget, name lookup included; the login after the user trusted a certificate has a
// budget of its own, the time spent answering being the user's.
class MailCheck : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds kBudget{60};
    static constexpr int kSummaries = 3; // new messages whose headers are read

    MailCheck(SharedState &state, MailLibrary &mail, MailCheckSurroundings &surroundings,
              std::chrono::milliseconds budget = kBudget, QObject *parent = nullptr);
    // Abandons a check under way (as shutDown(false)).
    ~MailCheck() override;

    // Starts a check; false, and nothing done, while one is running.
    bool start();
    bool isRunning() const { return running_; }
    // From the next start(): with a folder, the check counts only messages whose unique
    // IDs no earlier check of the account on the server saw (their IDs kept in folder),
    // fetches no message, and reports that count; a server without unique IDs gives its
    // waiting count. Empty (the default): every waiting message is fetched and counted.
    // The IDs are stored as seen only once the count was announced (showNotice()); a
    // folder that cannot be written keeps them for this run.
    void setNewOnlyFolder(const QString &folder) { newOnlyFolder_ = folder; }

    // The program is ending: a check under way is abandoned and shows nothing more, the
    // library is ended on its own thread when endLibrary says so, and the worker is
    // stopped within a second. False when the worker was still busy then.
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
    // A library result with its failure, carried from the worker thread.
    struct Step {
        int result = 0;
        MailFailure failure;
        std::optional<SeenIds> seen;
        QList<MailSummary> newest;
    };
    using IdSet = std::shared_ptr<const std::set<std::string>>;

    static Step countNew(MailLibrary &mail, int handle, int waiting, const SeenMessageStore &store,
                         const IdSet &remembered);

    void connected(const Step &connect);
    void fetched(int handle, Step fetch);
    void askToTrustCertificate(int handle, const Step &fetch);
    void closeThenFinish(int handle, int count);
    void finish(int count);
    void storeSeenThenEnd(SeenIds seen, int count);
    void end(int count);
    void setRunning(bool running);

    SharedState &state_;
    MailLibrary &mail_;
    MailCheckSurroundings &surroundings_;
    std::chrono::milliseconds budget_;
    MailWorker worker_;
    QDeadlineTimer deadline_;
    bool certificateAsked_ = false; // one question per check
    QString newOnlyFolder_;
    std::optional<SeenIds> seenToStore_; // until the check's count is announced
    QList<MailSummary> newest_;          // to announce with the count
    std::map<QString, IdSet> unstoredSeen_; // by store path: what a store that could not be written would hold
    bool running_ = false;
    bool shutDown_ = false;
};

} // namespace kingyo
