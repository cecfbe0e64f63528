#include "mail/pop3/pop3_mail_library.h"

#include "mail/pop3_failure.h"

namespace kingyo {

Pop3MailLibrary::Pop3MailLibrary(Pop3Settings settings) : settings_(std::move(settings)) {}

Pop3MailLibrary::~Pop3MailLibrary()
{
    abandon();
}

std::unique_ptr<Pop3Channel> Pop3MailLibrary::take(Channels &room, Pop3Channel *channel)
{
    auto found = room.find(channel);
    if (found == room.end())
        return nullptr;
    std::unique_ptr<Pop3Channel> owned = std::move(found->second);
    room.erase(found);
    return owned;
}

Pop3MailLibrary::Session *Pop3MailLibrary::session(int handle)
{
    const auto found = sessions_.find(handle);
    return found == sessions_.end() ? nullptr : &found->second;
}

void Pop3MailLibrary::later(MailFailure failure, std::function<void()> answer)
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

void Pop3MailLibrary::answerUnknown(int handle, std::function<void()> answer)
{
    later({MailProblem::UnknownHandle, {QString::number(handle)}, {}}, std::move(answer));
}

std::int64_t Pop3MailLibrary::noted(const Pop3Event &event)
{
    if (event.result < 0)
        lastFailure_ = event.failure;
    return event.result;
}

void Pop3MailLibrary::connect(const QString &server, QDeadlineTimer deadline, Answer answer)
{
    const auto address = parseMailServerAddress(server);
    if (!address || address->protocol != MailServerAddress::Protocol::Pop3) {
        later({MailProblem::UnreadableServerField, {server.left(200)}, {}},
              [answer = std::move(answer)] { answer(pop3::kCouldNotConnect); });
        return;
    }
    Pop3Settings channelSettings = settings_;
    channelSettings.deadline = deadline;
    auto owned = std::make_unique<Pop3Channel>(channelSettings);
    Pop3Channel *channel = owned.get();
    connecting_.emplace(channel, std::move(owned));
    channel->open(*address, [this, channel, answer = std::move(answer)](const MailFailure &failure) {
        std::unique_ptr<Pop3Channel> opened = take(connecting_, channel);
        if (failure.problem != MailProblem::None) {
            lastFailure_ = failure;
            opened.release()->deleteLater(); // this call runs inside it
            answer(pop3::kCouldNotConnect);
            return;
        }
        const int handle = nextHandle_++;
        sessions_.emplace(handle, Session{std::move(opened), 0});
        answer(handle);
    });
}

void Pop3MailLibrary::authenticate(int handle, const QString &user, const QString &password, bool apop, Use use,
                                   Answer answer)
{
    Session *open = session(handle);
    if (!open)
        return answerUnknown(handle, [answer = std::move(answer)] { answer(pop3::kNotConnected); });
    open->channel->logIn(user, password, apop, use == Use::Fetch,
                         [this, answer = std::move(answer)](const Pop3Event &event) { answer(noted(event)); });
}

int Pop3MailLibrary::mailStatus(int handle, int message)
{
    Session *open = session(handle);
    if (!open) {
        lastFailure_ = MailFailure{MailProblem::UnknownHandle, {QString::number(handle)}, {}};
        return pop3::kNotConnected;
    }
    MailFailure why;
    const int result = open->channel->session().checkMessage(message, &why);
    if (result < 0)
        lastFailure_ = why;
    return result;
}

std::int64_t Pop3MailLibrary::mailSize(int handle, int message)
{
    Session *open = session(handle);
    if (!open) {
        lastFailure_ = MailFailure{MailProblem::UnknownHandle, {QString::number(handle)}, {}};
        return pop3::kNotConnected;
    }
    MailFailure why;
    const std::int64_t result = open->channel->session().messageSize(message, &why);
    if (result < 0)
        lastFailure_ = why;
    return result;
}

void Pop3MailLibrary::fetchMail(int handle, int message, Answer answer)
{
    Session *open = session(handle);
    if (!open)
        return answerUnknown(handle, [answer = std::move(answer)] { answer(pop3::kNotConnected); });
    open->channel->retrieve(message, [this, open, answer = std::move(answer)](const Pop3Event &event) {
        if (event.result == 0)
            open->lastBodySize = event.bodySize;
        answer(noted(event));
    });
}

void Pop3MailLibrary::messageIds(int handle, IdsAnswer answer)
{
    Session *open = session(handle);
    if (!open)
        return answerUnknown(handle, [answer = std::move(answer)] { answer(pop3::kNotConnected, {}); });
    open->channel->listIds([this, answer = std::move(answer)](const Pop3Event &event) {
        answer(int(noted(event)), event.ids);
    });
}

void Pop3MailLibrary::messageHeaders(int handle, int message, HeadersAnswer answer)
{
    Session *open = session(handle);
    if (!open)
        return answerUnknown(handle, [answer = std::move(answer)] { answer(pop3::kNotConnected, {}); });
    open->channel->readHeaders(message, [this, answer = std::move(answer)](const Pop3Event &event) {
        answer(int(noted(event)), event.headers);
    });
}

std::int64_t Pop3MailLibrary::lastBodySize(int handle) const
{
    const auto found = sessions_.find(handle);
    return found == sessions_.end() ? std::int64_t{pop3::kNotConnected} : found->second.lastBodySize;
}

void Pop3MailLibrary::close(int handle)
{
    const auto found = sessions_.find(handle);
    if (found == sessions_.end())
        return;
    Pop3Channel *channel = found->second.channel.get();
    closing_.emplace(channel, std::move(found->second.channel));
    sessions_.erase(found);
    // Channels are deleted from the event loop: this may run inside one of its answers.
    channel->quit([this, channel] {
        if (std::unique_ptr<Pop3Channel> done = take(closing_, channel))
            done.release()->deleteLater();
    });
}

void Pop3MailLibrary::end()
{
    abandon();
}

void Pop3MailLibrary::abandon()
{
    ++generation_;
    // Destroying a channel closes its connection at once and drops its answers.
    sessions_.clear();
    connecting_.clear();
    closing_.clear();
}

} // namespace kingyo
