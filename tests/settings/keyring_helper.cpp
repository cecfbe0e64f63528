// Keeps the password of a copy of kingyo from a process of its own, so that a test can
// give it a keyring that is locked or missing, or end it in the middle of a move:
//   keyring_helper start FOLDER installed|portable
//                                    starts the password's keeper of the copy whose
//                                    "★MailData" is in FOLDER; prints the number of a failed
//                                    move, then "withheld" or the password
//   keyring_helper move FOLDER keyring|file
//                                    prints the number of the failure, if any
//   keyring_helper churn FOLDER      moves the password in and out for ever; says "moving" first
//   keyring_helper resave FOLDER     saves taro's and jiro's accounts by turns for ever, as
//                                    the account dialog of an installed copy; says "saving" first
//   keyring_helper refresh FOLDER installed|portable TOKEN
//                                    keeps the sign-in's refresh token; prints "stored" or
//                                    "unstored", then what a new start reads: "token T"
//                                    or "withheld"
// KEYRING_HELPER_TIMEOUT_MS, when set, is the keyring's timeout.
#include "settings/app_paths.h"
#include "settings/password_keeper.h"
#include "settings/refresh_token_keeper.h"
#include "settings/secret_store.h"

#include <QCoreApplication>

#include <cstdio>
#include <utility>

namespace kingyo {
namespace {

void say(const QString &line)
{
    std::puts(qPrintable(line));
    std::fflush(stdout);
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
    const int timeout = qEnvironmentVariableIntValue("KEYRING_HELPER_TIMEOUT_MS");
    const SecretStore store(QStringLiteral("kingyo"),
                            timeout > 0 ? std::chrono::milliseconds(timeout) : SecretStore::kTimeout);
    const QString command = arguments.takeFirst();
    const AppPaths paths{.programDir = arguments.value(0), .installed = arguments.value(1) == QStringLiteral("installed")};
    PasswordKeeper keeper(paths);
    keeper.useStore(&store);
    QObject::connect(&keeper, &PasswordKeeper::moveFailed, &keeper,
                     [](PasswordKeeper::MoveFailure failure) { say(QString::number(int(failure))); });
    if (command == QStringLiteral("start")) {
        endWhenIdle(keeper, [&keeper] {
            return keeper.withheld() ? QStringLiteral("withheld") : QStringLiteral("password ") + keeper.stored().password;
        });
        keeper.start();
    } else if (command == QStringLiteral("refresh")) {
        RefreshTokenKeeper kept(paths);
        RefreshTokenKeeper read(paths);
        for (RefreshTokenKeeper *keeper : {&kept, &read})
            keeper->useStore(&store);
        QObject::connect(&read, &RefreshTokenKeeper::loaded, &read, [&read] {
            say(read.withheld() ? QStringLiteral("withheld") : QStringLiteral("token ") + read.token());
            QCoreApplication::quit();
        });
        kept.keep(arguments.value(2), [&read](RefreshTokenKeeper::Kept stored) {
            say(stored == RefreshTokenKeeper::Kept::Stored ? QStringLiteral("stored") : QStringLiteral("unstored"));
            read.load();
        });
        return app.exec();
    } else if (command == QStringLiteral("move")) {
        const bool intoKeyring = arguments.value(1) == QStringLiteral("keyring");
        endWhenIdle(keeper, [] { return QString(); });
        keeper.choose(intoKeyring ? PasswordPlace::Keyring : PasswordPlace::File);
    } else if (command == QStringLiteral("resave")) {
        const Account accounts[] = {{QStringLiteral("taro"), QStringLiteral("pie")},
                                    {QStringLiteral("jiro"), QStringLiteral("cake")}};
        int turn = 0;
        whenIdle(keeper, [&keeper, &accounts, &turn] { keeper.save(accounts[++turn % 2]); });
        say(QStringLiteral("saving"));
        keeper.start();
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
