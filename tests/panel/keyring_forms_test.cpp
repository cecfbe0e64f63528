#include "panel/id_pass_form.h"
#include "panel/set_form.h"
#include "settings/secret_store.h"
#include "settings/settings_model.h"
#include "support/unlocked_keyring.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

const bool keyringRegistered = test::registerUnlockedKeyring();

// The windows over a copy of kingyo whose account file holds a password, and an open keyring.
class KeyringForms : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(test::UnlockedKeyring::bus(), nullptr) << qPrintable(test::UnlockedKeyring::failure());
        QDir(dir.path()).mkdir(QStringLiteral("★MailData"));
    }

    // The settings of one run of the copy, started, its account stored in the file at first.
    std::unique_ptr<SettingsModel> run(bool installed)
    {
        auto settings = std::make_unique<SettingsModel>(AppPaths{.programDir = dir.path(), .installed = installed});
        if (!QFileInfo::exists(settings->paths().accountFile())) {
            EXPECT_TRUE(writeAccount(settings->paths(), account, true));
        }
        settings->passwords().useStore(&store);
        settings->passwords().start();
        runToEnd(*settings);
        return settings;
    }

    static void runToEnd(const SettingsModel &settings)
    {
        ASSERT_TRUE(QTest::qWaitFor([&settings] { return !settings.passwords().busy(); }, 20000));
    }

    QTemporaryDir dir;
    const SecretStore store{QStringLiteral("kingyo")};
    const Account account{QStringLiteral("taro"), QStringLiteral("pie")};
};

// Its OK would otherwise store an empty box.
TEST_F(KeyringForms, AnAccountDialogLoadedBeforeTheKeyringAnswersShowsThePasswordOnceItDoes)
{
    run(true); // an installed copy: its password moves into the keyring
    SettingsModel next(AppPaths{.programDir = dir.path(), .installed = true});
    ASSERT_TRUE(readAccount(next.paths()).password.isEmpty());
    next.passwords().useStore(&store);
    IdPassForm dialog(next);
    EXPECT_TRUE(dialog.passText()->text().isEmpty());
    next.passwords().start();
    runToEnd(next);
    EXPECT_EQ(dialog.passText()->text(), account.password);
}

TEST_F(KeyringForms, TickingTheRowMovesThePasswordIntoTheKeyring)
{
    const auto settings = run(false);
    SetForm form(*settings);
    QCheckBox *row = form.keyringCheck();
    ASSERT_TRUE(row->isEnabled());
    ASSERT_FALSE(row->isChecked());
    QTest::mouseClick(row, Qt::LeftButton);
    runToEnd(*settings);
    EXPECT_TRUE(row->isChecked());
    EXPECT_TRUE(row->isEnabled());
    EXPECT_TRUE(readAccount(settings->paths()).password.isEmpty());
    EXPECT_EQ(settings->accountForCheck().password, account.password);
}

} // namespace
} // namespace kingyo
