#include "mail/network_mail_library.h"

#include "mail/imap/imap_unread_count.h"
#include "mail/pop3_failure.h"

#include <type_traits>

namespace kingyo {

NetworkMailLibrary::NetworkMailLibrary(Pop3Settings settings) : settings_(std::move(settings)) {}

NetworkMailLibrary::~NetworkMailLibrary()
{
    abandon();
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

ImapChannel *NetworkMailLibrary::imap(int handle)
{
    const auto found = sessions_.find(handle);
    return found == sessions_.end() ? nullptr : found->second.imap.get();
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
    Pop3Settings channelSettings = settings_;
    channelSettings.deadline = deadline;
    if (address->protocol == MailServerAddress::Protocol::Imap)
        open(std::make_unique<ImapChannel>(channelSettings), *address, std::move(answer));
    else
        open(std::make_unique<Pop3Channel>(channelSettings), *address, std::move(answer));
}

template <class Channel>
void NetworkMailLibrary::open(std::unique_ptr<Channel> owned, const MailServerAddress &address, Answer answer)
{
    Channel *channel = owned.get();
    Session &session = connecting_[channel];
    if constexpr (std::is_same_v<Channel, ImapChannel>)
        session.imap = std::move(owned);
    else
        session.pop3 = std::move(owned);
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
    return found != sessions_.end() && found->second.imap ? Counting::Unread : Counting::Waiting;
}

void NetworkMailLibrary::authenticate(int handle, const QString &user, const QString &password, bool apop, Use use,
                                   Answer answer)
{
    Pop3Channel *channel = pop3(handle);
    if (!channel)
        return answerUnknown(handle, [answer = std::move(answer)] { answer(pop3::kNotConnected); });
    channel->logIn(user, password, apop, use == Use::Fetch,
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
    channel->listIds([this, answer = std::move(answer)](const Pop3Event &event) {
        answer(int(noted(event)), event.ids);
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

void NetworkMailLibrary::countUnread(int handle, const QString &user, const QString &password,
                                     std::optional<UnreadMark> since, int summaries, UnreadAnswer answer)
{
    ImapChannel *channel = imap(handle);
    if (!channel)
        return answerUnknown(handle, [answer = std::move(answer)] { answer({pop3::kNotConnected, {}, {}}); });
    channel->logIn(user, password, [this, channel, since, summaries, answer = std::move(answer)](const ImapEvent &event) {
        if (noted(event) < 0)
            return answer({event.result, {}, {}});
        kingyo::countUnread(*channel, since, summaries, [this, answer](UnreadCount count, const MailFailure &failure) {
            if (count.result < 0)
                lastFailure_ = failure;
            answer(count);
        });
    });
}

void NetworkMailLibrary::close(int handle)
{
    const auto found = sessions_.find(handle);
    if (found == sessions_.end())
        return;
    QObject *channel = found->second.channel();
    Session &closing = closing_[channel] = std::move(found->second);
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
