#include "settings/secret_store.h"

#include <qt6keychain/keychain.h>

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

// Jobs delete themselves once they have answered.
void run(QKeychain::Job *job, const QString &key, const QObject *context, SecretStore::Answer answer)
{
    job->setKey(key);
    QObject::connect(job, &QKeychain::Job::finished, context,
                     [answer = std::move(answer)](QKeychain::Job *done) { answer(resultOf(*done)); });
    job->start();
}

} // namespace

void SecretStore::read(const QString &key, const QObject *context, Answer answer) const
{
    run(new QKeychain::ReadPasswordJob(service_), key, context, std::move(answer));
}

void SecretStore::write(const QString &key, const QString &secret, const QObject *context, Answer answer) const
{
    auto *job = new QKeychain::WritePasswordJob(service_);
    job->setTextData(secret);
    run(job, key, context, std::move(answer));
}

void SecretStore::remove(const QString &key, const QObject *context, Answer answer) const
{
    run(new QKeychain::DeletePasswordJob(service_), key, context, [answer = std::move(answer)](const Result &result) {
        answer(result.outcome == Outcome::NotFound ? Result{Outcome::Done, {}, {}} : result);
    });
}

QString accountSecretKey(const QString &kind, const QString &keyringId)
{
    return QStringLiteral("%1:%2").arg(kind, keyringId);
}

} // namespace kingyo
