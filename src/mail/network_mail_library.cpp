#include "mail/network_mail_library.h"

#include "mail/imap/imap_unread_count.h"
#include "mail/imap/imap_watcher.h"
#include "mail/pop3_failure.h"

namespace kingyo {

NetworkMailLibrary::NetworkMailLibrary(Pop3Settings settings) : settings_(std::move(settings)) {}

NetworkMailLibrary::~NetworkMailLibrary()
{
    abandon();
}

void NetworkMailLibrary::setLender(ImapWatcher *watcher)
{
    lender_ = watcher;
}

QObject *NetworkMailLibrary::Session::channel() const
{
    return pop3 ? static_cast<QObject *>(pop3.get()) : imap.get();
}

void NetworkMailLibrary::dispose(Room &room, QObject *channel)
{
    const auto found = room.find(channel);
    if (found == room.end())
        return;
    Session gone = std::move(found->second);
    room.erase(found);
    gone.pop3.release();
    gone.imap.release();
    channel->deleteLater();
}

Pop3Channel *NetworkMailLibrary::pop3(int handle)
{
    const auto found = sessions_.find(handle);
    return found == sessions_.end() ? nullptr : found->second.pop3.get();
}

void NetworkMailLibrary::later(MailFailure failure, std::function<void()> answer)
{
    QMetaObject::invokeMethod(
        this,
        [this, generation = generation_, failure = std::move(failure), answer = std::move(answer)] {
            if (generation != generation_)
                return; // abandoned meanwhile
            lastFailure_ = failure;
            answer();
        },
        Qt::QueuedConnection);
}

void NetworkMailLibrary::answerUnknown(int handle, std::function<void()> answer)
{
    later({MailProblem::UnknownHandle, {QString::number(handle)}, {}}, std::move(answer));
}

template <class Event>
std::int64_t NetworkMailLibrary::noted(const Event &event)
{
    if (event.result < 0)
        lastFailure_ = event.failure;
    return event.result;
}

void NetworkMailLibrary::connect(const QString &server, QDeadlineTimer deadline, Answer answer)
{
    const auto address = parseMailServerAddress(server);
    if (!address) {
        later({MailProblem::UnreadableServerField, {server.left(200)}, {}},
              [answer = std::move(answer)] { answer(pop3::kCouldNotConnect); });
        return;
    }
    if (address->protocol == MailServerAddress::Protocol::Pop3)
        return openPop3(*address, deadline, std::move(answer));
    const int handle = nextHandle_++;
    Session &session = sessions_[handle];
    session.imapAddress = *address;
    session.deadline = deadline;
    later({}, [handle, answer = std::move(answer)] { answer(handle); });
}

void NetworkMailLibrary::openPop3(const MailServerAddress &address, QDeadlineTimer deadline, Answer answer)
{
    Pop3Settings channelSettings = settings_;
    channelSettings.deadline = deadline;
    auto owned = std::make_unique<Pop3Channel>(channelSettings);
    Pop3Channel *channel = owned.get();
    connecting_[channel].pop3 = std::move(owned);
    channel->open(address, [this, channel, answer = std::move(answer)](const MailFailure &failure) {
        if (failure.problem != MailProblem::None) {
            lastFailure_ = failure;
            dispose(connecting_, channel); // this call runs inside it
            answer(pop3::kCouldNotConnect);
            return;
        }
        const auto found = connecting_.find(channel);
        const int handle = nextHandle_++;
        sessions_.emplace(handle, std::move(found->second));
        connecting_.erase(found);
        answer(handle);
    });
}

MailLibrary::Counting NetworkMailLibrary::counting(int handle) const
{
    const auto found = sessions_.find(handle);
    return found != sessions_.end() && !found->second.pop3 ? Counting::Unread : Counting::Waiting;
}

void NetworkMailLibrary::authenticate(int handle, const QString &user, const MailSecret &secret, bool apop, Use use,
                                      Answer answer)
{
    Pop3Channel *channel = pop3(handle);
    if (!channel)
        return answerUnknown(handle, [answer = std::move(answer)] { answer(pop3::kNotConnected); });
    channel->logIn(user, secret, apop, use == Use::Fetch,
                         [this, answer = std::move(answer)](const Pop3Event &event) { answer(noted(event)); });
}

int NetworkMailLibrary::mailStatus(int handle, int message)
{
    Pop3Channel *channel = pop3(handle);
    if (!channel) {
        lastFailure_ = MailFailure{MailProblem::UnknownHandle, {QString::number(handle)}, {}};
        return pop3::kNotConnected;
    }
    MailFailure why;
    const int result = channel->session().checkMessage(message, &why);
    if (result < 0)
        lastFailure_ = why;
    return result;
}

std::int64_t NetworkMailLibrary::mailSize(int handle, int message)
{
    Pop3Channel *channel = pop3(handle);
    if (!channel) {
        lastFailure_ = MailFailure{MailProblem::UnknownHandle, {QString::number(handle)}, {}};
        return pop3::kNotConnected;
    }
    MailFailure why;
    const std::int64_t result = channel->session().messageSize(message, &why);
    if (result < 0)
        lastFailure_ = why;
    return result;
}

void NetworkMailLibrary::fetchMail(int handle, int message, Answer answer)
{
    Pop3Channel *channel = pop3(handle);
    if (!channel)
        return answerUnknown(handle, [answer = std::move(answer)] { answer(pop3::kNotConnected); });
    channel->retrieve(message, [this, handle, answer = std::move(answer)](const Pop3Event &event) {
        if (const auto found = sessions_.find(handle); event.result == 0 && found != sessions_.end())
            found->second.lastBodySize = event.bodySize;
        answer(noted(event));
    });
}

void NetworkMailLibrary::messageIds(int handle, IdsAnswer answer)
{
    Pop3Channel *channel = pop3(handle);
    if (!channel)
        return answerUnknown(handle, [answer = std::move(answer)] { answer(pop3::kNotConnected, {}); });
    // Only what the seen store can keep: the rest would be held in memory for nothing.
    const IdListLimit limit{SeenMessageStore::kMaxIds, SeenMessageStore::kFileLimit};
    channel->listIds(limit, [this, answer = std::move(answer)](Pop3Event &&event) {
        answer(int(noted(event)), std::move(event.ids));
    });
}

void NetworkMailLibrary::messageHeaders(int handle, int message, HeadersAnswer answer)
{
    Pop3Channel *channel = pop3(handle);
    if (!channel)
        return answerUnknown(handle, [answer = std::move(answer)] { answer(pop3::kNotConnected, {}); });
    channel->readHeaders(message, [this, answer = std::move(answer)](const Pop3Event &event) {
        answer(int(noted(event)), event.headers);
    });
}

std::int64_t NetworkMailLibrary::lastBodySize(int handle) const
{
    const auto found = sessions_.find(handle);
    return found == sessions_.end() ? std::int64_t{pop3::kNotConnected} : found->second.lastBodySize;
}

void NetworkMailLibrary::countUnread(int handle, const QString &user, const MailSecret &secret,
                                     std::optional<UnreadMark> since, int summaries, UnreadAnswer answer)
{
    const auto found = sessions_.find(handle);
    if (found == sessions_.end() || !found->second.imapAddress)
        return answerUnknown(handle, [answer = std::move(answer)] { answer({pop3::kNotConnected, {}, {}}); });
    auto count = [this, since, summaries, answer](ImapChannel &channel) {
        kingyo::countUnread(channel, since, summaries, [this, answer](UnreadCount count, const MailFailure &failure) {
            if (count.result < 0)
                lastFailure_ = failure;
            answer(count);
        });
    };
    borrowOrOpen(handle, user, secret, std::move(count), std::move(answer));
}

void NetworkMailLibrary::borrowOrOpen(int handle, const QString &user, const MailSecret &secret,
                                      std::function<void(ImapChannel &)> count, UnreadAnswer answer)
{
    Session &session = sessions_.at(handle);
    const MailServerAddress address = *std::exchange(session.imapAddress, std::nullopt);
    std::unique_ptr<ImapChannel> lent = lender_ ? lender_->lend(address, user) : nullptr;
    if (!lent)
        return openImap(session, address, user, secret, std::move(count), std::move(answer));
    session.imap = std::move(lent);
    session.borrowed = true;
    ImapChannel *channel = session.imap.get();
    const QDeadlineTimer probe(settings_.borrowedProbeMs);
    channel->setDeadline(std::min(session.deadline, probe));
    channel->noop([=, this, count = std::move(count)](const ImapEvent &event) {
        const auto found = sessions_.find(handle);
        if (found == sessions_.end() || found->second.imap.get() != channel)
            return; // closed meanwhile
        Session &probed = found->second;
        if (event.result >= 0) {
            channel->setDeadline(probed.deadline);
            return count(*channel);
        }
        // Silent: the watcher makes its own connection anew, the check gets a fresh one.
        probed.borrowed = false;
        if (lender_)
            lender_->takeBack(std::move(probed.imap));
        else
            probed.imap.release()->deleteLater(); // we are inside one of its answers
        openImap(probed, address, user, secret, count, answer);
    });
}

void NetworkMailLibrary::openImap(Session &session, const MailServerAddress &address, const QString &user,
                                  const MailSecret &secret, std::function<void(ImapChannel &)> count,
                                  UnreadAnswer answer)
{
    Pop3Settings channelSettings = settings_;
    channelSettings.deadline = session.deadline;
    session.imap = std::make_unique<ImapChannel>(channelSettings);
    ImapChannel *channel = session.imap.get();
    channel->open(address, [=, this, count = std::move(count)](const MailFailure &failure) {
        if (failure.problem != MailProblem::None) {
            lastFailure_ = failure;
            return answer({pop3::kCouldNotConnect, {}, {}});
        }
        channel->logIn(user, secret, [this, channel, count, answer](const ImapEvent &event) {
            if (noted(event) < 0)
                return answer({event.result, {}, {}});
            count(*channel);
        });
    });
}

void NetworkMailLibrary::close(int handle)
{
    const auto found = sessions_.find(handle);
    if (found == sessions_.end())
        return;
    Session &session = found->second;
    if (session.borrowed && lender_) {
        std::unique_ptr<ImapChannel> channel = std::move(session.imap);
        sessions_.erase(found);
        lender_->takeBack(std::move(channel));
        return;
    }
    QObject *channel = session.channel();
    if (!channel) {
        sessions_.erase(found); // an IMAP connection never made
        return;
    }
    Session &closing = closing_[channel] = std::move(session);
    sessions_.erase(found);
    const auto closed = [this, channel] { dispose(closing_, channel); };
    if (closing.imap)
        closing.imap->logout(closed);
    else
        closing.pop3->quit(closed);
}

void NetworkMailLibrary::end()
{
    abandon();
}

void NetworkMailLibrary::abandon()
{
    ++generation_;
    // Destroying a channel closes its connection at once and drops its answers.
    sessions_.clear();
    connecting_.clear();
    closing_.clear();
}

} // namespace kingyo
