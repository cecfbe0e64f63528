#include "settings/secret_store.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QUuid>
#include <qt6keychain/keychain.h>

#include <memory>

namespace kingyo {
namespace {

using Outcome = SecretStore::Outcome;

SecretStore::Result resultOf(const QKeychain::Job &job)
{
    switch (job.error()) {
    case QKeychain::NoError: {
        const auto *read = qobject_cast<const QKeychain::ReadPasswordJob *>(&job);
        return {Outcome::Done, read ? read->textData() : QString(), {}};
    }
    case QKeychain::EntryNotFound:
        return {Outcome::NotFound, {}, job.errorString()};
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        return {Outcome::Locked, {}, job.errorString()};
    case QKeychain::CouldNotDeleteEntry:
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
    case QKeychain::OtherError:
        break;
    }
    return {Outcome::NoService, {}, job.errorString()};
}

// The address the keyring library would reach the session bus at, or its socket in the
// runtime folder. Without either it would try to start a bus, and say it could not.
bool hasSessionBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return QDir::isAbsolutePath(runtime) && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

const QString kSecretService = QStringLiteral("org.freedesktop.secrets");

// Sends a call to the Secret Service and hands its reply to `then`, unless context is gone.
void callSecretService(const QString &path, const QString &interface, const QString &method,
                       const QVariantList &arguments, const QObject *context, std::chrono::milliseconds timeout,
                       std::function<void(const QDBusMessage &)> then)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kSecretService, path, interface, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call, static_cast<int>(timeout.count())));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [then](QDBusPendingCallWatcher *reply) { then(reply->reply()); });
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, &QObject::deleteLater);
}

// Calls `then` with whether the keyring is waiting for the user: the keyring that
// secrets go to is not made yet or is locked, so it prompts to make or unlock it (a
// keyring that cannot prompt refuses at once instead).
void askWhetherPrompting(const QObject *context, std::chrono::milliseconds timeout, std::function<void(bool)> then)
{
    callSecretService(
        QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("org.freedesktop.Secret.Service"),
        QStringLiteral("ReadAlias"), {QStringLiteral("default")}, context, timeout,
        [context, timeout, then](const QDBusMessage &alias) {
            if (alias.type() != QDBusMessage::ReplyMessage || alias.arguments().isEmpty())
                return then(false);
            const QString keyring = alias.arguments().constFirst().value<QDBusObjectPath>().path();
            if (keyring == QStringLiteral("/"))
                return then(true); // not made yet
            callSecretService(keyring, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                              {QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked")},
                              context, timeout, [then](const QDBusMessage &locked) {
                                  then(locked.type() == QDBusMessage::ReplyMessage && !locked.arguments().isEmpty()
                                       && locked.arguments().constFirst().value<QDBusVariant>().variant().toBool());
                              });
        });
}

// The answer of one request, until it is given.
using PendingAnswer = std::shared_ptr<SecretStore::Answer>;

void answerOnce(const PendingAnswer &pending, const SecretStore::Result &result)
{
    if (const SecretStore::Answer once = std::exchange(*pending, nullptr))
        once(result);
}

// After the timeout, answers NoService unless the keyring is asking the user; then
// looks again after another.
void answerUnlessPrompting(const QObject *context, std::chrono::milliseconds timeout, const PendingAnswer &pending)
{
    QTimer::singleShot(timeout, context, [context, timeout, pending] {
        if (!*pending)
            return;
        askWhetherPrompting(context, timeout, [context, timeout, pending](bool prompting) {
            if (prompting)
                return answerUnlessPrompting(context, timeout, pending);
            answerOnce(pending, {Outcome::NoService, {}, QStringLiteral("no answer from the keyring in time")});
        });
    });
}

// Jobs delete themselves once they have answered; one that never answers is left alone,
// as the keyring library may still call it back.
void run(QKeychain::Job *job, const QString &key, const QObject *context, std::chrono::milliseconds timeout,
         SecretStore::Answer answer)
{
    if (!hasSessionBus()) {
        delete job;
        QTimer::singleShot(0, context, [answer = std::move(answer)] { answer({Outcome::NoService, {}, {}}); });
        return;
    }
    job->setKey(key);
    const auto pending = std::make_shared<SecretStore::Answer>(std::move(answer));
    QObject::connect(job, &QKeychain::Job::finished, context,
                     [pending](QKeychain::Job *done) { answerOnce(pending, resultOf(*done)); });
    answerUnlessPrompting(context, timeout, pending);
    job->start();
}

} // namespace

void SecretStore::read(const QString &key, const QObject *context, Answer answer) const
{
    run(new QKeychain::ReadPasswordJob(service_), key, context, timeout_, std::move(answer));
}

void SecretStore::write(const QString &key, const QString &secret, const QObject *context, Answer answer) const
{
    auto *job = new QKeychain::WritePasswordJob(service_);
    job->setTextData(secret);
    run(job, key, context, timeout_, std::move(answer));
}

void SecretStore::remove(const QString &key, const QObject *context, Answer answer) const
{
    run(new QKeychain::DeletePasswordJob(service_), key, context, timeout_, [answer = std::move(answer)](const Result &result) {
        answer(result.outcome == Outcome::NotFound ? Result{Outcome::Done, {}, {}} : result);
    });
}

void SecretStore::readTellingLocked(const QString &key, const QObject *context, Answer answer) const
{
    const QString probeKey = lockProbeKey();
    read(key, context, [this, context, probeKey, answer = std::move(answer)](const Result &found) {
        if (found.outcome != Outcome::NotFound)
            return answer(found);
        write(probeKey, QString(), context, [this, context, probeKey, answer, found](const Result &probe) {
            if (probe.outcome != Outcome::Done)
                return answer(probe);
            remove(probeKey, context, [answer, found](const Result &) { answer(found); });
        });
    });
}

QString accountSecretKey(const QString &kind, const QString &keyringId)
{
    return QStringLiteral("%1:%2").arg(kind, keyringId);
}

QString newKeyringId() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

} // namespace kingyo
