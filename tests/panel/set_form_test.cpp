#include "panel/set_form.h"

#include "settings/settings_model.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
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
                             form->autostartCheck()};
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

} // namespace
} // namespace kingyo
