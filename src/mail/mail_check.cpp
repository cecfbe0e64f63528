#include "mail/mail_check.h"

#include "mail/mail_headers.h"
#include "mail/mail_library.h"
#include "mail/pop3_failure.h"
#include "mail/seen_messages.h"
#include "settings/shared_state.h"

#include <QPointer>
#include <QTimer>
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

} // namespace

void MailCheckSurroundings::fetchAccessToken(QDeadlineTimer, TokenAnswer answer)
{
    QTimer::singleShot(0, [answer = std::move(answer)] { answer({}, {MailProblem::NoLoginPossible, {}, {}}); });
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

void MailCheck::setStep(Step step)
{
    const bool wasRunning = isRunning();
    step_ = step;
    if (wasRunning != isRunning())
        emit runningChanged(isRunning());
}

bool MailCheck::start()
{
    if (isRunning() || shutDown_ || state_.pop3Server.isEmpty())
        return false;
    setStep(Step::Connecting);
    deadline_ = QDeadlineTimer(budget_);
    ++run_;
    if (surroundings_.signsInWithToken())
        fetchTokenThenConnect();
    else if (surroundings_.passwordLocked())
        QMetaObject::invokeMethod(this, [this] { tellKeyringLocked(); }, Qt::QueuedConnection);
    else
        connect();
    return true;
}

void MailCheck::connect()
{
    setStep(Step::Connecting);
    mail_.connect(state_.pop3Server, deadline_, [this](std::int64_t handle) { connected(int(handle)); });
}

void MailCheck::connected(int handle)
{
    if (handle == -1) {
        // A server that cannot be reached is not "no new mail": say why first.
        if (const MailFailure failure = mail_.lastFailure(); failure.problem != MailProblem::Abandoned)
            surroundings_.showError(failure);
        finish(0);
        return;
    }
    handle_ = handle;
    if (secret_.isAccessToken()) {
        state_.userId = surroundings_.readAccount().userId;
        state_.userPass.clear();
        logIn(secret_);
        return;
    }
    const Account account = surroundings_.readAccount();
    surroundings_.fillAccountDialog(account);
    state_.userId = account.userId;
    state_.userPass = account.password;
    if (state_.userId.isEmpty() || state_.userPass.isEmpty()) {
        surroundings_.showAccountDialog();
        closeThenFinish(0);
        return;
    }
    logIn(state_.userPass);
}

void MailCheck::fetchTokenThenConnect()
{
    setStep(Step::FetchingToken);
    surroundings_.fetchAccessToken(deadline_, [self = QPointer<MailCheck>(this), run = run_](
                                                  const MailSecret &token, const MailFailure &failure) {
        if (!self || self->run_ != run || self->shutDown_ || self->step_ != Step::FetchingToken)
            return;
        if (failure.problem != MailProblem::None)
            return self->failWith(failure);
        self->secret_ = token;
        self->connect();
    });
}

void MailCheck::tellKeyringLocked()
{
    if (shutDown_ || step_ != Step::Connecting)
        return;
    const Account account = surroundings_.readAccount();
    surroundings_.fillAccountDialog(account);
    state_.userId = account.userId;
    state_.userPass = account.password;
    failWith({MailProblem::KeyringLocked, {}, {}});
}

void MailCheck::logIn(const MailSecret &secret)
{
    secret_ = secret;
    if (mail_.counting(handle_) == MailLibrary::Counting::Unread) {
        countUnread();
        return;
    }
    seenStore_.reset();
    if (!newOnlyFolder_.isEmpty())
        seenStore_.emplace(newOnlyFolder_, state_.pop3Server, state_.userId);
    setStep(Step::LoggingIn);
    const auto use = seenStore_ ? MailLibrary::Use::ListIds : MailLibrary::Use::Fetch;
    const bool apop = state_.apopFlag != 0 && !secret_.isAccessToken();
    mail_.authenticate(handle_, state_.userId, secret_, apop, use, [this](std::int64_t count) { loggedIn(int(count)); });
}

void MailCheck::countUnread()
{
    markStore_.reset();
    if (newOnlyFolder_.isEmpty())
        return countUnreadSince(std::nullopt);
    markStore_.emplace(newOnlyFolder_, state_.pop3Server, state_.userId);
    if (const auto known = marks_.find(markStore_->path()); known != marks_.end())
        return countUnreadSince(known->second);
    setStep(Step::LoadingSeen);
    worker_.run([store = *markStore_] { return store.load(); },
                [this](const std::optional<UnreadMark> &mark) { countUnreadSince(mark); });
}

void MailCheck::countUnreadSince(std::optional<UnreadMark> since)
{
    setStep(Step::LoggingIn);
    mail_.countUnread(handle_, state_.userId, secret_, since, kSummaries,
                      [this, since](const UnreadCount &count) {
                          if (count.result < 0)
                              return failed(count.result);
                          for (const QByteArray &headers : count.headers)
                              newest_ << summarizeHeaders(headers);
                          if (markStore_ && count.mark != since)
                              markToStore_ = count.mark;
                          closeThenFinish(int(count.result));
                      });
}

void MailCheck::loggedIn(int count)
{
    if (count < 0) {
        failed(count);
        return;
    }
    waiting_ = count;
    if (seenStore_) {
        setStep(Step::ListingIds);
        mail_.messageIds(handle_, [this](int listed, std::vector<std::string> ids) { idsListed(listed, std::move(ids)); });
        return;
    }
    setStep(Step::Fetching);
    fetchFrom(1);
}

void MailCheck::fetchFrom(int message)
{
    for (; message <= waiting_; ++message) {
        mail_.mailStatus(handle_, message);
        // A message whose size cannot be learned is not fetched; the rest still are.
        if (mail_.mailSize(handle_, message) < 0)
            continue;
        mail_.fetchMail(handle_, message, [this, message](std::int64_t result) {
            if (endsTheCheck(result))
                failed(result);
            else
                fetchFrom(message + 1);
        });
        return;
    }
    summarize(newestMessages(waiting_, anyMessage), waiting_);
}

// The new messages among the waiting ones, learnt from their unique IDs, which are to
// become the seen ones. What this run remembers for a store that could not be written
// is newer than the store. A server that keeps no IDs gives the waiting count.
void MailCheck::idsListed(int listed, std::vector<std::string> ids)
{
    if (listed == pop3::kServerError) {
        summarize(newestMessages(waiting_, anyMessage), waiting_);
        return;
    }
    if (listed < 0) {
        failed(listed);
        return;
    }
    if (const auto found = unstoredSeen_.find(seenStore_->path()); found != unstoredSeen_.end()) {
        seenLoaded(std::move(ids), found->second);
        return;
    }
    // On the worker: a large store's read could stall the fish.
    setStep(Step::LoadingSeen);
    worker_.run([store = *seenStore_] { return std::make_shared<const std::set<std::string>>(store.load()); },
                [this, ids = std::move(ids)](const IdSet &seen) mutable { seenLoaded(std::move(ids), seen); });
}

void MailCheck::seenLoaded(std::vector<std::string> ids, const IdSet &seen)
{
    const int fresh = countNewMessages(*seen, ids);
    std::vector<int> newest;
    if (fresh > 0) // a message's number is its place in the list
        newest = newestMessages(int(ids.size()), [&](int message) {
            return !seen->contains(ids[static_cast<std::size_t>(message) - 1]);
        });
    // Nothing came and nothing went: the store says so already, and rewriting it would
    // cost a sync to disk on every check.
    if (fresh > 0 || seen->size() != ids.size())
        seenToStore_ = SeenIds{*seenStore_, std::move(ids)};
    summarize(std::move(newest), fresh);
}

// Who wrote these messages and what about. A message whose headers the server refuses
// is left out; a failure that ends the session ends the asking, the count standing.
void MailCheck::summarize(std::vector<int> messages, int count)
{
    if (messages.empty()) {
        closeThenFinish(count);
        return;
    }
    setStep(Step::ReadingHeaders);
    const int message = messages.front();
    messages.erase(messages.begin());
    mail_.messageHeaders(handle_, message,
                         [this, rest = std::move(messages), count](int result, const QByteArray &headers) {
                             if (result == 0)
                                 newest_ << summarizeHeaders(headers);
                             if (result == 0 || result == pop3::kServerError)
                                 summarize(rest, count);
                             else
                                 closeThenFinish(count);
                         });
}

void MailCheck::failed(std::int64_t result)
{
    const MailFailure failure = mail_.lastFailure();
    if (failure.problem == MailProblem::CertificateUnknown) {
        askToTrustCertificate(failure);
        return;
    }
    if (failure.problem != MailProblem::None && failure.problem != MailProblem::Abandoned)
        surroundings_.showError(failure);
    closeThenFinish(int(result));
}

void MailCheck::askToTrustCertificate(const MailFailure &failure)
{
    // The question needs no error box; the check ends at once either way.
    if (surroundings_.trustCertificate(failure) == MailCheckSurroundings::TrustAnswer::Deferred)
        surroundings_.showError({MailProblem::CertificateAwaitsUser, failure.facts, failure.serverText});
    closeThenFinish(failure.code());
}

void MailCheck::failWith(const MailFailure &failure)
{
    surroundings_.showError(failure);
    closeThenFinish(failure.code());
}

void MailCheck::closeThenFinish(int count)
{
    if (handle_ != -1)
        mail_.close(std::exchange(handle_, -1));
    finish(count);
}

void MailCheck::finish(int count)
{
    if (shutDown_)
        return;
    setStep(Step::Announcing);
    std::optional<SeenIds> seen = std::exchange(seenToStore_, std::nullopt);
    std::optional<UnreadMark> mark = std::exchange(markToStore_, std::nullopt);
    surroundings_.showNotice(count, std::exchange(newest_, {}));
    if (surroundings_.hangUpAfterCheck())
        surroundings_.hangUp();
    // Only now, the mail announced: an end before this leaves the messages new.
    if (seen)
        storeSeenThenEnd(std::move(*seen), count);
    else if (mark)
        storeMarkThenEnd(*markStore_, *mark, count);
    else
        end(count);
}

// On the worker, as a large store's write and sync could stall the fish.
void MailCheck::storeSeenThenEnd(SeenIds seen, int count)
{
    setStep(Step::StoringSeen);
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

// On the worker, as every store; the mark is kept for the run either way, or every
// later check would announce the same mail again.
void MailCheck::storeMarkThenEnd(UnreadMarkStore store, UnreadMark mark, int count)
{
    setStep(Step::StoringSeen);
    marks_[store.path()] = mark;
    worker_.run([store, mark] { return store.save(mark); }, [this, count](bool) { end(count); });
}

void MailCheck::end(int count)
{
    secret_ = {};
    setStep(Step::Idle);
    emit finished(count);
}

bool MailCheck::shutDown(bool endLibrary)
{
    shutDown_ = true;
    if (isRunning())
        mail_.abandon();
    if (endLibrary)
        mail_.end();
    handle_ = -1;
    return worker_.stop({}, std::chrono::seconds(1));
}

} // namespace kingyo
