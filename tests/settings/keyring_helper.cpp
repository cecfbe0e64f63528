// Uses the keyring from a process of its own, so that a test can give it a keyring that
// is locked or missing, or end it in the middle of a move:
//   keyring_helper store ACTION...   read:KEY, write:KEY:SECRET or remove:KEY in turn (the
//                                    secret after the last colon);
//                                    prints each outcome, and what a read found
//   keyring_helper start FOLDER installed|portable
//                                    starts the password's keeper of the copy whose
//                                    "★MailData" is in FOLDER; prints "withheld" or the password
//   keyring_helper move FOLDER keyring|file
//                                    prints "moved" or the failure's number
//   keyring_helper churn FOLDER      moves the password in and out for ever; says "moving" first
#include "settings/app_paths.h"
#include "settings/password_keeper.h"
#include "settings/secret_store.h"

#include <QCoreApplication>

#include <cstdio>
#include <utility>

namespace kingyo {
namespace {

const char *outcomeName(SecretStore::Outcome outcome)
{
    switch (outcome) {
    case SecretStore::Outcome::Done:
        return "Done";
    case SecretStore::Outcome::NotFound:
        return "NotFound";
    case SecretStore::Outcome::Locked:
        return "Locked";
    case SecretStore::Outcome::NoService:
        return "NoService";
    }
    return "?";
}

void say(const QString &line)
{
    std::puts(qPrintable(line));
    std::fflush(stdout);
}

void runStoreActions(const SecretStore &store, QStringList actions)
{
    if (actions.isEmpty())
        return QCoreApplication::quit();
    const QString action = actions.takeFirst();
    const QString verb = action.section(u':', 0, 0);
    const QString key = action.section(u':', 1); // keys hold colons themselves
    const auto answered = [&store, actions](const SecretStore::Result &result) {
        say(QString::fromLatin1(outcomeName(result.outcome)) + u' ' + result.secret);
        runStoreActions(store, actions);
    };
    if (verb == QStringLiteral("read"))
        store.read(key, qApp, answered);
    else if (verb == QStringLiteral("write"))
        store.write(key.section(u':', 0, -2), key.section(u':', -1), qApp, answered);
    else
        store.remove(key, qApp, answered);
}

// Calls `then` from the event loop each time the keeper has nothing more to do.
void whenIdle(PasswordKeeper &keeper, const std::function<void()> &then)
{
    QObject::connect(
        &keeper, &PasswordKeeper::stateChanged, &keeper,
        [&keeper, then] {
            if (!keeper.busy())
                then();
        },
        Qt::QueuedConnection);
}

// Says what the keeper came to, once it has nothing more to do, and ends.
void endWhenIdle(PasswordKeeper &keeper, const std::function<QString()> &outcome)
{
    whenIdle(keeper, [outcome, said = false]() mutable {
        if (!std::exchange(said, true))
            say(outcome());
        QCoreApplication::quit();
    });
}

} // namespace
} // namespace kingyo

int main(int argc, char **argv)
{
    using namespace kingyo;
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    if (arguments.size() < 2)
        return 2;
    const SecretStore store(QStringLiteral("kingyo"));
    const QString command = arguments.takeFirst();
    if (command == QStringLiteral("store")) {
        runStoreActions(store, arguments);
        return app.exec();
    }
    const AppPaths paths{.programDir = arguments.value(0), .installed = arguments.value(1) == QStringLiteral("installed")};
    PasswordKeeper keeper(paths);
    keeper.useStore(&store);
    bool failed = false;
    QObject::connect(&keeper, &PasswordKeeper::moveFailed, &keeper, [&failed](PasswordKeeper::MoveFailure failure) {
        failed = true;
        say(QString::number(int(failure)));
    });
    if (command == QStringLiteral("start")) {
        endWhenIdle(keeper, [&keeper] {
            return keeper.withheld() ? QStringLiteral("withheld") : QStringLiteral("password ") + keeper.stored().password;
        });
        keeper.start();
    } else if (command == QStringLiteral("move")) {
        const bool intoKeyring = arguments.value(1) == QStringLiteral("keyring");
        endWhenIdle(keeper, [&failed] { return failed ? QString() : QStringLiteral("moved"); });
        keeper.choose(intoKeyring ? PasswordPlace::Keyring : PasswordPlace::File);
    } else {
        bool intoKeyring = true;
        whenIdle(keeper, [&keeper, &intoKeyring] {
            intoKeyring = !intoKeyring;
            keeper.choose(intoKeyring ? PasswordPlace::Keyring : PasswordPlace::File);
        });
        say(QStringLiteral("moving"));
        keeper.choose(PasswordPlace::Keyring);
    }
    return app.exec();
}
