#include "settings/settings_model.h"

#include "mail/qt_printers.h"
#include "settings/profile_file.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

namespace kingyo {
namespace {

struct AccountCase {
    const char *name;
    Account stored;    // what the account file holds (empty: nothing stored)
    Account confirmed; // what the dialog confirmed this run without saving (empty: nothing)
    Account expected;  // what the check logs in with
};

void PrintTo(const AccountCase &c, std::ostream *out) { *out << c.name; }

class AccountForCheck : public ::testing::TestWithParam<AccountCase> {};

// A complete stored account wins; an account confirmed in the dialog this run stands
// in for an incomplete stored one, so keeping the password off the disk still works.
TEST_P(AccountForCheck, PrefersACompleteStoredAccountThenTheConfirmedOne)
{
    const AccountCase &c = GetParam();
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("★MailData"));
    SettingsModel settings(AppPaths{.programDir = dir.path()});
    if (!c.stored.userId.isEmpty() || !c.stored.password.isEmpty()) {
        ASSERT_TRUE(writeAccount(settings.paths(), c.stored, true));
    }
    if (!c.confirmed.userId.isEmpty() || !c.confirmed.password.isEmpty()) {
        ASSERT_TRUE(settings.confirmAccount(c.confirmed, false));
    }

    const Account used = settings.accountForCheck();
    EXPECT_EQ(used.userId, c.expected.userId);
    EXPECT_EQ(used.password, c.expected.password);
    if (!c.confirmed.password.isEmpty() && c.stored.password.isEmpty()) {
        EXPECT_TRUE(readAccount(settings.paths()).password.isEmpty()) << "an unsaved password stays off the disk";
    }
}

const Account kStored{"stored", "stored-pw"};
const Account kTyped{"typed", "typed-pw"};

INSTANTIATE_TEST_SUITE_P(
    SettingsModel, AccountForCheck,
    ::testing::Values(AccountCase{"nothing_at_all", {}, {}, {}},
                      AccountCase{"stored_only", kStored, {}, kStored},
                      AccountCase{"confirmed_only", {}, kTyped, kTyped},
                      AccountCase{"complete_stored_wins", kStored, kTyped, kStored},
                      AccountCase{"stored_without_password", {"stored", ""}, kTyped, kTyped},
                      AccountCase{"confirmed_incomplete", {"stored", ""}, {"typed", ""}, {"stored", ""}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SettingsModel, AnAccountConfirmedWithTheSaveBoxIsStoredAndUsed)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("★MailData"));
    SettingsModel settings(AppPaths{.programDir = dir.path()});
    ASSERT_TRUE(settings.confirmAccount(kTyped, true));
    EXPECT_EQ(readAccount(settings.paths()).password, kTyped.password);
    EXPECT_EQ(settings.state().userId, kTyped.userId);
    EXPECT_EQ(settings.accountForCheck().password, kTyped.password);
}

const SignIn kOther{SignIn::Provider::Other, QUrl(QStringLiteral("http://127.0.0.1:8080/authorize")),
                   QUrl(QStringLiteral("http://127.0.0.1:8080/token")), QStringLiteral("mail offline"),
                   QStringLiteral("client"), QStringLiteral("secret")};
const QString kAddress = QStringLiteral("taro@example.jp");

// How the account signs in, after what the user did to a file that held a sign-in.
struct SignInCase {
    const char *name;
    std::function<void(SettingsModel &)> act;
    std::optional<SignIn> expected;
};

void PrintTo(const SignInCase &c, std::ostream *out) { *out << c.name; }

class SignInKeys : public ::testing::TestWithParam<SignInCase> {};

TEST_P(SignInKeys, AreReadAsWrittenUntilAPasswordIsGiven)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("★MailData"));
    SettingsModel settings(AppPaths{.programDir = dir.path()});
    ASSERT_TRUE(writeSignIn(settings.paths(), kOther, kAddress));
    GetParam().act(settings);
    EXPECT_EQ(settings.signIn(), GetParam().expected);
    EXPECT_EQ(readAccount(settings.paths()).userId, kAddress);
}

void editKey(SettingsModel &settings, const char *key, const char *value)
{
    ASSERT_TRUE(writeProfileStrings(settings.paths().accountFile(), QStringLiteral("EXEINI"),
                                    {{QString::fromLatin1(key), QString::fromLatin1(value)}}));
}

SignIn knownWithClient(SignIn::Provider provider)
{
    SignIn known = knownSignIn(provider);
    known.clientId = kOther.clientId;
    known.clientSecret = kOther.clientSecret;
    return known;
}

INSTANTIATE_TEST_SUITE_P(
    SettingsModel, SignInKeys,
    ::testing::Values(
        SignInCase{"as_written", [](SettingsModel &) {}, kOther},
        SignInCase{"ok_without_password", [](SettingsModel &s) { s.confirmAccount({kAddress, {}}, true); }, kOther},
        SignInCase{"password_saved", [](SettingsModel &s) { s.confirmAccount({kAddress, "pw"}, true); }, {}},
        SignInCase{"password_unsaved", [](SettingsModel &s) { s.confirmAccount({kAddress, "pw"}, false); }, {}},
        SignInCase{"unknown_provider", [](SettingsModel &s) { editKey(s, "OAUTH", "yahoo"); }, {}},
        SignInCase{"known_provider_keeps_its_addresses",
                   [](SettingsModel &s) { editKey(s, "OAUTH", "Google"); },
                   knownWithClient(SignIn::Provider::Google)},
        SignInCase{"value_the_file_cannot_hold",
                   [](SettingsModel &s) {
                       SignIn tooLong = kOther;
                       tooLong.scope = QString(300, u's');
                       EXPECT_FALSE(writeSignIn(s.paths(), tooLong, QStringLiteral("other@example.jp")));
                   },
                   kOther}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace kingyo
