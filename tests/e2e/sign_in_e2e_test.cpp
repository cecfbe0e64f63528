// Signing in through the browser in the real program: the settings window's button,
// the sign-in dialog filled from the keyboard, and a browser set as a desktop sets one
// ($BROWSER, which xdg-open honours) that follows the test provider's authorization
// back to the program. Then checks by themselves over IMAPS with access tokens, the
// IDLE watch telling a delivered message on the desktop (python3-dbusmock on a private
// session bus). The provider's tokens live two seconds here, so every check and the
// watch use one refreshed since, and the user sees nothing of it. The refresh token is
// in the keyring (gnome-keyring on the same bus) this portable copy's user chose, never
// in the account file.
#include "e2e_support.h"
#include "mail/test_oauth_provider.h"
#include "settings/secret_store.h"
#include "support/maildir.h"
#include "support/notification_service.h"
#include "trusted_server.h"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <thread>

namespace kingyo::e2e {
namespace {

using namespace std::chrono_literals;

constexpr auto kUser = "oscar@kingyo.test";
constexpr auto kClient = "kingyo-e2e";
constexpr int kTokenLifetime = 2; // seconds; a token younger than a minute is refreshed before use

std::string fileText(const std::filesystem::path &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

int requestsTo(const std::string &log, const std::string &request)
{
    int count = 0;
    for (std::size_t at = log.find(request); at != std::string::npos; at = log.find(request, at + 1))
        ++count;
    return count;
}

// What the keyring on the test's bus keeps under this key; empty when nothing.
QString keyringSecret(const QString &key)
{
    const SecretStore store(QStringLiteral("kingyo"));
    QObject context;
    std::optional<SecretStore::Result> answer;
    store.read(key, &context, [&answer](const SecretStore::Result &result) { answer = result; });
    return QTest::qWaitFor([&answer] { return answer.has_value(); }, 10000) ? answer->secret : QString();
}

// The windows of the program now showing this title.
int windowsTitled(X11Client &x11, const std::string &title)
{
    int count = 0;
    for (const xcb_window_t window : x11.windowsOfClass("kingyo"))
        count += x11.title(window) == title;
    return count;
}

TEST(SignInE2e, SignedInThroughTheBrowserChecksWithRefreshedTokensAndKeepsTheRefreshTokenInTheKeyring)
{
    X11Client x11;
    ASSERT_TRUE(x11.connected()) << "needs an X display (run through scripts/with-x11)";
    TestDovecot server(KINGYO_SOURCE_DIR "/scripts/test-pop3-server", KINGYO_SIGN_IN_SERVER_DIR, TestDovecot::Tls::On);
    const int port = server.port("IMAPS_PORT");
    const int providerPort = server.port("OAUTH_PORT");
    ASSERT_GT(providerPort, 0) << "the private Dovecot and its provider did not start";
    test::TestOAuthProvider(quint16(providerPort)).configureClient(QString::fromLatin1(kClient), kTokenLifetime);
    test::PrivateBus bus;
    test::NotificationService desktop{bus};
    ASSERT_TRUE(bus.startDaemon() && desktop.start() && bus.startKeyring(test::PrivateBus::KeyringLock::Unlocked))
        << bus.failure().toStdString();
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8()); // where this process reads the keyring

    KingyoFolder folder;
    folder.makePortable({"imaps://127.0.0.1:" + std::to_string(port), kUser, "", "NEWONLY=1\r\nINTERVAL=1\r\nNOTIFY=1\r\n"});
    trustCertificate(folder, server, port);
    std::ofstream(folder.mailData() / "iniIdPass.ini", std::ios::app) << "KEYRING=e2e-copy\r\n"; // the keyring row ticked
    const std::string address = bus.address().toStdString();
    KingyoProcess kingyo(folder, {{"DBUS_SESSION_BUS_ADDRESS", address},
                                  {"DBUS_SYSTEM_BUS_ADDRESS", address},
                                  {"BROWSER", KINGYO_TEST_BROWSER}});

    // 設定 on the control panel the bowl's double-click opens.
    const xcb_window_t bowl = findBowl(x11, kingyo);
    ASSERT_NE(bowl, XCB_NONE) << kingyo.log();
    ASSERT_TRUE(waitUntilShaped(x11, bowl)) << "the bowl never got its shape";
    const Geometry bowlAt = x11.geometry(bowl);
    xdotool(mouseAt(bowlAt.x + 10, bowlAt.y + 60) + " sleep 0.2 click --repeat 2 --delay 80 1");
    const xcb_window_t panel = findTitled(x11, kingyo, "Brimble屋さん");
    ASSERT_NE(panel, XCB_NONE);
    ASSERT_TRUE(waitUntil(kPatience, [&] {
        const FrameExtents frame = x11.frameExtents(panel);
        return frame.top > 0 && x11.geometry(panel).y - frame.top == bowlAt.y + 107;
    })) << "the panel was not placed below the bowl";
    const Geometry panelAt = x11.geometry(panel);
    xdotool(mouseAt(panelAt.x + 84, panelAt.y + 7) + " sleep 0.2 click 1");
    const xcb_window_t settings = findTitled(x11, kingyo, "設定");
    ASSERT_NE(settings, XCB_NONE);
    ASSERT_TRUE(waitUntilPlaced(x11, settings, {bowl, panel}));
    // ブラウザでサインイン… is the last row's button: at the bottom left, 7 pixels of margin below.
    const Geometry settingsAt = x11.geometry(settings);
    xdotool(mouseAt(settingsAt.x + 24, settingsAt.y + settingsAt.height - 16) + " sleep 0.2 click 1");
    const xcb_window_t dialog = findTitled(x11, kingyo, "ブラウザでサインイン");
    ASSERT_NE(dialog, XCB_NONE);
    ASSERT_TRUE(waitUntil(kPatience, [&] { return x11.activeWindow() == dialog; })) << "the dialog has no keyboard";

    // From the keyboard: the provider list has the focus, その他 its last entry; the
    // client secret is left blank.
    const std::string provider = "http://127.0.0.1:" + std::to_string(providerPort);
    xdotool("key End Tab ctrl+a type " + std::string(kUser));
    xdotool("key Tab type " + std::string(kClient));
    xdotool("key Tab Tab type " + provider + "/authorize");
    xdotool("key Tab type " + provider + "/token");
    xdotool("key Tab type mail");
    xdotool("key Return");

    const auto accountFile = folder.mailData() / "iniIdPass.ini";
    ASSERT_TRUE(waitUntil(kPatience, [&] { return fileText(accountFile).find("OAUTH=other") != std::string::npos; }))
        << "not signed in\n" << kingyo.log() << server.providerLog();
    EXPECT_EQ(windowsTitled(x11, "ブラウザでサインイン"), 0) << "the dialog closes once signed in";
    ASSERT_TRUE(waitUntil(kPatience, [&] { return server.idlingSessions(kUser) == 1; })) << kingyo.log() << server.log();

    std::this_thread::sleep_for(std::chrono::seconds(kTokenLifetime)); // the watch's token has expired
    ASSERT_TRUE(test::deliverToMaildir(QString::fromStdString(server.maildir(kUser).string()),
                                       QStringLiteral("signed-in"),
                                       "From: otto@example.jp\r\nSubject: after the sign-in\r\n\r\nhello\r\n"));
    ASSERT_TRUE(waitUntil(kPatience, [&] { return !desktop.notifyCalls().isEmpty(); })) << kingyo.log() << server.log();
    EXPECT_TRUE(desktop.notifyCalls().first().body.contains(QStringLiteral("after the sign-in")));
    EXPECT_EQ(windowsTitled(x11, "エラー"), 0) << "the user saw a failure";
    // One code traded, then a refresh for each use: the sign-in's check, the watch, the
    // check of the delivered message.
    EXPECT_GE(requestsTo(server.providerLog(), "POST /token"), 3) << server.providerLog();

    const std::string account = fileText(accountFile);
    std::smatch keyringId;
    ASSERT_TRUE(std::regex_search(account, keyringId, std::regex("KEYRING=([^\r\n]+)"))) << account;
    const QString refreshToken = keyringSecret(QStringLiteral("refresh:") + QString::fromStdString(keyringId[1]));
    ASSERT_FALSE(refreshToken.isEmpty()) << "the refresh token is not in the keyring";
    EXPECT_EQ(account.find(refreshToken.toStdString()), std::string::npos);
    EXPECT_EQ(kingyo.log().find(refreshToken.toStdString()), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder.mailData() / "oauth-refresh-token"));
}

} // namespace
} // namespace kingyo::e2e

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // for the test's own requests to the provider and the bus
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
