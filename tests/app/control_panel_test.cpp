#include "panel/control_panel.h"

#include "app/program.h"
#include "base/random_source.h"
#include "base/twips.h"
#include "fish/bowl_window.h"
#include "fish/living_bowl.h"
#include "fish/water_box.h"
#include "panel/control_panel_pin.h"
#include "panel/control_panel_placement.h"
#include "panel/set_form.h"
#include "support/fakes.h"

#include "support/message_boxes.h"
#include <QApplication>
#include <QDesktopServices>
#include <QHelpEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

// Opened URLs land here instead of in a browser.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

// Answers the box on screen with `button` and notes its title and text.
struct BoxAnswer {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

void answerShownBox(QMessageBox::StandardButton button, BoxAnswer *seen)
{
    auto *box = test::shownMessageBox();
    ASSERT_NE(box, nullptr);
    *seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
    box->button(button)->click();
}

// Window moves reach the widgets through the event loop.
bool eventually(const std::function<bool()> &condition) { return QTest::qWaitFor(condition, 2000); }

std::string text(QPoint p) { return std::to_string(p.x()) + ',' + std::to_string(p.y()); }

QColor faceColour(QPushButton *button) { return button->grab().toImage().pixelColor(3, 3); }

class ControlPanelTest : public ::testing::Test {
protected:
    ControlPanelTest()
    {
        context.clock = &clock;
        context.random = &random;
        wireWindows(context);
        bowl = std::make_unique<BowlWindow>(random, clock);
        bowl->show();
        // The bowl settles on its first exposure; place it after that.
        EXPECT_TRUE(QTest::qWaitForWindowExposed(bowl.get()));
        QTest::qWait(10);
        bowl->move(300, 200);
        wireBowl(context, *bowl);
    }
    ~ControlPanelTest() override
    {
        context.controlPanel.discard();
        context.setForm.discard();
    }

    static QRect availableScreen() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    ControlPanel *openPanel()
    {
        ControlPanel *panel = context.controlPanel.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(panel));
        return panel;
    }

    testing::SteppingClock clock; // stands still unless the test moves it
    SystemRandom random;
    Program context;
    std::unique_ptr<BowlWindow> bowl;
    const TwipsScale scale = TwipsScale::of(nullptr);
};

TEST_F(ControlPanelTest, LoadsWithItsCaptionSizeAndButtons)
{
    ControlPanel *panel = openPanel();
    EXPECT_EQ(panel->objectName(), "Form2");
    EXPECT_EQ(panel->windowTitle(), "Brimble屋さん");
    EXPECT_EQ(panel->size(), scale.toPixels(1920, 225));
    EXPECT_TRUE(panel->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(panel->windowFlags() & Qt::WindowMaximizeButtonHint);

    const struct {
        const char *caption;
        TwipsRect place;
        QColor face; // invalid: a standard button
    } expected[] = {
        {"餌", {0, 0, 495, 255}, QColor(0x00, 0xFF, 0xFF)},
        {"受信", {480, 0, 495, 255}, QColor(0xC0, 0xC0, 0xFF)},
        {"設定", {960, 0, 615, 255}, QColor(0x80, 0x80, 0xFF)},
        {"HP", {1580, 0, 360, 255}, QColor(0x80, 0xFF, 0x80)},
        {"切断", {960, 1080, 1095, 375}, QColor()},
    };
    for (int number = 1; number <= 5; ++number) {
        QPushButton *button = panel->command(number);
        ASSERT_NE(button, nullptr);
        const auto &want = expected[number - 1];
        EXPECT_EQ(button->objectName(), QStringLiteral("Command%1").arg(number));
        EXPECT_EQ(button->text(), QString::fromUtf8(want.caption));
        EXPECT_EQ(button->geometry(), scale.toPixels(want.place)) << number;
        if (want.face.isValid()) {
            EXPECT_EQ(faceColour(button), want.face) << number;
        }
    }
}

TEST_F(ControlPanelTest, TheDisconnectButtonIsOutOfSightButTabReachesAndKeysPressIt)
{
    ControlPanel *panel = openPanel();
    QPushButton *command5 = panel->command(5);
    EXPECT_FALSE(panel->rect().intersects(command5->geometry()));

    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    panel->command(1)->setFocus();
    for (int number = 2; number <= 5; ++number) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), panel->command(number));
    }
    QSignalSpy clicks(command5, &QPushButton::clicked);
    QTest::keyClick(command5, Qt::Key_Space);
    QTest::keyClick(command5, Qt::Key_Return);
    QTest::keyClick(command5, Qt::Key_Enter);
    EXPECT_EQ(clicks.count(), 3);
}

TEST_F(ControlPanelTest, EachHintIsTheButtonsTooltipAndGoesIntoTheTitleWhereNothingResetsIt)
{
    ControlPanel *panel = openPanel();
    const char *hints[] = {"Brimbleの餌", "メールチェック", "各種設定", "作者のHP"};
    for (int number = 1; number <= 4; ++number) {
        QPushButton *button = panel->command(number);
        const QString hint = QString::fromUtf8(hints[number - 1]);
        QTest::mouseMove(button);
        EXPECT_EQ(panel->windowTitle(), hint);
        QHelpEvent askForTip(QEvent::ToolTip, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(button, &askForTip);
        EXPECT_TRUE(QToolTip::isVisible()) << number;
        EXPECT_EQ(QToolTip::text(), hint);
    }
    QToolTip::hideText();
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(panel->command(4), &leave);
    QApplication::sendEvent(panel, &leave);
    EXPECT_EQ(panel->windowTitle(), "作者のHP");
}

TEST_F(ControlPanelTest, OpensBelowTheBowl)
{
    ControlPanel *panel = openPanel();
    // 300 px = 4500 twips, less 100 = 4400 twips = 293.3 px; 200 px = 3000 twips, plus 1600 = 306.7 px.
    if (scale.perPixelX == 15 && scale.perPixelY == 15) {
        EXPECT_EQ(panel->pos(), QPoint(293, 307));
    }
    EXPECT_EQ(panel->pos(), panelPositionBelow(QPoint(300, 200), scale));
    EXPECT_EQ(bowl->pos(), QPoint(300, 200)); // the round trip puts the bowl back where it was
}

TEST_F(ControlPanelTest, OpenedInTheBottomRightCornerThePanelLiesWholeOnTheScreenWithTheBowlAboveIt)
{
    const QRect screen = availableScreen();
    bowl->move(screen.right() - 99, screen.bottom() - 99); // the whole bowl in the corner
    const QPoint bowlWas = bowl->pos();
    ControlPanel *panel = openPanel();
    EXPECT_EQ(panel->frameGeometry().bottomRight(), screen.bottomRight()) << "panel at " << text(panel->pos());
    EXPECT_TRUE(eventually([&] { return bowl->pos() == bowlPositionAbove(panel->pos(), scale); }))
        << "bowl at " << text(bowl->pos());
    EXPECT_LT(bowl->y(), bowlWas.y());
}

TEST_F(ControlPanelTest, APanelDraggedPartlyOffComesBackWithTheBowl)
{
    const QRect screen = availableScreen();
    ControlPanel *panel = openPanel();
    panel->move(screen.right() - 20, screen.top() + 200); // low enough for the bowl above
    EXPECT_TRUE(eventually([&] { return panel->frameGeometry().right() == screen.right(); }))
        << "panel at " << text(panel->pos());
    EXPECT_EQ(panel->y(), screen.top() + 200);
    EXPECT_TRUE(eventually([&] { return bowl->pos() == bowlPositionAbove(panel->pos(), scale); }))
        << "bowl at " << text(bowl->pos());
}

TEST_F(ControlPanelTest, MovingThePanelTakesTheBowlAlong)
{
    ControlPanel *panel = openPanel();
    panel->move(500, 600);
    EXPECT_TRUE(eventually([&] { return panel->pos() == QPoint(500, 600); })) << "at " << text(panel->pos());
    EXPECT_TRUE(eventually([&] { return bowl->pos() == bowlPositionAbove(QPoint(500, 600), scale); })) << "at " << text(bowl->pos());
    if (scale.perPixelX == 15 && scale.perPixelY == 15) {
        EXPECT_EQ(bowl->pos(), QPoint(507, 493)); // +100 and -1600 twips
    }
}

TEST_F(ControlPanelTest, TheBowlMovedByAnythingElseIsPutBack)
{
    ControlPanel *panel = openPanel();
    const QPoint home = bowlPositionAbove(panel->pos(), scale);
    EXPECT_TRUE(eventually([&] { return bowl->pos() == home; })) << "at " << text(bowl->pos());
    bowl->move(10, 10);
    EXPECT_TRUE(eventually([&] { return bowl->pos() == home; })) << "at " << text(bowl->pos());
    clock.advance(std::chrono::seconds(1));
    bowl->move(10, 10); // the same push a second later is undone again
    EXPECT_TRUE(eventually([&] { return bowl->pos() == home; })) << "at " << text(bowl->pos());
}

TEST_F(ControlPanelTest, AClosedPanelNoLongerHoldsTheBowl)
{
    ControlPanel *panel = openPanel();
    panel->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(context.controlPanel.isLoaded());
    bowl->move(10, 10);
    QTest::qWait(50);
    EXPECT_EQ(bowl->pos(), QPoint(10, 10));
}

TEST_F(ControlPanelTest, ShowingAgainKeepsTheOnePanel)
{
    ControlPanel *first = openPanel();
    first->setWindowTitle(QStringLiteral("作者のHP"));
    EXPECT_EQ(context.controlPanel.show(), first);
    EXPECT_EQ(first->windowTitle(), "作者のHP"); // not loaded again
}

TEST_F(ControlPanelTest, AMinimisedPanelLetsTheBowlSwimAndShowingAgainRestoresItBelowTheBowl)
{
    ControlPanel *panel = openPanel();
    panel->showMinimized();
    ASSERT_TRUE(panel->isMinimized());
    bowl->move(100, 150);
    QTest::qWait(50);
    EXPECT_EQ(bowl->pos(), QPoint(100, 150));

    EXPECT_EQ(context.controlPanel.show(), panel);
    EXPECT_FALSE(panel->isMinimized());
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(eventually([&] { return panel->pos() == panelPositionBelow(QPoint(100, 150), scale); }))
        << "panel at " << text(panel->pos());
    EXPECT_EQ(bowl->pos(), QPoint(100, 150));
}

TEST_F(ControlPanelTest, TheFeedButtonPlaysTheFeedingScene)
{
    ControlPanel *panel = openPanel();
    QWidget *waterBox = bowl->living().waterBox();
    const int restingTop = waterBox->y();
    int topDuringScene = restingTop;
    QTimer::singleShot(0, [&] { topDuringScene = waterBox->y(); }); // runs inside the scene's first wait
    clock.setStride(std::chrono::seconds(1));
    panel->command(1)->click();
    EXPECT_LT(topDuringScene, restingTop) << "the water box was not lifted";
    EXPECT_EQ(waterBox->y(), restingTop);
}

TEST_F(ControlPanelTest, TheSettingsButtonShowsTheSettingsWindow)
{
    ControlPanel *panel = openPanel();
    panel->command(3)->click();
    ASSERT_TRUE(context.setForm.isLoaded());
    EXPECT_TRUE(context.setForm.get()->isVisible());
}

class HomePageTest : public ControlPanelTest {
protected:
    HomePageTest() { QDesktopServices::setUrlHandler(QStringLiteral("https"), &urls, "open"); }
    ~HomePageTest() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    UrlRecorder urls;
    BoxAnswer seen;
};

TEST_F(HomePageTest, AsksFirstAndOpensThePageOnYes)
{
    ControlPanel *panel = openPanel();
    panel->command(4)->click();
    answerShownBox(QMessageBox::Yes, &seen);
    EXPECT_EQ(seen.title, "確認");
    EXPECT_EQ(seen.text, "「ポムロ」作者のホームページです。ちょっと見てみますか？");
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    ASSERT_EQ(urls.opened.size(), 1);
    EXPECT_EQ(urls.opened.first(), QUrl(QString::fromLatin1(kHomePage)));
}

TEST_F(HomePageTest, NoOpensNothing)
{
    ControlPanel *panel = openPanel();
    panel->command(4)->click();
    answerShownBox(QMessageBox::No, &seen);
    EXPECT_EQ(seen.title, "確認");
    EXPECT_TRUE(urls.opened.isEmpty());
}

// A window manager that refuses the bowl's place: soon after every move it sets the
// bowl back where it wants it.
class RefusingWindowManager : public QObject {
public:
    explicit RefusingWindowManager(QWidget *window, QPoint insisted) : window_(window), insisted_(insisted)
    {
        window->installEventFilter(this);
    }
    int moves = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Move && window_->pos() != insisted_ && ++moves < 1000)
            QTimer::singleShot(0, window_, [this] { window_->move(insisted_); });
        return false;
    }

private:
    QWidget *window_;
    QPoint insisted_;
};

TEST_F(ControlPanelTest, ARefusedPlaceIsNotFoughtForever)
{
    QWidget panel;
    panel.move(400, 400);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    BowlPin pin(&panel, bowl.get(), scale, clock);
    RefusingWindowManager manager(bowl.get(), QPoint(0, 0));
    pin.placeBowl();
    QTest::qWait(100);
    EXPECT_LT(manager.moves, 10);
}

TEST_F(ControlPanelTest, APanelKeptPartlyOffByTheWindowManagerIsNotFoughtForever)
{
    ControlPanel *panel = openPanel();
    const QPoint partlyOff(availableScreen().right() - 20, availableScreen().top() + 100);
    RefusingWindowManager manager(panel, partlyOff);
    panel->move(partlyOff);
    ASSERT_TRUE(eventually([&] { return manager.moves == 1; })) << "the panel was not put back once";
    QTest::qWait(800); // time for two more tries, were there any
    EXPECT_EQ(manager.moves, 1);
    EXPECT_EQ(panel->pos(), partlyOff);
}

} // namespace
} // namespace kingyo

#include "control_panel_test.moc"
