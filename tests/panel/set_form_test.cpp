#include "panel/set_form.h"

#include "settings/settings_model.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace kingyo {
namespace {

// A settings window whose autostart entry lives in a temporary config folder.
class SetFormAutostart : public ::testing::Test {
protected:
    SetFormAutostart()
    {
        AppPaths paths;
        paths.programDir = dir.path();
        paths.autostartEntry = dir.filePath(QStringLiteral("config/autostart/io.github.kingyo.desktop"));
        paths.executable = QStringLiteral("/home/me/my apps/kingyo");
        settings.setPaths(paths);
    }

    QString entry() const { return settings.paths().autostartEntry; }

    std::unique_ptr<SetForm> load() { return std::make_unique<SetForm>(settings); }

    QTemporaryDir dir;
    SettingsModel settings;
};

TEST_F(SetFormAutostart, TickingWritesAndUntickingRemovesTheEntryAtOnce)
{
    auto form = load();
    QCheckBox *box = form->findChild<QCheckBox *>(QStringLiteral("AutostartCheck"));
    ASSERT_EQ(box, form->autostartCheck());
    QTest::mouseClick(box, Qt::LeftButton);
    ASSERT_TRUE(box->isChecked());
    QFile written(entry());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly)) << "ticking wrote no entry";
    const QByteArray text = written.readAll();
    EXPECT_TRUE(text.contains("\nExec=\"/home/me/my apps/kingyo\"\n"));
    EXPECT_TRUE(text.contains("\nPath=" + QDir::currentPath().toUtf8() + "\n")) << "a portable copy's server file is there";
    EXPECT_TRUE(load()->autostartCheck()->isChecked()) << "a new window reads the entry back";

    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(QFileInfo::exists(entry()));
    EXPECT_FALSE(load()->autostartCheck()->isChecked());
    EXPECT_FALSE(form->check1()->isChecked()) << "the hang-up option is another box";
}

TEST_F(SetFormAutostart, AnEntryThatCannotBeWrittenLeavesTheBoxUnticked)
{
    // A file where the config folder should be.
    QFile blocker(dir.filePath(QStringLiteral("config")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto form = load();
    QTest::mouseClick(form->autostartCheck(), Qt::LeftButton);
    EXPECT_FALSE(form->autostartCheck()->isChecked());
    EXPECT_FALSE(QFileInfo::exists(entry()));
}

TEST_F(SetFormAutostart, RowsSitBelowTheRuleOneUnderAnotherInsideTheWindow)
{
    auto form = load();
    const QWidget *rule = form->findChild<QWidget *>(QStringLiteral("Line1"));
    ASSERT_NE(rule, nullptr);
    const QWidget *rows[] = {form->newOnlyCheck(), form->intervalSpin()->parentWidget(), form->notifyCheck(),
                             form->autostartCheck(), form->keyringCheck(),
                             form->findChild<QWidget *>(QStringLiteral("SignInButton"))->parentWidget()};
    int above = rule->geometry().bottom();
    for (const QWidget *row : rows) {
        const QRect place = row->geometry();
        EXPECT_GT(place.top(), above) << row->objectName().toStdString();
        EXPECT_TRUE(form->rect().contains(place)) << "the window grows to hold the row";
        EXPECT_GE(place.width(), row->sizeHint().width()) << "the whole row shows";
        EXPECT_GE(place.height(), row->sizeHint().height());
        above = place.bottom();
    }
    EXPECT_LT(form->height() - above, rows[0]->height()) << "and no further";
}

// Shown in the active window, as a user meets them.
class SetFormRows : public SetFormAutostart {
protected:
    std::unique_ptr<SetForm> showWithInterval(int minutes)
    {
        settings.setMailWatch({.intervalMinutes = minutes});
        auto form = load();
        form->show();
        QApplication::setActiveWindow(form.get());
        return form;
    }
};

TEST_F(SetFormRows, TabGoesDownTheRowsInOrder)
{
    auto form = showWithInterval(5);
    form->findChild<QWidget *>(QStringLiteral("Command2"))->setFocus();
    QStringList visited;
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString());
    }
    EXPECT_EQ(visited.join(u' '), "NewOnlyCheck IntervalSpin NotifyCheck AutostartCheck SignInButton Check1 Command1 Command2");
}

TEST_F(SetFormRows, TheSignInButtonAsksForTheDialogFromTheKeyboard)
{
    auto form = showWithInterval(0);
    QSignalSpy asked(form.get(), &SetForm::signInDialogRequested);
    auto *button = form->findChild<QWidget *>(QStringLiteral("SignInButton"));
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(asked.size(), 1);
}

TEST_F(SetFormRows, TheNotificationRowLooksGreyedUntilAnIntervalIsSet)
{
    auto form = showWithInterval(0);
    QCheckBox *notify = form->notifyCheck();
    const QCheckBox plain;
    ASSERT_FALSE(notify->isEnabled());
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText})
        EXPECT_EQ(notify->palette().color(QPalette::Disabled, role), plain.palette().color(QPalette::Disabled, role))
            << "its text greys like any greyed box's";

    form->intervalSpin()->setValue(3);
    EXPECT_TRUE(notify->isEnabled());
}

TEST_F(SetFormRows, ATypedZeroReadsAsNoneAtOnce)
{
    const struct {
        const char *keys;
        const char *shown;
        int minutes;
    } cases[] = {{"0", "しない", 0}, {"10", "10", 10}};
    for (const auto &typing : cases) {
        auto form = showWithInterval(5);
        QSpinBox *spin = form->intervalSpin();
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, QString::fromLatin1(typing.keys));
        EXPECT_EQ(spin->text(), QString::fromUtf8(typing.shown)) << typing.keys;
        EXPECT_EQ(spin->value(), typing.minutes) << typing.keys;
        EXPECT_EQ(settings.mailWatch().intervalMinutes, typing.minutes) << "counts at once";
    }
}

// Until the keyring answers, and when none does, the password cannot move: the row
// says why instead.
TEST(SetFormKeyring, TheRowIsGreyedWithTheReasonWhileNoKeyringAnswers)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("★MailData"));
    SettingsModel settings(AppPaths{.programDir = dir.path(), .installed = true});
    ASSERT_TRUE(writeAccount(settings.paths(), {QStringLiteral("taro"), QStringLiteral("pie")}, true));
    SetForm form(settings);
    QCheckBox *row = form.keyringCheck();
    EXPECT_FALSE(row->isEnabled());
    const QString asking = row->toolTip();
    EXPECT_FALSE(asking.isEmpty());
    settings.passwords().start(); // no keyring to ask
    EXPECT_FALSE(row->isEnabled());
    EXPECT_FALSE(row->toolTip().isEmpty());
    EXPECT_NE(row->toolTip(), asking);
    EXPECT_FALSE(row->isChecked()) << "the password stays in the file";
}

} // namespace
} // namespace kingyo
