#include "mail/imap/imap_watcher.h"

#include "mail/imap/imap_channel.h"

#include <QPointer>
#include <utility>

namespace kingyo {
namespace {

// Failures that a retry would only repeat, at the server's cost, until the user does
// something: another password or token, unlocking the keyring, trusting a certificate,
// looking into a server that no longer offers encryption.
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
    case MailProblem::KeyringLocked:
    case MailProblem::SignInAgain:
    case MailProblem::NoLoginPossible:
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
    connect(&retry_, &QTimer::timeout, this, [this] { askSecret(); });
    renewal_.setSingleShot(true);
    connect(&renewal_, &QTimer::timeout, this, &ImapWatcher::renew);
    arrival_.setSingleShot(true);
    arrival_.setInterval(0);
    connect(&arrival_, &QTimer::timeout, this, &ImapWatcher::mailArrived);
}

ImapWatcher::~ImapWatcher()
{
    stop(); // the channels, children of this, go with it
}

void ImapWatcher::enter(Phase phase)
{
    phase_ = phase;
}

void ImapWatcher::watch(const MailServerAddress &address, const QString &user, SecretSource secrets)
{
    // A new source alone (a password reread, a token refreshed) keeps the connection:
    // it is already logged in, and the source gives the next login's secret.
    const bool sameAccount = address == address_ && user == user_;
    secrets_ = std::move(secrets);
    if (sameAccount && phase_ != Phase::Stopped)
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
    tokenRenewed_ = false;
    backoff_.reset();
    askSecret();
}

void ImapWatcher::watch(const MailServerAddress &address, const QString &user, const MailSecret &secret)
{
    watch(address, user, [secret](bool, const SecretAnswer &answer) { answer(secret, {}); });
}

void ImapWatcher::stop()
{
    ++generation_;
    arrival_.stop();
    dropChannel();
    if (lent_)
        disconnect(std::exchange(lent_, nullptr), &QObject::destroyed, this, nullptr);
    enter(Phase::Stopped);
}

void ImapWatcher::wake()
{
    if (phase_ == Phase::Stopped)
        return;
    backoff_.reset();
    if (phase_ == Phase::Lent) {
        wokenWhileLent_ = true;
        return;
    }
    afterLoss_ = true;
    askSecret();
}

std::unique_ptr<ImapChannel> ImapWatcher::lend(const MailServerAddress &address, const QString &user)
{
    if (phase_ != Phase::Idling || address != address_ || user != user_)
        return nullptr;
    renewal_.stop();
    ImapChannel *channel = std::exchange(channel_, nullptr);
    lent_ = channel;
    enter(Phase::Lent);
    channel->setUnaskedHandler(nullptr);
    channel->done(); // the IDLE's end is ours, and its answer no longer comes to us
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
    const bool ours = returned == lent_ && phase_ == Phase::Lent;
    if (returned == lent_)
        lent_ = nullptr;
    const bool usable = returned->session().state() == ImapSession::State::Ready;
    if (!ours || !usable || std::exchange(wokenWhileLent_, false)) {
        // The borrower may be inside one of the channel's answers.
        returned->logout([returned] { returned->deleteLater(); });
        if (ours) {
            afterLoss_ = true;
            askSecret();
        }
        return;
    }
    channel_ = returned;
    enter(Phase::Connecting);
    listenTo(channel_);
    channel_->setDeadline(QDeadlineTimer(QDeadlineTimer::Forever));
    channel_->examine(answer(&ImapWatcher::examined));
}

void ImapWatcher::lentChannelGone()
{
    lent_ = nullptr;
    afterLoss_ = true;
    enter(Phase::Waiting);
    retry_.start(0); // from the event loop: the borrower may be going with the program
}

void ImapWatcher::askSecret(bool refused)
{
    dropChannel();
    enter(Phase::AskingSecret);
    const std::uint64_t attempt = ++attempt_;
    if (!secrets_)
        return lose({MailProblem::NoLoginPossible, {}, {}});
    secrets_(refused,
             [watcher = QPointer<ImapWatcher>(this), attempt](const MailSecret &secret, const MailFailure &failure) {
                 if (!watcher || watcher->attempt_ != attempt || watcher->phase_ != Phase::AskingSecret)
                     return;
                 if (failure.problem != MailProblem::None)
                     return watcher->lose(failure);
                 watcher->secret_ = secret;
                 watcher->connectToServer();
             });
}

void ImapWatcher::connectToServer()
{
    enter(Phase::Connecting);
    idledHere_ = false;
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
    if (event.result < 0) {
        // A token refused before its time (revoked, or expired while we slept): renewed
        // once and tried again at once; refused again, it needs the user.
        if (event.failure.problem == MailProblem::TokenRejected && secret_.isAccessToken()
            && !std::exchange(tokenRenewed_, true))
            return askSecret(true);
        return lose(event.failure);
    }
    tokenRenewed_ = false;
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
    if (rose && !arrival_.isActive())
        arrival_.start(); // a flood of news is told once
}

void ImapWatcher::idling()
{
    enter(Phase::Idling);
    renewal_.start(timings_.renewEvery);
    if (std::exchange(idledHere_, true))
        return; // a renewal, or back from a borrower
    lossAnnounced_ = false;
    announce(&ImapWatcher::watching);
    if (std::exchange(afterLoss_, false))
        announce(&ImapWatcher::reconnected);
}

void ImapWatcher::idleEnded(const ImapEvent &event)
{
    if (event.result < 0)
        return lose(event.failure);
    if (phase_ == Phase::Renewing)
        return; // ended by our DONE: the NOOP and the next IDLE are on their way
    // The server ended the IDLE itself. Asked again at once, a server that keeps doing
    // so would be answered as fast as the network goes: it waits as a retry would.
    enter(Phase::EndedByServer);
    renewal_.start(backoff_.next());
}

void ImapWatcher::renew()
{
    // Only a whole IDLE period, ended by us and answered, shows the connection healthy.
    const bool wholePeriod = phase_ == Phase::Idling;
    enter(Phase::Renewing);
    channel_->done();
    channel_->noop(answer(wholePeriod ? &ImapWatcher::renewedAfterWholePeriod : &ImapWatcher::renewed));
    channel_->idle(answer(&ImapWatcher::idleEnded));
}

void ImapWatcher::renewed(const ImapEvent &event)
{
    if (event.result < 0)
        lose(event.failure);
}

void ImapWatcher::renewedAfterWholePeriod(const ImapEvent &event)
{
    if (event.result < 0)
        return lose(event.failure);
    // The next failure waits the first step again. Not sooner: a server that drops
    // every connection soon after IDLE must see the waits grow.
    backoff_.reset();
}

void ImapWatcher::lose(const MailFailure &failure)
{
    dropChannel();
    if (needsTheUser(failure.problem)) {
        enter(Phase::Stopped);
        return announce(&ImapWatcher::stopped, failure);
    }
    afterLoss_ = true;
    enter(Phase::Waiting);
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
    enter(Phase::Stopped);
    ImapChannel *channel = std::exchange(channel_, nullptr);
    channel->logout([channel] { channel->deleteLater(); });
    announce(&ImapWatcher::idleUnavailable);
}

} // namespace kingyo
