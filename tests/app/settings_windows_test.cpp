#include "app/qt_translation.h"
#include "panel/id_pass_form.h"
#include "panel/option_form.h"
#include "panel/set_form.h"
#include "mail/mail_run_rules.h"
#include "settings_windows_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <functional>

namespace kingyo::test {
namespace {

template <class Control>
Control *child(QWidget *window, const char *name)
{
    auto *control = window->findChild<Control *>(QString::fromUtf8(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
}

// The controls a window's Tab key visits, starting from its first control.
QStringList focusOrder(QWidget *window, QWidget *first, int count)
{
    QStringList names;
    for (QWidget *w = first; names.size() < count; w = w->nextInFocusChain()) {
        const bool spinText = qobject_cast<QAbstractSpinBox *>(w->parentWidget()); // the spin box takes the focus
        if (w != window && w->isVisibleTo(window) && w->isEnabled() && !spinText && (w->focusPolicy() & Qt::TabFocus))
            names << w->objectName();
    }
    return names;
}

// ---- Server dialog ----

using ServerDialog = SettingsWindowsTest;

TEST_F(ServerDialog, OkStoresTheFieldsInStateAndFile)
{
    context.settings.state().smtpServer = QStringLiteral("old-smtp");
    OptionForm *form = context.optionForm.show();
    EXPECT_EQ(child<QLineEdit>(form, "SmtpText")->text(), QStringLiteral("old-smtp"));
    child<QLineEdit>(form, "Pop3Text")->setText(QStringLiteral("pop.example.jp"));
    child<QLineEdit>(form, "MailText")->setText(QStringLiteral("金魚@example.jp"));
    child<QCheckBox>(form, "ApopCheck")->setChecked(true);
    QTest::mouseClick(child<QPushButton>(form, "OkCommand"), Qt::LeftButton);
    runDeferredDeletes();

    EXPECT_FALSE(context.optionForm.isLoaded());
    EXPECT_EQ(context.settings.state().pop3Server, QStringLiteral("pop.example.jp"));
    EXPECT_EQ(context.settings.state().apopFlag, 1);
    EXPECT_EQ(contentsOf(context.settings.paths().serverFile),
              QStringLiteral("SMTP=old-smtp\r\nPOP3=pop.example.jp\r\nMAIL=金魚@example.jp\r\nAPOP=1\r\n").toUtf8());
}

TEST_F(ServerDialog, EscCancelAndCloseBoxKeepEverything)
{
    put(context.settings.paths().serverFile, "POP3=stored\r\n");
    context.settings.state().pop3Server = QStringLiteral("stored");
    const std::function<void(OptionForm *)> dismissals[] = {
        [](OptionForm *form) { QTest::keyClick(child<QLineEdit>(form, "Pop3Text"), Qt::Key_Escape); },
        [](OptionForm *form) { QTest::keyClick(child<QCheckBox>(form, "ApopCheck"), Qt::Key_Escape); },
        [](OptionForm *form) { QTest::mouseClick(child<QPushButton>(form, "CancelCommand"), Qt::LeftButton); },
        [](OptionForm *form) { form->close(); },
    };
    for (const auto &dismiss : dismissals) {
        OptionForm *form = context.optionForm.show();
        child<QLineEdit>(form, "Pop3Text")->setText(QStringLiteral("typed"));
        dismiss(form);
        runDeferredDeletes();
        EXPECT_FALSE(context.optionForm.isLoaded());
        EXPECT_EQ(context.settings.state().pop3Server, QStringLiteral("stored"));
        EXPECT_EQ(contentsOf(context.settings.paths().serverFile), "POP3=stored\r\n");
        EXPECT_EQ(child<QLineEdit>(context.optionForm.get(), "Pop3Text")->text(), QStringLiteral("stored"));
        context.optionForm.discard();
    }
}

TEST_F(ServerDialog, EnterInATextBoxDoesNotPressOk)
{
    OptionForm *form = context.optionForm.show();
    QTest::keyClick(child<QLineEdit>(form, "MailText"), Qt::Key_Return);
    QTest::keyClick(child<QLineEdit>(form, "Pop3Text"), Qt::Key_Enter);
    runDeferredDeletes();
    EXPECT_TRUE(context.optionForm.isLoaded());
    EXPECT_EQ(contentsOf(context.settings.paths().serverFile), "<missing>");
}

TEST_F(ServerDialog, NonZeroApopFlagShowsTicked)
{
    context.settings.state().apopFlag = 7;
    EXPECT_TRUE(child<QCheckBox>(context.optionForm.get(), "ApopCheck")->isChecked());
}

TEST_F(ServerDialog, LayoutCaptionsAndFocusOrder)
{
    OptionForm *form = context.optionForm.get();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("サーバー"));
    EXPECT_EQ(form->size(), QSize(194, 198));
    EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(child<QLabel>(form, "Label1")->text(), QStringLiteral("SMTPサーバー名(&S)"));
    EXPECT_EQ(child<QLabel>(form, "Label2")->text(), QStringLiteral("POP3サーバー名(&P)"));
    EXPECT_EQ(child<QLabel>(form, "Label3")->text(), QStringLiteral("メールアドレス(&M)"));
    EXPECT_EQ(child<QCheckBox>(form, "ApopCheck")->text(), QStringLiteral("APOP を使用する(&A)"));
    EXPECT_EQ(child<QPushButton>(form, "OkCommand")->text(), QStringLiteral("設定"));
    EXPECT_EQ(child<QPushButton>(form, "CancelCommand")->text(), QStringLiteral("中止"));
    EXPECT_EQ(child<QLineEdit>(form, "SmtpText")->geometry(), QRect(8, 24, 177, 18));
    EXPECT_EQ(child<QPushButton>(form, "OkCommand")->geometry(), QRect(44, 168, 65, 25));
    EXPECT_EQ(child<QLabel>(form, "Label1")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(child<QCheckBox>(form, "ApopCheck")->palette().color(QPalette::WindowText), QColor(0, 0, 255));

    EXPECT_EQ(form->focusWidget(), child<QLineEdit>(form, "MailText"));
    EXPECT_EQ(focusOrder(form, child<QLineEdit>(form, "MailText"), 7),
              QStringList({"MailText", "CancelCommand", "OkCommand", "ApopCheck", "Pop3Text", "SmtpText", "MailText"}));
}

TEST_F(ServerDialog, EachLabelsAccessKeyFocusesTheBoxItNames)
{
    OptionForm *form = context.optionForm.show();
    QApplication::setActiveWindow(form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    const std::pair<Qt::Key, const char *> keys[] = {
        {Qt::Key_S, "SmtpText"}, {Qt::Key_P, "Pop3Text"}, {Qt::Key_M, "MailText"}};
    for (const auto &[key, box] : keys) {
        child<QCheckBox>(form, "ApopCheck")->setFocus();
        QTest::keyClick(form, key, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), child<QLineEdit>(form, box)) << box;
    }
    QTest::keyClick(form, Qt::Key_A, Qt::AltModifier); // the box's own key clicks it, animated
    EXPECT_TRUE(QTest::qWaitFor([&] { return child<QCheckBox>(form, "ApopCheck")->isChecked(); }));
    EXPECT_EQ(QApplication::focusWidget(), child<QCheckBox>(form, "ApopCheck"));
}

TEST_F(ServerDialog, IsCentredOnTheScreen)
{
    OptionForm *form = context.optionForm.get();
    const QRect screen = form->screen()->availableGeometry();
    EXPECT_LE(std::abs(form->geometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(form->geometry().center().y() - screen.center().y()), 1);
}

// ---- Account dialog ----

using AccountDialog = SettingsWindowsTest;

TEST_F(AccountDialog, LoadsTheStoredAccountMasked)
{
    put(context.settings.paths().accountFile(), "[EXEINI]\r\nNAME=me\r\nNAME2=secret\r\nNAME3=1\r\n");
    IdPassForm *form = context.idPassForm.get();
    EXPECT_EQ(form->idText()->text(), QStringLiteral("me"));
    EXPECT_EQ(form->passText()->text(), QStringLiteral("secret"));
    EXPECT_EQ(form->passText()->displayText(), QStringLiteral("******"));
    EXPECT_FALSE(child<QCheckBox>(form, "Check1")->isChecked()) << "the save box starts unticked";
}

TEST_F(AccountDialog, OkWithoutTheSaveBoxStoresOnlyTheFlag)
{
    const QByteArray stored = "[EXEINI]\r\nNAME=me\r\nNAME2=secret\r\nNAME3=1\r\n";
    put(context.settings.paths().accountFile(), stored);
    IdPassForm *form = context.idPassForm.show();
    form->idText()->setText(QStringLiteral("new"));
    form->passText()->setText(QStringLiteral("typed"));
    QTest::mouseClick(child<QPushButton>(form, "OKCommand"), Qt::LeftButton);
    runDeferredDeletes();

    EXPECT_FALSE(context.idPassForm.isLoaded());
    EXPECT_EQ(context.settings.state().userId, QStringLiteral("new"));
    EXPECT_EQ(context.settings.state().userPass, QStringLiteral("typed"));
    EXPECT_EQ(contentsOf(context.settings.paths().accountFile()), "[EXEINI]\r\nNAME=me\r\nNAME2=secret\r\nNAME3=0\r\n");
    EXPECT_EQ(context.idPassForm.get()->idText()->text(), QStringLiteral("me"));
}

TEST_F(AccountDialog, EnterInATextBoxIsOkWithTheSaveBox)
{
    for (const char *box : {"IdText", "PassText"}) {
        IdPassForm *form = context.idPassForm.show();
        form->idText()->setText(QStringLiteral("user-") + QString::fromUtf8(box));
        form->passText()->setText(QStringLiteral("pass"));
        child<QCheckBox>(form, "Check1")->setChecked(true);
        QTest::keyClick(child<QLineEdit>(form, box), Qt::Key_Return);
        runDeferredDeletes();
        EXPECT_FALSE(context.idPassForm.isLoaded()) << box;
        EXPECT_EQ(contentsOf(context.settings.paths().accountFile()),
                  "[EXEINI]\r\nNAME=user-" + QByteArray(box) + "\r\nNAME2=pass\r\nNAME3=1\r\n");
    }
}

TEST_F(AccountDialog, EnterOnCancelButtonCancels)
{
    IdPassForm *form = context.idPassForm.show();
    child<QCheckBox>(form, "Check1")->setChecked(true);
    form->idText()->setText(QStringLiteral("typed"));
    QTest::keyClick(child<QPushButton>(form, "CancelCommand"), Qt::Key_Return);
    runDeferredDeletes();
    EXPECT_FALSE(context.idPassForm.isLoaded());
    EXPECT_TRUE(context.settings.state().userId.isEmpty());
    EXPECT_EQ(contentsOf(context.settings.paths().accountFile()), "<missing>");
}

TEST_F(AccountDialog, EscKeepsEverything)
{
    put(context.settings.paths().accountFile(), "[EXEINI]\r\nNAME=me\r\nNAME2=secret\r\n");
    IdPassForm *form = context.idPassForm.show();
    child<QCheckBox>(form, "Check1")->setChecked(true);
    form->idText()->setText(QStringLiteral("typed"));
    QTest::keyClick(form->idText(), Qt::Key_Escape);
    runDeferredDeletes();
    EXPECT_FALSE(context.idPassForm.isLoaded());
    EXPECT_TRUE(context.settings.state().userId.isEmpty());
    EXPECT_EQ(contentsOf(context.settings.paths().accountFile()), "[EXEINI]\r\nNAME=me\r\nNAME2=secret\r\n");
}

// The account is handed on for the run all the same; the dialog stays with what was
// typed, and a box says which file could not be written.
TEST_F(AccountDialog, OkThatCannotStoreSaysWhyAndStaysOpen)
{
    const QString file = context.settings.paths().accountFile();
    const std::pair<const char *, std::function<bool()>> blocks[] = {
        {"a folder in the file's place", [&file] { return QDir().mkpath(file); }},
        {"no data folder", [&file] { return QDir(QFileInfo(file).path()).removeRecursively(); }},
    };
    for (const auto &[name, block] : blocks) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(block());
        IdPassForm *form = context.idPassForm.show();
        form->idText()->setText(QStringLiteral("me"));
        form->passText()->setText(QStringLiteral("typed"));
        child<QCheckBox>(form, "Check1")->setChecked(true);
        QTest::mouseClick(child<QPushButton>(form, "OKCommand"), Qt::LeftButton);
        runDeferredDeletes();
        ASSERT_TRUE(context.idPassForm.isLoaded());
        EXPECT_EQ(form->passText()->text(), QStringLiteral("typed"));
        auto *box = form->findChild<QMessageBox *>(QStringLiteral("NotStoredBox"));
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->isVisible() && !box->isModal());
        EXPECT_TRUE(box->informativeText().contains(file)) << box->informativeText().toStdString();
        EXPECT_EQ(context.settings.state().userId, QStringLiteral("me"));
        form->close();
        runDeferredDeletes();
    }
}

TEST_F(AccountDialog, LayoutCaptionsAndFocusOrder)
{
    IdPassForm *form = context.idPassForm.get();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("ID,PASS"));
    EXPECT_EQ(form->size(), QSize(190, 118));
    EXPECT_FALSE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(child<QLabel>(form, "Label1")->text(), QStringLiteral("ID"));
    EXPECT_EQ(child<QLabel>(form, "Label2(0)")->text(), QStringLiteral("Password"));
    EXPECT_EQ(child<QLabel>(form, "Label2(1)")->text(), QStringLiteral("IDパスワードを保存する"));
    EXPECT_EQ(child<QLabel>(form, "Label2(1)")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(child<QPushButton>(form, "OKCommand")->text(), QStringLiteral("OK"));
    EXPECT_EQ(child<QPushButton>(form, "CancelCommand")->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(child<QCheckBox>(form, "Check1")->geometry(), QRect(28, 68, 17, 17));
    EXPECT_EQ(form->idText()->geometry(), QRect(64, 8, 109, 18));

    EXPECT_EQ(form->focusWidget(), child<QCheckBox>(form, "Check1"));
    EXPECT_EQ(focusOrder(form, child<QCheckBox>(form, "Check1"), 6),
              QStringList({"Check1", "CancelCommand", "OKCommand", "PassText", "IdText", "Check1"}));
}

// ---- Settings window ----

using SettingsWindow = SettingsWindowsTest;

TEST_F(SettingsWindow, LoadsTheHangUpOption)
{
    const std::pair<QByteArray, bool> cases[] = {
        {"[EXEINI]\r\nNUMBER=1\r\n", true}, {"[EXEINI]\r\nNUMBER=0\r\n", false},
        {"[EXEINI]\r\nNUMBER=7\r\n", false}, {"", false},
    };
    for (const auto &[optionFile, ticked] : cases) {
        put(context.settings.paths().optionFile(), optionFile);
        EXPECT_EQ(context.setForm.get()->check1()->isChecked(), ticked) << optionFile.constData();
        context.setForm.discard();
    }
}

TEST_F(SettingsWindow, EveryCloseStoresTheOption)
{
    put(context.settings.paths().optionFile(), "; mine\r\n[EXEINI]\r\nNUMBER=1\r\n");
    SetForm *form = context.setForm.show();
    form->close();
    runDeferredDeletes();
    EXPECT_EQ(contentsOf(context.settings.paths().optionFile()), "; mine\r\n[EXEINI]\r\nNUMBER=1\r\n");

    form = context.setForm.show();
    QTest::mouseClick(form->check1(), Qt::LeftButton);
    form->close();
    runDeferredDeletes();
    EXPECT_EQ(contentsOf(context.settings.paths().optionFile()), "; mine\r\n[EXEINI]\r\nNUMBER=0\r\n");
    EXPECT_FALSE(context.setForm.show()->check1()->isChecked());
}

TEST_F(SettingsWindow, MailWatchRowsCountAtOnceAndAreStoredOnClose)
{
    put(context.settings.paths().optionFile(), "[EXEINI]\r\nNUMBER=1\r\nINTERVAL=5\r\n");
    context.settings.loadMailWatchOptions();
    context.periodicCheck = std::make_unique<PeriodicMailCheck>([] {});
    SetForm *form = context.setForm.show();
    ASSERT_EQ(form->intervalSpin()->value(), 5);
    ASSERT_TRUE(form->notifyCheck()->isEnabled());

    QTest::mouseClick(form->newOnlyCheck(), Qt::LeftButton);
    form->intervalSpin()->setValue(1);
    EXPECT_EQ(context.settings.mailWatch(), (MailWatchOptions{.countNewOnly = true, .intervalMinutes = 1, .notify = true}));
    EXPECT_EQ(context.periodicCheck->intervalMinutes(), 1) << "a new interval applies at once";
    form->intervalSpin()->setValue(0);
    EXPECT_FALSE(context.periodicCheck->isActive());
    EXPECT_FALSE(form->notifyCheck()->isEnabled()) << "only checks by themselves notify";

    form->close();
    runDeferredDeletes();
    EXPECT_EQ(contentsOf(context.settings.paths().optionFile()),
              "[EXEINI]\r\nNUMBER=1\r\nINTERVAL=0\r\nNEWONLY=1\r\nNOTIFY=1\r\n");
    EXPECT_TRUE(context.setForm.show()->newOnlyCheck()->isChecked());
}

TEST_F(SettingsWindow, EndingTheProgramStoresNothing)
{
    put(context.settings.paths().optionFile(), "[EXEINI]\r\nNUMBER=0\r\n");
    context.setForm.show()->check1()->setChecked(true);
    context.setForm.discard();
    EXPECT_EQ(contentsOf(context.settings.paths().optionFile()), "[EXEINI]\r\nNUMBER=0\r\n");
}

TEST_F(SettingsWindow, EscDoesNotClose)
{
    SetForm *form = context.setForm.show();
    QTest::keyClick(form->check1(), Qt::Key_Escape);
    runDeferredDeletes();
    EXPECT_TRUE(context.setForm.isLoaded());
}

TEST_F(SettingsWindow, ButtonsBringTheOpenDialogsForwardWithTheirTyping)
{
    OptionForm *startupServer = context.optionForm.show();
    IdPassForm *startupAccount = context.idPassForm.show();
    child<QLineEdit>(startupServer, "Pop3Text")->setText(QStringLiteral("half-typed"));
    startupAccount->idText()->setText(QStringLiteral("typed-id"));

    SetForm *form = context.setForm.show();
    QTest::mouseClick(child<QPushButton>(form, "Command2"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(form, "Command1"), Qt::LeftButton);

    EXPECT_EQ(context.optionForm.get(), startupServer);
    EXPECT_EQ(child<QLineEdit>(startupServer, "Pop3Text")->text(), QStringLiteral("half-typed"));
    EXPECT_EQ(context.idPassForm.get(), startupAccount);
    EXPECT_EQ(startupAccount->idText()->text(), QStringLiteral("typed-id"));
    EXPECT_TRUE(form->isVisible());
}

TEST_F(SettingsWindow, ButtonsOpenClosedDialogs)
{
    SetForm *form = context.setForm.show();
    QTest::mouseClick(child<QPushButton>(form, "Command1"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(form, "Command2"), Qt::LeftButton);
    EXPECT_TRUE(context.idPassForm.get()->isVisible());
    EXPECT_TRUE(context.optionForm.get()->isVisible());
}

TEST_F(SettingsWindow, LayoutCaptionsAndColours)
{
    SetForm *form = context.setForm.get();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("設定"));
    EXPECT_GE(form->width(), 208); // the rows below the rule set the height, and may widen it
    EXPECT_EQ(child<QPushButton>(form, "Command1")->text(), QStringLiteral("ID/PASS"));
    EXPECT_EQ(child<QPushButton>(form, "Command2")->text(), QStringLiteral("POPサーバー"));
    EXPECT_EQ(child<QLabel>(form, "Label1")->text(), QStringLiteral("新着がなければ接続を切断する。"));
    EXPECT_EQ(child<QPushButton>(form, "Command1")->palette().color(QPalette::Button), QColor(255, 128, 0));
    EXPECT_EQ(child<QPushButton>(form, "Command2")->palette().color(QPalette::Button), QColor(128, 128, 255));
    EXPECT_EQ(form->check1()->palette().color(QPalette::Window), QColor(192, 192, 192));
    EXPECT_EQ(child<QLabel>(form, "Label1")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(child<QWidget>(form, "Line1")->geometry(), QRect(0, 63, form->width(), 2));
    EXPECT_EQ(form->focusWidget(), form->check1());
    // The notification box waits for an interval before it takes the focus.
    EXPECT_EQ(focusOrder(form, form->check1(), 8).join(u' ').toStdString(),
              "Check1 Command1 Command2 NewOnlyCheck IntervalSpin AutostartCheck SignInButton Check1");
}

TEST(QtTranslation, StandardButtonsReadAsOnAJapaneseDesktop)
{
    const std::unique_ptr<QTranslator> translator(translateQtIntoJapanese(*qApp));
    ASSERT_NE(translator, nullptr) << "qtbase_ja.qm is missing: scripts/install-deps run installs qt6-translations-l10n";
    QMessageBox box(QMessageBox::Question, {}, {}, QMessageBox::Yes);
    EXPECT_TRUE(box.button(QMessageBox::Yes)->text().startsWith(QStringLiteral("はい")));
}

TEST(QtTranslation, AFolderWithoutItLeavesQtInEnglish)
{
    const QTemporaryDir empty;
    EXPECT_EQ(translateQtIntoJapanese(*qApp, empty.path()), nullptr);
}

} // namespace
} // namespace kingyo::test
