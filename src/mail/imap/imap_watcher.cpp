#include "mail/imap/imap_watcher.h"

#include "mail/imap/imap_channel.h"

#include <QPointer>
#include <utility>

namespace kingyo {
namespace {

// Failures that a retry would only repeat, at the server's cost, until the user does
// something: another password or token, trusting a certificate, looking into a server
// that no longer offers encryption.
bool needsTheUser(MailProblem problem)
{
    switch (problem) {
    case MailProblem::UserRejected:
    case MailProblem::LoginRejected:
    case MailProblem::TokenRejected:
    case MailProblem::TokenLoginUnavailable:
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

template <class Step>
std::function<void(const ImapEvent &)> ImapWatcher::answer(Step step)
{
    return [watcher = QPointer<ImapWatcher>(this), channel = channel_, step](const ImapEvent &event) {
        if (watcher && watcher->channel_ == channel)
            (watcher.data()->*step)(event);
    };
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

void ImapWatcher::watch(const MailServerAddress &address, const QString &user, const MailSecret &secret)
{
    // A new secret alone (a refreshed access token) keeps the connection: it is already
    // logged in, and the secret goes out at the next login.
    const bool sameAccount = address == address_ && user == user_;
    secret_ = secret;
    if (sameAccount && active_)
        return;
    stop();
    address_ = address;
    user_ = user;
    messages_ = -1;
    wokenWhileLent_ = false;
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
    if (lent_)
        disconnect(std::exchange(lent_, nullptr), &QObject::destroyed, this, nullptr);
    active_ = false;
}

void ImapWatcher::wake()
{
    if (!active_)
        return;
    backoff_.reset();
    if (lent_) {
        wokenWhileLent_ = true;
        return;
    }
    afterLoss_ = true;
    connectToServer();
}

std::unique_ptr<ImapChannel> ImapWatcher::lend(const MailServerAddress &address, const QString &user)
{
    if (!idling_ || address != address_ || user != user_)
        return nullptr;
    idling_ = false;
    renewing_ = true; // the IDLE's end is ours, and its answer no longer comes to us
    renewal_.stop();
    ImapChannel *channel = std::exchange(channel_, nullptr);
    lent_ = channel;
    channel->setUnaskedHandler(nullptr);
    channel->done();
    channel->setParent(nullptr);
    connect(channel, &QObject::destroyed, this, &ImapWatcher::lentChannelGone);
    return std::unique_ptr<ImapChannel>(channel);
}

void ImapWatcher::takeBack(std::unique_ptr<ImapChannel> channel)
{
    if (!channel)
        return;
    ImapChannel *returned = channel.release();
    returned->setParent(this);
    disconnect(returned, &QObject::destroyed, this, nullptr);
    const bool ours = returned == std::exchange(lent_, nullptr);
    const bool usable = returned->session().state() == ImapSession::State::Ready;
    if (!ours || !usable || std::exchange(wokenWhileLent_, false)) {
        // The borrower may be inside one of the channel's answers.
        returned->logout([returned] { returned->deleteLater(); });
        if (ours && active_) {
            afterLoss_ = true;
            connectToServer();
        }
        return;
    }
    channel_ = returned;
    listenTo(channel_);
    channel_->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
    channel_->examine(answer(&ImapWatcher::examined));
}

void ImapWatcher::lentChannelGone()
{
    lent_ = nullptr;
    afterLoss_ = true;
    retry_.start(0); // from the event loop: the borrower may be going with the program
}

void ImapWatcher::connectToServer()
{
    dropChannel();
    active_ = true;
    idledHere_ = false;
    renewing_ = false;
    endedByServer_ = false;
    channel_ = new ImapChannel(settings_);
    channel_->setParent(this);
    listenTo(channel_);
    channel_->open(address_, [this](const MailFailure &failure) {
        if (failure.problem != MailProblem::None)
            return lose(failure);
        channel_->logIn(user_, secret_, answer(&ImapWatcher::loggedIn));
    });
}

void ImapWatcher::listenTo(ImapChannel *channel)
{
    channel->setUnaskedHandler([this](const ImapEvent &event) { unasked(event); });
}

void ImapWatcher::loggedIn(const ImapEvent &event)
{
    if (event.result < 0)
        return lose(event.failure);
    if (!channel_->session().canIdle())
        return logOutForGood();
    channel_->examine(answer(&ImapWatcher::examined));
}

void ImapWatcher::examined(const ImapEvent &event)
{
    if (event.result < 0)
        return lose(event.failure);
    noteCount(event.status.messages);
    channel_->idle(answer(&ImapWatcher::idleEnded));
}

void ImapWatcher::unasked(const ImapEvent &event)
{
    if (event.kind == ImapEvent::Kind::Idling)
        return idling();
    if (event.kind != ImapEvent::Kind::MailboxChanged)
        return;
    noteCount(event.status.messages);
}

void ImapWatcher::noteCount(std::int64_t messages)
{
    // A fall (messages removed) only moves the mark the next rise is measured from.
    const bool rose = messages_ >= 0 && messages > messages_;
    messages_ = messages;
    if (rose)
        announce(&ImapWatcher::mailArrived);
}

void ImapWatcher::idling()
{
    idling_ = true;
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
    idling_ = false;
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
    idling_ = false;
    channel_->done();
    channel_->noop(answer(&ImapWatcher::renewed));
    channel_->idle(answer(&ImapWatcher::idleEnded));
}

void ImapWatcher::renewed(const ImapEvent &event)
{
    if (event.result < 0)
        lose(event.failure);
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
    idling_ = false;
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
