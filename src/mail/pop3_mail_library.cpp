#include "mail/pop3_mail_library.h"

#include "mail/pop3_failure.h"

namespace kingyo {

Pop3MailLibrary::Pop3MailLibrary(Pop3Settings settings) : settings_(std::move(settings))
{
    settings_.abandoned = &abandoned_;
}

Pop3MailLibrary::~Pop3MailLibrary()
{
    end();
}

Pop3Client *Pop3MailLibrary::client(int handle)
{
    const auto found = clients_.find(handle);
    if (found != clients_.end())
        return found->second.get();
    lastFailure_ = MailFailure{MailProblem::UnknownHandle, {QString::number(handle)}, {}};
    return nullptr;
}

template <typename Result>
Result Pop3MailLibrary::noted(Pop3Client &client, Result result)
{
    if (result < 0)
        lastFailure_ = client.failure();
    return result;
}

int Pop3MailLibrary::connect(const QString &server, QDeadlineTimer deadline)
{
    const auto address = parsePop3ServerAddress(server);
    if (!address) {
        lastFailure_ = MailFailure{MailProblem::UnreadableServerField, {server.left(200)}, {}};
        return pop3::kCouldNotConnect;
    }
    Pop3Settings sessionSettings = settings_;
    sessionSettings.sessionDeadline = deadline;
    auto session = std::make_unique<Pop3Client>(sessionSettings);
    if (noted(*session, session->connectTo(*address)) < 0)
        return pop3::kCouldNotConnect;
    const int handle = nextHandle_++;
    clients_.emplace(handle, std::move(session));
    return handle;
}

int Pop3MailLibrary::authenticate(int handle, const QString &user, const QString &password, bool apop, Use use)
{
    Pop3Client *session = client(handle);
    return session ? noted(*session, session->login(user, password, apop, use == Use::Fetch))
                   : pop3::kNotConnected;
}

int Pop3MailLibrary::mailStatus(int handle, int message)
{
    Pop3Client *session = client(handle);
    return session ? noted(*session, session->checkMessage(message)) : pop3::kNotConnected;
}

std::int64_t Pop3MailLibrary::mailSize(int handle, int message)
{
    Pop3Client *session = client(handle);
    return session ? noted(*session, session->messageSize(message)) : std::int64_t{pop3::kNotConnected};
}

int Pop3MailLibrary::fetchMail(int handle, int message)
{
    Pop3Client *session = client(handle);
    return session ? noted(*session, session->retrieve(message)) : pop3::kNotConnected;
}

int Pop3MailLibrary::messageIds(int handle, std::vector<std::string> *ids)
{
    ids->clear();
    Pop3Client *session = client(handle);
    return session ? noted(*session, session->uniqueIds(ids)) : pop3::kNotConnected;
}

int Pop3MailLibrary::messageHeaders(int handle, int message, QByteArray *headers)
{
    headers->clear();
    Pop3Client *session = client(handle);
    return session ? noted(*session, session->topHeaders(message, headers)) : pop3::kNotConnected;
}

std::int64_t Pop3MailLibrary::lastBodySize(int handle) const
{
    const auto found = clients_.find(handle);
    return found == clients_.end() ? std::int64_t{pop3::kNotConnected} : found->second->lastBodySize();
}

void Pop3MailLibrary::close(int handle)
{
    clients_.erase(handle);
}

void Pop3MailLibrary::end()
{
    clients_.clear();
}

} // namespace kingyo
