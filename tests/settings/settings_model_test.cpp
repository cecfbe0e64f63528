#include "settings/settings_model.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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

} // namespace
} // namespace kingyo
