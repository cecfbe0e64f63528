#include "mail/imap/imap_watcher.h"

#include "mail/imap/imap_channel.h"

#include <utility>

namespace kingyo {
namespace {

// Failures that a retry would only repeat, at the server's cost, until the user does
// something: another password, trusting a certificate, looking into a server that no
// longer offers encryption.
bool needsTheUser(MailProblem problem)
{
    switch (problem) {
    case MailProblem::UserRejected:
    case MailProblem::LoginRejected:
    case MailProblem::CertificateUnknown:
    case MailProblem::CertificateAwaitsUser:
    case MailProblem::CertificateChanged:
    case MailProblem::EncryptionWithdrawn:
    case MailProblem::LoginDisabled:
    case MailProblem::UnsafeCredentials:
        return true;
    default:
        return false;
    }
}

ConnectionSettings longLived(ConnectionSettings settings)
{
    settings.keepAlive = true;
    settings.deadline = QDeadlineTimer(QDeadlineTimer::Forever);
    return settings;
}

} // namespace

template <class... Parameters, class... Arguments>
void ImapWatcher::announce(void (ImapWatcher::*signal)(Parameters...), Arguments &&...arguments)
{
    QMetaObject::invokeMethod(
        this,
        [this, signal, generation = generation_, ... arguments = std::forward<Arguments>(arguments)] {
            if (generation == generation_)
                (this->*signal)(arguments...);
        },
        Qt::QueuedConnection);
}

ImapWatcher::ImapWatcher(ConnectionSettings settings, RandomSource &random, ImapWatcherTimings timings,
                         QObject *parent)
    : QObject(parent), settings_(longLived(std::move(settings))), timings_(timings), backoff_(timings.backoff, random)
{
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &ImapWatcher::connectToServer);
    renewal_.setSingleShot(true);
    connect(&renewal_, &QTimer::timeout, this, &ImapWatcher::renew);
}

ImapWatcher::~ImapWatcher()
{
    stop(); // the channels, children of this, go with it
}

void ImapWatcher::watch(const MailServerAddress &address, const QString &user, const QString &password)
{
    const bool sameAccount = address == address_ && user == user_ && password == password_;
    if (sameAccount && active_)
        return;
    stop();
    address_ = address;
    user_ = user;
    password_ = password;
    if (address.protocol != MailServerAddress::Protocol::Imap)
        return announce(&ImapWatcher::idleUnavailable);
    afterLoss_ = false;
    lossAnnounced_ = false;
    backoff_.reset();
    connectToServer();
}

void ImapWatcher::stop()
{
    ++generation_;
    dropChannel();
    active_ = false;
}

void ImapWatcher::wake()
{
    if (!active_)
        return;
    backoff_.reset();
    afterLoss_ = true;
    connectToServer();
}

void ImapWatcher::connectToServer()
{
    dropChannel();
    active_ = true;
    messages_ = -1;
    idledHere_ = false;
    renewing_ = false;
    endedByServer_ = false;
    channel_ = new ImapChannel(settings_);
    channel_->setParent(this);
    channel_->setUnaskedHandler([this](const ImapEvent &event) { unasked(event); });
    channel_->open(address_, [this](const MailFailure &failure) {
        if (failure.problem != MailProblem::None)
            return lose(failure);
        channel_->logIn(user_, password_, [this](const ImapEvent &event) { loggedIn(event); });
    });
}

void ImapWatcher::loggedIn(const ImapEvent &event)
{
    if (event.result < 0)
        return lose(event.failure);
    if (!channel_->session().canIdle())
        return logOutForGood();
    channel_->examine([this](const ImapEvent &event) { examined(event); });
}

void ImapWatcher::examined(const ImapEvent &event)
{
    if (event.result < 0)
        return lose(event.failure);
    messages_ = event.status.messages;
    channel_->idle([this](const ImapEvent &event) { idleEnded(event); });
}

void ImapWatcher::unasked(const ImapEvent &event)
{
    if (event.kind == ImapEvent::Kind::Idling)
        return idling();
    if (event.kind != ImapEvent::Kind::MailboxChanged)
        return;
    // A fall (messages removed) only moves the mark the next rise is measured from.
    const bool rose = messages_ >= 0 && event.status.messages > messages_;
    messages_ = event.status.messages;
    if (rose)
        announce(&ImapWatcher::mailArrived);
}

void ImapWatcher::idling()
{
    renewing_ = false;
    if (!std::exchange(endedByServer_, false))
        backoff_.reset();
    renewal_.start(timings_.renewEvery);
    if (std::exchange(idledHere_, true))
        return; // a renewal
    lossAnnounced_ = false;
    announce(&ImapWatcher::watching);
    if (std::exchange(afterLoss_, false))
        announce(&ImapWatcher::reconnected);
}

void ImapWatcher::idleEnded(const ImapEvent &event)
{
    if (event.result < 0)
        return lose(event.failure);
    if (renewing_)
        return; // ended by our DONE: the NOOP and the next IDLE are on their way
    // The server ended the IDLE itself. Asked again at once, a server that keeps doing
    // so would be answered as fast as the network goes: it waits as a retry would.
    endedByServer_ = true;
    renewal_.start(backoff_.next());
}

void ImapWatcher::renew()
{
    renewing_ = true;
    channel_->done();
    channel_->noop([this](const ImapEvent &event) {
        if (event.result < 0)
            lose(event.failure);
    });
    channel_->idle([this](const ImapEvent &event) { idleEnded(event); });
}

void ImapWatcher::lose(const MailFailure &failure)
{
    dropChannel();
    if (needsTheUser(failure.problem)) {
        active_ = false;
        return announce(&ImapWatcher::stopped, failure);
    }
    afterLoss_ = true;
    retry_.start(backoff_.next());
    if (!std::exchange(lossAnnounced_, true))
        announce(&ImapWatcher::connectionLost, failure);
}

void ImapWatcher::dropChannel()
{
    retry_.stop();
    renewal_.stop();
    if (!channel_)
        return;
    channel_->abandon();
    // Possibly inside one of its own answers: deleted from the event loop.
    std::exchange(channel_, nullptr)->deleteLater();
}

void ImapWatcher::logOutForGood()
{
    active_ = false;
    ImapChannel *channel = std::exchange(channel_, nullptr);
    channel->logout([channel] { channel->deleteLater(); });
    announce(&ImapWatcher::idleUnavailable);
}

} // namespace kingyo
