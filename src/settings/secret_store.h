#pragma once
#include <QString>
#include <chrono>
#include <functional>

class QObject;

namespace kingyo {

// The account's secrets in the desktop's keyring (the Secret Service), through
// QtKeychain, under one service name. A secret is named by its kind and the copy of
// kingyo it belongs to (see accountSecretKey()), so the password and any later secret
// of the account lie side by side. Requests run one after another in the order made, and each
// answers later through the thread's event loop, never from inside the call; nothing
// waits for the keyring. An answer is dropped when its context object is gone. A
// request the keyring leaves unanswered for the store's timeout (a keyring library
// whose own event loop is not running never answers) answers NoService then, unless
// the keyring is asking the user something (its keyring is locked, or not made yet,
// so a Secret Service prompt is up to unlock or make it): then it waits for the user,
// looking again after each timeout. Without a session bus there is no keyring to ask: every request
// answers NoService with nothing to log.
class SecretStore {
public:
    enum class Outcome {
        Done,      // read: the secret is in `secret`; write, remove: done
        NotFound,  // read: no such secret. A locked keyring whose unlock prompt was
                   // dismissed answers so too; only a write tells it is locked.
        Locked,    // the keyring is locked and stayed so, or refused access
        NoService, // no Secret Service answers, or it failed otherwise (`why` says how)
    };
    struct Result {
        Outcome outcome = Outcome::NoService;
        QString secret;
        QString why; // the keyring's own words, for the log; never holds a secret; may be empty
    };
    using Answer = std::function<void(const Result &)>;

    static constexpr std::chrono::milliseconds kTimeout{10000};
    // A key written and removed again only to learn whether the keyring is locked.
    static QString lockProbeKey() { return QStringLiteral("lock-probe"); }

    explicit SecretStore(QString service, std::chrono::milliseconds timeout = kTimeout)
        : service_(std::move(service)), timeout_(timeout)
    {
    }

    void read(const QString &key, const QObject *context, Answer answer) const;
    void write(const QString &key, const QString &secret, const QObject *context, Answer answer) const;
    // Done also when there was nothing to remove.
    void remove(const QString &key, const QObject *context, Answer answer) const;
    // As read(), but a NotFound is checked with a throwaway write, which a locked keyring
    // refuses: Locked then, instead of NotFound.
    void readTellingLocked(const QString &key, const QObject *context, Answer answer) const;

private:
    QString service_;
    std::chrono::milliseconds timeout_;
};

// The key of one secret of the account: its kind ("password", say) and the name of
// this copy's secrets (PasswordPlace::keyringId).
QString accountSecretKey(const QString &kind, const QString &keyringId);

// A new name for a copy's secrets, unlike any other copy's.
QString newKeyringId();

} // namespace kingyo
