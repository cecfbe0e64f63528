#include "settings/secret_store.h"

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

// Jobs delete themselves once they have answered; one that never answers is left alone,
// as the keyring library may still call it back.
void run(QKeychain::Job *job, const QString &key, const QObject *context, std::chrono::milliseconds timeout,
         SecretStore::Answer answer)
{
    job->setKey(key);
    auto pending = std::make_shared<SecretStore::Answer>(std::move(answer));
    const auto answerOnce = [pending](const SecretStore::Result &result) {
        if (const SecretStore::Answer once = std::exchange(*pending, nullptr))
            once(result);
    };
    QObject::connect(job, &QKeychain::Job::finished, context,
                     [answerOnce](QKeychain::Job *done) { answerOnce(resultOf(*done)); });
    QTimer::singleShot(timeout, context, [answerOnce] {
        answerOnce({Outcome::NoService, {}, QStringLiteral("no answer from the keyring in time")});
    });
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
