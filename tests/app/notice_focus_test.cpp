// On a real X server with a window manager: a notice nobody asked for leaves the
// keyboard with the window the user types in; one the user asked for takes it.
#include "app/mail_waiting_fixture.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QTest>
#include <QWindow>

namespace kingyo {
namespace {

class NoticeFocusTest : public test::MailWaitingFixture {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run through scripts/with-x11";
        typing.setWindowTitle(QStringLiteral("typing"));
        typing.setGeometry(40, 40, 300, 60);
        typing.show();
        typing.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&typing));
        QObject::connect(qApp, &QGuiApplication::focusWindowChanged, &typing, [this](QWindow *window) {
            if (window)
                focused << window->title();
        });
    }

    // Windows that got the keyboard since the notice; X reports focus in order, so
    // the list is whole once a later window is active.
    QStringList focusedAfter(const std::function<void()> &showNotice)
    {
        focused.clear();
        showNotice();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(context.msgForm.get()));
        probe.setWindowTitle(QStringLiteral("probe"));
        probe.setGeometry(400, 40, 100, 40);
        probe.show();
        probe.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&probe));
        probe.hide();
        context.msgForm.get()->close();
        typing.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&typing));
        return focused;
    }

    QLineEdit typing;
    QLineEdit probe;
    QStringList focused;
};

TEST_F(NoticeFocusTest, OnlyANoticeTheUserAskedForTakesTheKeyboard)
{
    const struct {
        const char *how;
        std::function<void()> show;
        QStringList focused;
    } notices[] = {
        {"timed", [this] { timedCheck(2); }, {"probe", "typing"}},
        {"clicked", [this] { check(2); }, {"新着お知らせ", "probe", "typing"}},
    };
    for (const auto &notice : notices)
        EXPECT_EQ(focusedAfter(notice.show), notice.focused) << notice.how;
}

} // namespace
} // namespace kingyo
