#include "mail/qt_printers.h"
#include "settings/account_file.h"
#include "settings/app_paths.h"
#include "settings/password_keeper.h"
#include "settings/refresh_token_keeper.h"
#include "settings/secret_store.h"
#include "support/private_bus.h"
#include "support/test_files.h"
#include "support/unlocked_keyring.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace kingyo {
namespace {

const bool keyringRegistered = test::registerUnlockedKeyring();

using MoveFailure = PasswordKeeper::MoveFailure;
using Outcome = SecretStore::Outcome;
const Account kAccount{QStringLiteral("taro"), QStringLiteral("pie")};

// A copy of kingyo with its "★MailData" in a folder of its own.
struct Copy {
    explicit Copy(bool installed) : paths{.programDir = dir.path(), .installed = installed}
    {
        QDir(dir.path()).mkdir(QStringLiteral("★MailData"));
    }
    QByteArray contents() const
    {
        QFile file(paths.accountFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString passwordKey() const { return accountSecretKey(QStringLiteral("password"), readPasswordPlace(paths).keyringId); }

    QTemporaryDir dir;
    AppPaths paths;
};

// How the helper finds the keyring: open, locked, missing from its bus, or open but
// never answering, as when the keyring library's own event loop is not running.
enum class KeyringState { Unlocked, Locked, Absent, Silent };

// What the helper needs to reach the keyring in that state; `own` is the bus started
// for it, where it needs one of its own. Empty, with a test failure, when none started.
QProcessEnvironment helperEnvironment(KeyringState state, test::PrivateBus &own)
{
    if (state == KeyringState::Unlocked || state == KeyringState::Silent) {
        QProcessEnvironment environment = test::UnlockedKeyring::bus()->keyringEnvironment();
        if (state == KeyringState::Silent) {
            environment.insert(QStringLiteral("QT_NO_GLIB"), QStringLiteral("1"));
            environment.insert(QStringLiteral("KEYRING_HELPER_TIMEOUT_MS"), QStringLiteral("500"));
        }
        return environment;
    }
    const bool started = own.startDaemon()
        && (state == KeyringState::Absent || own.startKeyring(test::PrivateBus::KeyringLock::Locked));
    EXPECT_TRUE(started) << qPrintable(own.failure());
    return started ? own.keyringEnvironment() : QProcessEnvironment();
}

// The helper, in the environment given, and what it printed.
QString runHelper(const QProcessEnvironment &environment, const QStringList &arguments)
{
    QProcess helper;
    helper.setProcessEnvironment(environment);
    helper.start(QStringLiteral(KEYRING_HELPER), arguments);
    if (!helper.waitForFinished(30000))
        helper.kill();
    helper.waitForFinished();
    return QString::fromUtf8(helper.readAllStandardOutput()).trimmed();
}

class Keyring : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(test::UnlockedKeyring::bus(), nullptr) << qPrintable(test::UnlockedKeyring::failure()); }

    static void runToEnd(const PasswordKeeper &keeper)
    {
        ASSERT_TRUE(QTest::qWaitFor([&keeper] { return !keeper.busy(); }, 20000));
    }

    SecretStore::Result read(const QString &key) const
    {
        QObject context; // an answer after the wait gave up goes nowhere
        std::optional<SecretStore::Result> answer;
        store.read(key, &context, [&answer](const SecretStore::Result &result) { answer = result; });
        return QTest::qWaitFor([&answer] { return answer.has_value(); }, 20000) ? *answer : SecretStore::Result{};
    }

    // A keeper for the copy, started, its first requests done.
    std::unique_ptr<PasswordKeeper> started(const Copy &copy)
    {
        auto keeper = std::make_unique<PasswordKeeper>(copy.paths);
        keeper->useStore(&store);
        keeper->start();
        runToEnd(*keeper);
        return keeper;
    }

    const SecretStore store{QStringLiteral("kingyo")};
};

TEST_F(Keyring, AnInstalledCopyMovesItsPasswordIntoTheKeyringAndFindsItThereNextTime)
{
    Copy copy(true);
    ASSERT_TRUE(writeAccount(copy.paths, kAccount, true));
    started(copy);
    EXPECT_TRUE(readAccount(copy.paths).password.isEmpty()) << "the file keeps no copy";
    EXPECT_EQ(read(copy.passwordKey()).secret, kAccount.password);

    PasswordKeeper next(copy.paths);
    next.useStore(&store);
    EXPECT_TRUE(next.withheld()) << "until the keyring answers";
    next.start();
    runToEnd(next);
    EXPECT_FALSE(next.withheld());
    EXPECT_EQ(next.stored().password, kAccount.password);
}

TEST_F(Keyring, APortableCopyKeepsItsAccountFileAsThePartsOfItWereWritten)
{
    Copy copy(false);
    ASSERT_TRUE(writeAccount(copy.paths, kAccount, true));
    const QByteArray written = copy.contents();
    const auto keeper = started(copy);
    EXPECT_EQ(copy.contents(), written);
    EXPECT_EQ(keeper->stored().password, kAccount.password);

    ASSERT_TRUE(keeper->save({QStringLiteral("jiro"), QStringLiteral("cake")}));
    runToEnd(*keeper);
    EXPECT_EQ(copy.contents(), QByteArray("[EXEINI]\r\nNAME=jiro\r\nNAME2=cake\r\nNAME3=1\r\n"));
}

TEST_F(Keyring, APasswordWrittenIntoTheFileDuringAMoveIsNotBlanked)
{
    Copy copy(false);
    ASSERT_TRUE(writeAccount(copy.paths, kAccount, true));
    const auto keeper = started(copy);
    keeper->choose(PasswordPlace::Keyring);
    ASSERT_TRUE(keeper->busy());
    ASSERT_TRUE(writeAccount(copy.paths, {kAccount.userId, QStringLiteral("cake")}, true)); // by hand, meanwhile
    runToEnd(*keeper);
    EXPECT_EQ(readAccount(copy.paths).password, QStringLiteral("cake"));
}

class KeyringMoves : public Keyring, public ::testing::WithParamInterface<QString> {};

TEST_P(KeyringMoves, ThePasswordMovesIntoTheKeyringAndBackWhole)
{
    Copy copy(false);
    ASSERT_TRUE(writeAccount(copy.paths, {kAccount.userId, GetParam()}, true));
    const auto keeper = started(copy);
    keeper->choose(PasswordPlace::Keyring);
    runToEnd(*keeper);
    EXPECT_TRUE(readAccount(copy.paths).password.isEmpty());
    const QString key = copy.passwordKey();
    EXPECT_EQ(read(key).secret, GetParam());
    EXPECT_EQ(keeper->stored().password, GetParam());

    keeper->choose(PasswordPlace::File);
    runToEnd(*keeper);
    EXPECT_EQ(readAccount(copy.paths).password, GetParam());
    EXPECT_EQ(read(key).outcome, Outcome::NotFound) << "the keyring keeps no copy";
    EXPECT_FALSE(keeper->wantsKeyring());
}

INSTANTIATE_TEST_SUITE_P(Passwords, KeyringMoves,
                         ::testing::Values(QStringLiteral("pie"), QStringLiteral("金魚 🐟 の餌"),
                                           QStringLiteral(" blanks at both ends "), QStringLiteral("\"quoted\""),
                                           QString(255, u'x')),
                         [](const auto &info) { return "password" + std::to_string(info.index); });

TEST_F(Keyring, APasswordTheFileCannotHoldStaysInTheKeyring)
{
    Copy copy(true);
    const auto keeper = started(copy);
    const QString longPassword(300, u'x');
    ASSERT_TRUE(keeper->save({kAccount.userId, longPassword}));
    runToEnd(*keeper);
    ASSERT_EQ(read(copy.passwordKey()).secret, longPassword);

    QSignalSpy failures(keeper.get(), &PasswordKeeper::moveFailed);
    keeper->choose(PasswordPlace::File);
    runToEnd(*keeper);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(failures[0][0].value<MoveFailure>(), MoveFailure::TooLongForFile);
    EXPECT_EQ(read(copy.passwordKey()).secret, longPassword);
    EXPECT_EQ(keeper->stored().password, longPassword);
}

// Killed in the middle of moving to and fro, the helper leaves the password in the file
// or in the keyring, and the file whole.
TEST_F(Keyring, AMoveKilledAtAnyMomentLosesNoPassword)
{
    Copy copy(false);
    ASSERT_TRUE(writeAccount(copy.paths, kAccount, true));
    QRandomGenerator random(20241208);
    for (int kill = 0; kill < 40; ++kill) {
        QProcess churn;
        churn.setProcessEnvironment(test::UnlockedKeyring::bus()->keyringEnvironment());
        churn.start(QStringLiteral(KEYRING_HELPER), {QStringLiteral("churn"), copy.dir.path()});
        ASSERT_TRUE(churn.waitForReadyRead(10000));
        std::this_thread::sleep_for(std::chrono::milliseconds(random.bounded(150)));
        churn.kill();
        ASSERT_TRUE(churn.waitForFinished(10000));

        const Account file = readAccount(copy.paths);
        ASSERT_EQ(file.userId, kAccount.userId) << "the file is whole after kill " << kill;
        if (file.password.isEmpty())
            ASSERT_EQ(read(copy.passwordKey()).secret, kAccount.password) << "lost after kill " << kill;
        else
            ASSERT_EQ(file.password, kAccount.password);
    }
}

// Killed while it saves accounts through the keyring, the helper leaves the file naming
// one account whole: the user ID beside that account's password, which the entry the
// file names holds.
TEST_F(Keyring, ASaveKilledAtAnyMomentNeverMixesTwoAccounts)
{
    const QHash<QString, QString> passwords{{QStringLiteral("taro"), QStringLiteral("pie")},
                                            {QStringLiteral("jiro"), QStringLiteral("cake")}};
    Copy copy(true);
    ASSERT_TRUE(writeAccount(copy.paths, kAccount, true));
    started(copy);
    QRandomGenerator random(20261208);
    int mixed = 0;
    for (int kill = 0; kill < 60; ++kill) {
        QProcess saving;
        saving.setProcessEnvironment(test::UnlockedKeyring::bus()->keyringEnvironment());
        saving.start(QStringLiteral(KEYRING_HELPER), {QStringLiteral("resave"), copy.dir.path()});
        ASSERT_TRUE(saving.waitForReadyRead(10000));
        std::this_thread::sleep_for(std::chrono::milliseconds(random.bounded(200)));
        saving.kill();
        ASSERT_TRUE(saving.waitForFinished(10000));

        const Account file = readAccount(copy.paths);
        ASSERT_TRUE(passwords.contains(file.userId)) << "the file is whole after kill " << kill;
        ASSERT_TRUE(file.password.isEmpty()) << "the file keeps no copy";
        if (read(copy.passwordKey()).secret != passwords[file.userId])
            ++mixed;
    }
    EXPECT_EQ(mixed, 0);
}

// The first save of an installed copy asks the user to make a keyring; a user who
// answers after several of the keyring's timeouts finds the password moved there all
// the same.
TEST_F(Keyring, AKeyringPromptAnsweredLateIsWaitedFor)
{
    test::PrivateBus own;
    ASSERT_TRUE(own.startDaemon() && own.startKeyring(test::PrivateBus::KeyringLock::Unmade)
                && own.startLatePrompter(1.5))
        << qPrintable(own.failure());
    QProcessEnvironment environment = own.keyringEnvironment();
    environment.insert(QStringLiteral("KEYRING_HELPER_TIMEOUT_MS"), QStringLiteral("300"));
    Copy copy(true);
    ASSERT_TRUE(writeAccount(copy.paths, kAccount, true));
    EXPECT_EQ(runHelper(environment, {QStringLiteral("start"), copy.dir.path(), QStringLiteral("installed")}),
              QStringLiteral("password ") + kAccount.password);
    EXPECT_TRUE(own.mockLog().contains(QStringLiteral("prompt password"))) << qPrintable(own.mockLog());
    EXPECT_TRUE(readAccount(copy.paths).password.isEmpty()) << "moved into the keyring";
}

// A keyring that is locked, silent, or no keyring at all, each in a helper process of
// its own.
struct ElsewhereCase {
    const char *name;
    KeyringState keyring;
    MoveFailure failure;
};

class KeyringElsewhere : public Keyring, public ::testing::WithParamInterface<ElsewhereCase> {};

TEST_P(KeyringElsewhere, APasswordKeptThereIsWithheldAndNothingIsRewritten)
{
    test::PrivateBus own;
    const QProcessEnvironment bus = helperEnvironment(GetParam().keyring, own);
    ASSERT_FALSE(bus.isEmpty());
    Copy copy(true);
    ASSERT_TRUE(writeAccount(copy.paths, kAccount, true, PasswordPlace::keyring(QStringLiteral("moved-earlier"))));
    const QByteArray written = copy.contents();
    EXPECT_EQ(runHelper(bus, {QStringLiteral("start"), copy.dir.path(), QStringLiteral("installed")}),
              QStringLiteral("withheld"));
    EXPECT_EQ(runHelper(bus, {QStringLiteral("move"), copy.dir.path(), QStringLiteral("file")}),
              QString::number(int(GetParam().failure)));
    EXPECT_EQ(copy.contents(), written);

    Copy inFile(true);
    ASSERT_TRUE(writeAccount(inFile.paths, kAccount, true));
    const QByteArray plain = inFile.contents();
    EXPECT_TRUE(runHelper(bus, {QStringLiteral("start"), inFile.dir.path(), QStringLiteral("installed")})
                    .endsWith(QStringLiteral("password ") + kAccount.password));
    EXPECT_EQ(inFile.contents(), plain) << "the password stays in the file";
}

INSTANTIATE_TEST_SUITE_P(Keyring, KeyringElsewhere,
                         ::testing::Values(ElsewhereCase{"locked", KeyringState::Locked, MoveFailure::Locked},
                                           ElsewhereCase{"absent", KeyringState::Absent, MoveFailure::NoService},
                                           ElsewhereCase{"silent", KeyringState::Silent, MoveFailure::NoService}),
                         [](const auto &info) { return std::string(info.param.name); });

// The sign-in's refresh token goes where the account's password would: into the keyring
// when one answers, else into a file only its owner reads, and a new start finds it
// there; never into the account file. A locked keyring gets it neither into the file
// nor at the next start, which says it is withheld.
struct RefreshCase {
    const char *name;
    KeyringState keyring;
    bool installed;
    enum { Keyring, File, Nowhere } kept;
};

class RefreshTokenPlace : public Keyring, public ::testing::WithParamInterface<RefreshCase> {};

TEST_P(RefreshTokenPlace, TheTokenIsKeptWhereTheKeyringLetsAndReadBackAtTheNextStart)
{
    test::PrivateBus own;
    const QProcessEnvironment bus = helperEnvironment(GetParam().keyring, own);
    ASSERT_FALSE(bus.isEmpty());
    const RefreshCase &row = GetParam();
    Copy copy(row.installed);
    if (row.keyring == KeyringState::Locked) { // signed in earlier, the token put into the keyring then
        ASSERT_TRUE(writePasswordPlace(copy.paths, PasswordPlace::keyring(QStringLiteral("signed-in")), {}));
    }
    SignIn signIn = knownSignIn(SignIn::Provider::Google);
    signIn.clientId = QStringLiteral("kingyo-test");
    ASSERT_TRUE(writeSignIn(copy.paths, signIn, QStringLiteral("taro@example.jp")));
    const QString token = QStringLiteral("1//refresh-") + QString::fromLatin1(row.name);

    EXPECT_EQ(runHelper(bus, {QStringLiteral("refresh"), copy.dir.path(),
                              row.installed ? QStringLiteral("installed") : QStringLiteral("portable"), token}),
              row.kept == RefreshCase::Nowhere ? QStringLiteral("unstored\nwithheld") : QStringLiteral("stored\ntoken ") + token);
    const QString file = copy.paths.dataDir() + u'/' + RefreshTokenKeeper::fileName();
    EXPECT_EQ(QFile::exists(file), row.kept == RefreshCase::File);
    if (row.kept == RefreshCase::Keyring) {
        const QString id = readPasswordPlace(copy.paths).keyringId;
        EXPECT_EQ(read(accountSecretKey(QStringLiteral("refresh"), id)).secret, token);
    } else if (row.kept == RefreshCase::File) {
        EXPECT_EQ(contentsOf(file).trimmed(), token.toLatin1());
        EXPECT_EQ(QFile::permissions(file) & 0x0fff, QFileDevice::ReadUser | QFileDevice::WriteUser);
        EXPECT_NE(readPasswordPlace(copy.paths).kind, PasswordPlace::Keyring) << "no keyring named unasked";
    }
    EXPECT_FALSE(copy.contents().contains(token.toLatin1()));
}

INSTANTIATE_TEST_SUITE_P(Keyring, RefreshTokenPlace,
                         ::testing::Values(RefreshCase{"unlocked", KeyringState::Unlocked, true, RefreshCase::Keyring},
                                           RefreshCase{"portable", KeyringState::Unlocked, false, RefreshCase::File},
                                           RefreshCase{"locked", KeyringState::Locked, true, RefreshCase::Nowhere},
                                           RefreshCase{"absent", KeyringState::Absent, true, RefreshCase::File},
                                           RefreshCase{"silent", KeyringState::Silent, true, RefreshCase::File}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace kingyo
