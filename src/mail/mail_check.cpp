#include "mail/mail_check.h"

#include "mail/mail_library.h"
#include "mail/pop3_failure.h"
#include "mail/seen_messages.h"
#include "settings/shared_state.h"

namespace kingyo {
namespace {

// Stops the fetch loop: after these the session is over and the user must hear why.
bool endsTheCheck(std::int64_t result) { return result == pop3::kTooLong || result == pop3::kAbandoned; }

// The new messages among the waiting ones, learnt from their unique IDs, which then
// become the seen ones. A server that keeps no IDs gives the waiting count.
int countNew(MailLibrary &mail, int handle, int waiting, const SeenMessageStore &store)
{
    std::vector<std::string> ids;
    const int listed = mail.messageIds(handle, &ids);
    if (listed == pop3::kServerError)
        return waiting;
    if (listed < 0)
        return listed;
    const std::set<std::string> seen = store.load();
    const int fresh = countNewMessages(seen, ids);
    // Nothing came and nothing went: the store says so already, and rewriting it would
    // cost a sync to disk on every check.
    if (fresh > 0 || seen.size() != ids.size())
        store.save(ids); // a store that cannot be written counts the same messages again next time
    return fresh;
}

} // namespace

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
            return Step{handle, handle == -1 ? mail.lastFailure() : MailFailure{}};
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
    worker_.run(
        [&mail = mail_, handle, user = state_.userId, password = state_.userPass, apop = state_.apopFlag != 0,
         server = state_.pop3Server, newOnlyFolder = newOnlyFolder_] {
            const auto use = newOnlyFolder.isEmpty() ? MailLibrary::Use::Fetch : MailLibrary::Use::ListIds;
            const int count = mail.authenticate(handle, user, password, apop, use);
            if (count < 0)
                return Step{count, mail.lastFailure()};
            if (!newOnlyFolder.isEmpty()) {
                const int fresh = countNew(mail, handle, count, SeenMessageStore(newOnlyFolder, server, user));
                return Step{fresh, fresh < 0 ? mail.lastFailure() : MailFailure{}};
            }
            for (int message = 1; message <= count; ++message) {
                mail.mailStatus(handle, message);
                // A message whose size cannot be learned is not fetched; the rest still are.
                std::int64_t result = mail.mailSize(handle, message);
                if (result >= 0)
                    result = mail.fetchMail(handle, message);
                if (endsTheCheck(result))
                    return Step{static_cast<int>(result), mail.lastFailure()};
            }
            return Step{count, {}};
        },
        [this, handle](const Step &fetch) { fetched(handle, fetch); });
}

void MailCheck::fetched(int handle, const Step &fetch)
{
    if (fetch.failure.problem == MailProblem::CertificateUnknown && !certificateAsked_) {
        askToTrustCertificate(handle, fetch);
        return;
    }
    if (fetch.failure.problem != MailProblem::None && fetch.failure.problem != MailProblem::Abandoned)
        surroundings_.showError(fetch.failure);
    closeThenFinish(handle, fetch.result);
}

void MailCheck::askToTrustCertificate(int handle, const Step &fetch)
{
    certificateAsked_ = true;
    if (!surroundings_.trustCertificate(fetch.failure)) {
        closeThenFinish(handle, fetch.result); // the user said no: no error box to add
        return;
    }
    // Once more, the certificate now pinned, within the same deadline.
    worker_.run(
        [&mail = mail_, handle, server = state_.pop3Server, deadline = deadline_] {
            mail.close(handle);
            const int again = mail.connect(server, deadline);
            return Step{again, again == -1 ? mail.lastFailure() : MailFailure{}};
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
    surroundings_.showNotice(count);
    if (surroundings_.hangUpAfterCheck())
        surroundings_.hangUp();
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
