#include "mail/mail_check.h"

#include "mail/mail_headers.h"
#include "mail/mail_library.h"
#include "mail/pop3_failure.h"
#include "mail/seen_messages.h"
#include "settings/shared_state.h"

#include <functional>

namespace kingyo {
namespace {

// Stops the fetch loop: after these the session is over and the user must hear why.
bool endsTheCheck(std::int64_t result) { return result == pop3::kTooLong || result == pop3::kAbandoned; }

// The numbers of the newest messages among 1..count that `picked` takes, the highest
// first, as many as the notice names.
std::vector<int> newestMessages(int count, const std::function<bool(int)> &picked)
{
    std::vector<int> numbers;
    for (int message = count; message >= 1 && numbers.size() < std::size_t{MailCheck::kSummaries}; --message) {
        if (picked(message))
            numbers.push_back(message);
    }
    return numbers;
}

bool anyMessage(int) { return true; }

// Who wrote these messages and what about. A message whose headers the server refuses
// is left out; a failure that ends the session ends the asking, the count standing.
QList<MailSummary> summarize(MailLibrary &mail, int handle, const std::vector<int> &messages)
{
    QList<MailSummary> summaries;
    QByteArray headers;
    for (const int message : messages) {
        const int result = mail.messageHeaders(handle, message, &headers);
        if (result == 0)
            summaries << summarizeHeaders(headers);
        else if (result != pop3::kServerError)
            break;
    }
    return summaries;
}

} // namespace

// The new messages among the waiting ones, learnt from their unique IDs, which are to
// become the seen ones. What this run remembers for a store that could not be written
// is newer than the store. A server that keeps no IDs gives the waiting count.
MailCheck::Step MailCheck::countNew(MailLibrary &mail, int handle, int waiting, const SeenMessageStore &store,
                                    const IdSet &remembered)
{
    std::vector<std::string> ids;
    const int listed = mail.messageIds(handle, &ids);
    if (listed == pop3::kServerError)
        return Step{waiting, {}, {}, summarize(mail, handle, newestMessages(waiting, anyMessage))};
    if (listed < 0)
        return Step{listed, mail.lastFailure(), {}, {}};
    const std::set<std::string> loaded = remembered ? std::set<std::string>{} : store.load();
    const std::set<std::string> &seen = remembered ? *remembered : loaded;
    const int fresh = countNewMessages(seen, ids);
    Step step{fresh, {}, {}, {}};
    if (fresh > 0) // a message's number is its place in the list
        step.newest = summarize(mail, handle, newestMessages(listed, [&](int message) {
                                    return !seen.contains(ids[static_cast<std::size_t>(message) - 1]);
                                }));
    // Nothing came and nothing went: the store says so already, and rewriting it would
    // cost a sync to disk on every check.
    if (fresh > 0 || seen.size() != ids.size())
        step.seen = SeenIds{store, std::move(ids)};
    return step;
}

MailCheck::MailCheck(SharedState &state, MailLibrary &mail, MailCheckSurroundings &surroundings,
                     std::chrono::milliseconds budget, QObject *parent)
    : QObject(parent), state_(state), mail_(mail), surroundings_(surroundings), budget_(budget), worker_(this)
{
}

MailCheck::~MailCheck()
{
    if (!shutDown_)
        shutDown(false);
}

bool MailCheck::start()
{
    if (running_ || shutDown_)
        return false;
    setRunning(true);
    if (state_.pop3Server.isEmpty()) {
        QMetaObject::invokeMethod(this, [this] { finish(0); }, Qt::QueuedConnection); // as every check: after start()
        return true;
    }
    deadline_ = QDeadlineTimer(budget_);
    certificateAsked_ = false;
    worker_.run(
        [&mail = mail_, server = state_.pop3Server, deadline = deadline_] {
            const int handle = mail.connect(server, deadline);
            return Step{handle, handle == -1 ? mail.lastFailure() : MailFailure{}, {}, {}};
        },
        [this](const Step &connect) { connected(connect); });
    return true;
}

void MailCheck::connected(const Step &connect)
{
    if (connect.result == -1) {
        // A server that cannot be reached is not "no new mail": say why first.
        if (connect.failure.problem != MailProblem::Abandoned)
            surroundings_.showError(connect.failure);
        finish(0);
        return;
    }
    const int handle = connect.result;
    const Account account = surroundings_.readAccount();
    surroundings_.fillAccountDialog(account);
    state_.userId = account.userId;
    state_.userPass = account.password;
    if (state_.userId.isEmpty() || state_.userPass.isEmpty()) {
        surroundings_.showAccountDialog();
        closeThenFinish(handle, 0);
        return;
    }
    std::optional<SeenMessageStore> store;
    IdSet remembered;
    if (!newOnlyFolder_.isEmpty()) {
        store.emplace(newOnlyFolder_, state_.pop3Server, state_.userId);
        if (const auto found = unstoredSeen_.find(store->path()); found != unstoredSeen_.end())
            remembered = found->second;
    }
    worker_.run(
        [&mail = mail_, handle, user = state_.userId, password = state_.userPass, apop = state_.apopFlag != 0,
         store, remembered] {
            const auto use = store ? MailLibrary::Use::ListIds : MailLibrary::Use::Fetch;
            const int count = mail.authenticate(handle, user, password, apop, use);
            if (count < 0)
                return Step{count, mail.lastFailure(), {}, {}};
            if (store)
                return countNew(mail, handle, count, *store, remembered);
            for (int message = 1; message <= count; ++message) {
                mail.mailStatus(handle, message);
                // A message whose size cannot be learned is not fetched; the rest still are.
                std::int64_t result = mail.mailSize(handle, message);
                if (result >= 0)
                    result = mail.fetchMail(handle, message);
                if (endsTheCheck(result))
                    return Step{static_cast<int>(result), mail.lastFailure(), {}, {}};
            }
            return Step{count, {}, {}, summarize(mail, handle, newestMessages(count, anyMessage))};
        },
        [this, handle](Step fetch) { fetched(handle, std::move(fetch)); });
}

void MailCheck::fetched(int handle, Step fetch)
{
    if (fetch.failure.problem == MailProblem::CertificateUnknown && !certificateAsked_) {
        askToTrustCertificate(handle, fetch);
        return;
    }
    if (fetch.failure.problem != MailProblem::None && fetch.failure.problem != MailProblem::Abandoned)
        surroundings_.showError(fetch.failure);
    seenToStore_ = std::move(fetch.seen);
    newest_ = std::move(fetch.newest);
    closeThenFinish(handle, fetch.result);
}

void MailCheck::askToTrustCertificate(int handle, const Step &fetch)
{
    certificateAsked_ = true;
    using Answer = MailCheckSurroundings::TrustAnswer;
    const Answer answer = surroundings_.trustCertificate(fetch.failure);
    if (answer == Answer::Deferred)
        surroundings_.showError({MailProblem::CertificateAwaitsUser, fetch.failure.facts, fetch.failure.serverText});
    if (answer != Answer::Trusted) {
        closeThenFinish(handle, fetch.result); // a no needs no error box
        return;
    }
    // Once more, the certificate now pinned, with the whole budget again: the time spent
    // comparing the fingerprint was the user's, not the server's.
    deadline_ = QDeadlineTimer(budget_);
    worker_.run(
        [&mail = mail_, handle, server = state_.pop3Server, deadline = deadline_] {
            mail.close(handle);
            const int again = mail.connect(server, deadline);
            return Step{again, again == -1 ? mail.lastFailure() : MailFailure{}, {}, {}};
        },
        [this](const Step &connect) { connected(connect); });
}

void MailCheck::closeThenFinish(int handle, int count)
{
    worker_.run(
        [&mail = mail_, handle] {
            mail.close(handle);
            return 0;
        },
        [this, count](int) { finish(count); });
}

void MailCheck::finish(int count)
{
    if (shutDown_)
        return;
    std::optional<SeenIds> seen = std::exchange(seenToStore_, std::nullopt);
    surroundings_.showNotice(count, std::exchange(newest_, {}));
    if (surroundings_.hangUpAfterCheck())
        surroundings_.hangUp();
    // Only now, the mail announced: an end before this leaves the messages new.
    if (seen)
        storeSeenThenEnd(std::move(*seen), count);
    else
        end(count);
}

// On the worker, as a large store's write and sync could stall the fish.
void MailCheck::storeSeenThenEnd(SeenIds seen, int count)
{
    auto pending = std::make_shared<const SeenIds>(std::move(seen));
    worker_.run([pending] { return pending->store.save(pending->ids); },
                [this, pending, count](bool stored) {
                    // Kept for the run, or every later check would announce the same mail again.
                    if (stored)
                        unstoredSeen_.erase(pending->store.path());
                    else
                        unstoredSeen_[pending->store.path()] =
                            std::make_shared<const std::set<std::string>>(pending->ids.begin(), pending->ids.end());
                    end(count);
                });
}

void MailCheck::end(int count)
{
    setRunning(false);
    emit finished(count);
}

void MailCheck::setRunning(bool running)
{
    running_ = running;
    emit runningChanged(running);
}

bool MailCheck::shutDown(bool endLibrary)
{
    shutDown_ = true;
    if (running_)
        mail_.abandon();
    std::function<void()> last;
    if (endLibrary)
        last = [&mail = mail_] { mail.end(); };
    return worker_.stop(std::move(last), std::chrono::seconds(1));
}

} // namespace kingyo
