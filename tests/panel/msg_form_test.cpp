#include "panel/msg_form.h"

#include "base/twips.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

TEST(MsgFormTest, LaysOutItsTwoBoxesAtTheCentreOfTheScreen)
{
    MsgForm form;
    const TwipsScale scale = TwipsScale::of(nullptr);
    EXPECT_EQ(form.objectName(), "MsgForm");
    EXPECT_EQ(form.windowTitle(), "新着お知らせ");
    EXPECT_EQ(form.size(), scale.toPixels(3630, 270));
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form.text1()->objectName(), "Text1");
    EXPECT_EQ(form.text1()->geometry(), scale.toPixels(TwipsRect{0, 0, 3135, 270}));
    EXPECT_EQ(form.text1()->text(), "新着メールはありませんでした。");
    EXPECT_EQ(form.text1()->palette().color(QPalette::Text), QColor(0, 0, 255));
    EXPECT_EQ(form.text2()->objectName(), "Text2");
    EXPECT_EQ(form.text2()->geometry(), scale.toPixels(TwipsRect{3120, 0, 495, 270}));
    EXPECT_EQ(form.geometry().center(), QGuiApplication::primaryScreen()->geometry().center());
}

TEST(MsgFormTest, ShowsACountAndItsSentence)
{
    MsgForm form;
    form.showResult(-5);
    EXPECT_EQ(form.text2()->text(), "-5");
    EXPECT_EQ(form.text1()->text(), "新着メールはありませんでした。");
    form.showResult(12);
    EXPECT_EQ(form.text2()->text(), "12");
    EXPECT_EQ(form.text1()->text(), "新着メールが有ります。");
}

} // namespace
} // namespace kingyo
