#include "e2e_support.h"
#include "support/maildir.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>
#include <unistd.h>

namespace kingyo::e2e {
namespace {

using namespace std::chrono_literals;

// The program trusts only the system's certificates, so it meets a Dovecot of its own
// without TLS here.
TestDovecot *server = nullptr;

class PanelOnTheDesktop : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = new TestDovecot(KINGYO_SOURCE_DIR "/scripts/test-pop3-server", KINGYO_POP3_SERVER_DIR,
                                 TestDovecot::Tls::Off);
    }
    static void TearDownTestSuite() { delete std::exchange(server, nullptr); }

    void SetUp() override
    {
        ASSERT_TRUE(x11.connected()) << "needs an X display (run through scripts/with-x11)";
        ASSERT_GT(server->port("POP3_PORT"), 0) << "the private Dovecot did not start";
    }

    X11Client x11;
};

TEST_F(PanelOnTheDesktop, OpensBelowTheBowlTakesItAlongAndChecksTheMail)
{
    const std::string user = "frank";
    for (int k = 1; k <= 3; ++k) {
        ASSERT_TRUE(test::deliverToMaildir(QString::fromStdString(server->maildir(user).string()),
                                           QStringLiteral("%1.%2.kingyo-e2e").arg(::getpid()).arg(k),
                                           "Subject: " + QByteArray::number(k) + "\r\n\r\nbody\r\n"));
    }
    x11.warpPointer(400, 200);
    KingyoProcess kingyo(KingyoSettings{"127.0.0.1:" + std::to_string(server->port("POP3_PORT")), user,
                                        TestDovecot::passwordOf(user)});

    const xcb_window_t bowl = findBowl(x11, kingyo);
    ASSERT_NE(bowl, XCB_NONE);
    ASSERT_TRUE(waitUntilShaped(x11, bowl)) << "the bowl never got its shape";
    const Geometry bowlAt = x11.geometry(bowl);

    // A double-click on the bowl opens the panel below it, 1600 twips down and 100 left
    // (107 and 7 pixels at 15 twips per pixel), counted from the panel's frame.
    xdotool(mouseAt(bowlAt.x + 10, bowlAt.y + 60) + " sleep 0.2 click --repeat 2 --delay 80 1");
    const xcb_window_t panel = findTitled(x11, kingyo, "Brimble屋さん");
    ASSERT_NE(panel, XCB_NONE) << "no panel after a double-click";
    FrameExtents frame;
    ASSERT_TRUE(waitUntil(kPatience, [&] {
        frame = x11.frameExtents(panel);
        const Geometry p = x11.geometry(panel);
        return p.x - frame.left == bowlAt.x - 7 && p.y - frame.top == bowlAt.y + 107;
    })) << "panel at " << x11.geometry(panel).x << "," << x11.geometry(panel).y;
    const Geometry panelAt = x11.geometry(panel);
    EXPECT_EQ(panelAt.width, 128);
    EXPECT_EQ(panelAt.height, 15);

    // Dragged by its title bar, the panel takes the bowl along.
    const int grabX = panelAt.x + 20;
    const int grabY = panelAt.y - frame.top / 2;
    xdotool(mouseAt(grabX, grabY) + " sleep 0.2 mousedown 1 sleep 0.1 " + mouseAt(grabX + 5, grabY + 5) +
            " sleep 0.1 " + mouseAt(grabX + 60, grabY + 40) + " sleep 0.1 " + mouseAt(grabX + 120, grabY + 90) +
            " sleep 0.2 mouseup 1");
    ASSERT_TRUE(waitUntil(kPatience, [&] { return x11.geometry(panel).x != panelAt.x; })) << "the panel did not move";
    EXPECT_TRUE(waitUntil(kPatience, [&] {
        const Geometry p = x11.geometry(panel);
        const Geometry b = x11.geometry(bowl);
        return b.x == p.x - frame.left + 7 && b.y == p.y - frame.top - 107;
    })) << "bowl at " << x11.geometry(bowl).x << "," << x11.geometry(bowl).y << ", panel at "
        << x11.geometry(panel).x << "," << x11.geometry(panel).y;

    // "受信" checks the mail and shows the notice.
    const Geometry movedPanel = x11.geometry(panel);
    xdotool(mouseAt(movedPanel.x + 48, movedPanel.y + 7) + " sleep 0.2 click 1");
    EXPECT_NE(findTitled(x11, kingyo, "新着お知らせ"), XCB_NONE) << "no notice after a mail check";
    // Hovering "受信" left its hint in the panel's title.
    EXPECT_EQ(x11.title(panel), "メールチェック");
}

} // namespace
} // namespace kingyo::e2e
