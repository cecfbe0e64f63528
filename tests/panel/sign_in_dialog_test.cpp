#include "panel/sign_in_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

using Provider = SignIn::Provider;

// The window manager's close button: a close event from outside the program.
void closeBox(SignInDialog &dialog)
{
    QCloseEvent close;
    QSpontaneKeyEvent::setSpontaneous(&close);
    qApp->notify(&dialog, &close); // as QTest sends its input: sendEvent would clear the mark
}

// The dialog as the settings window opens it, typed into as a user would.
class SignInDialogTest : public ::testing::Test {
protected:
    SignInDialogTest() { dialog.showFor(knownSignIn(Provider::Google), QString()); }

    template <class Control>
    Control *child(const char *name) { return dialog.findChild<Control *>(QString::fromLatin1(name)); }

    void choose(Provider provider)
    {
        auto *combo = child<QComboBox>("ProviderCombo");
        combo->setCurrentIndex(combo->findData(int(provider)));
    }

    void type(const char *entry, const QString &text)
    {
        auto *line = child<QLineEdit>(entry);
        line->clear();
        QTest::keyClicks(line, text);
    }

    // Types a usable Google sign-in and presses サインイン.
    void request()
    {
        type("AddressText", QStringLiteral("taro@example.jp"));
        type("ClientIdText", QStringLiteral("id-1"));
        QTest::mouseClick(child<QPushButton>("SignInOk"), Qt::LeftButton);
    }

    SignInDialog dialog;
};

TEST_F(SignInDialogTest, SignInIsOfferedOnlyForUsableEntriesAndSendsWhatWasTyped)
{
    const auto known = [](Provider provider, const char *id, const char *secret) {
        SignIn signIn = knownSignIn(provider);
        signIn.clientId = QString::fromLatin1(id);
        signIn.clientSecret = QString::fromLatin1(secret);
        return signIn;
    };
    const auto other = [](const char *authorization, const char *token) {
        return SignIn{Provider::Other, QUrl(QString::fromLatin1(authorization)), QUrl(QString::fromLatin1(token)),
                      QStringLiteral("mail offline"), QStringLiteral("id-3"), QStringLiteral("s")};
    };
    const struct {
        const char *name;
        SignIn typed;
        const char *address;
        bool offered;
        bool refusedAddress; // the status line says why
    } cases[] = {
        {"google", known(Provider::Google, "id-1", "s"), "taro@gmail.com", true, false},
        {"microsoft, no secret", known(Provider::Microsoft, "id-2", ""), "taro@outlook.jp", true, false},
        {"other over https", other("https://id.example.jp/auth", "https://id.example.jp/token"), "a@b.jp", true, false},
        {"other, http loopback", other("http://127.0.0.1:8080/a", "http://localhost:8080/t"), "a@b.jp", true, false},
        {"other, http remote", other("https://id.example.jp/a", "http://id.example.jp/t"), "a@b.jp", false, true},
        {"other, ftp", other("ftp://id.example.jp/a", "https://id.example.jp/t"), "a@b.jp", false, true},
        {"no client id", known(Provider::Google, "", "s"), "taro@gmail.com", false, false},
        {"no @", known(Provider::Google, "id-1", "s"), "taro", false, false},
    };
    for (const auto &c : cases) {
        dialog.showFor(knownSignIn(Provider::Google), QString());
        choose(c.typed.provider);
        type("AddressText", QString::fromLatin1(c.address));
        type("ClientIdText", c.typed.clientId);
        type("ClientSecretText", QStringLiteral("s")); // lost where the provider takes none
        if (c.typed.provider == Provider::Other) {
            type("AuthorizationUrlText", c.typed.authorizationUrl.toString());
            type("TokenUrlText", c.typed.tokenUrl.toString());
            type("ScopeText", c.typed.scope);
        }
        auto *ok = child<QPushButton>("SignInOk");
        EXPECT_EQ(ok->isEnabled(), c.offered) << c.name;
        EXPECT_EQ(!child<QLabel>("SignInStatus")->text().isEmpty(), c.refusedAddress) << c.name;
        QSignalSpy requests(&dialog, &SignInDialog::signInRequested);
        QTest::mouseClick(ok, Qt::LeftButton);
        ASSERT_EQ(requests.size(), c.offered ? 1 : 0) << c.name;
        if (c.offered) {
            EXPECT_EQ(requests[0][0].value<SignIn>(), c.typed) << c.name;
            EXPECT_EQ(requests[0][1].toString(), QString::fromLatin1(c.address)) << c.name;
        }
    }
}

// The browser open, then the sign-in failing or the dialog closed by its user or by the program.
TEST_F(SignInDialogTest, WaitingGreysTheEntriesUntilAFailureAndOnlyTheUserEndingAWaitCancels)
{
    const QString longSentence = QStringLiteral("サインインできませんでした。").repeated(12);
    const auto click = [](const char *name) {
        return [name](SignInDialog &d) { QTest::mouseClick(d.findChild<QPushButton *>(name), Qt::LeftButton); };
    };
    const struct {
        const char *name;
        QString failure; // shown before the end, when not empty
        std::function<void(SignInDialog &)> end;
        bool cancels;
    } cases[] = {
        {"キャンセル", {}, click("SignInCancel"), true},
        {"Esc", {}, [](SignInDialog &d) { QTest::keyClick(&d, Qt::Key_Escape); }, true},
        {"close box", {}, closeBox, true},
        {"the program closes it", {}, [](SignInDialog &d) { d.close(); }, false},
        {"キャンセル after a failure", longSentence, click("SignInCancel"), false},
    };
    for (const auto &c : cases) {
        dialog.showFor(knownSignIn(Provider::Google), QString());
        request();
        if (!c.failure.isEmpty())
            dialog.showFailure(c.failure);
        const bool waiting = c.failure.isEmpty();
        EXPECT_EQ(child<QPushButton>("SignInOk")->isEnabled(), !waiting) << c.name;
        EXPECT_EQ(child<QLineEdit>("ClientIdText")->isEnabled(), !waiting) << c.name;
        const QLabel *status = child<QLabel>("SignInStatus");
        EXPECT_FALSE(status->text().isEmpty()) << c.name;
        if (!waiting) {
            EXPECT_EQ(status->text(), c.failure);
            EXPECT_TRUE(dialog.rect().contains(status->geometry())) << "the window grows to hold it";
            EXPECT_GE(status->height(), status->heightForWidth(status->width()));
        }
        QSignalSpy cancels(&dialog, &SignInDialog::cancelled);
        c.end(dialog);
        EXPECT_EQ(cancels.size(), c.cancels ? 1 : 0) << c.name;
        EXPECT_FALSE(dialog.isVisible()) << c.name;
    }
}

} // namespace
} // namespace kingyo
