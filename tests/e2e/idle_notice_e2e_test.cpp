// New mail told the moment the server says it came: the real program, checking by
// itself over IMAPS, waits in IDLE on a Dovecot of the test's own, and each delivered
// message reaches the desktop's notification service (python3-dbusmock on a private
// session bus) once and soon, also after the server restarted or the program stood still.
#include "e2e_support.h"
#include "trusted_server.h"
#include "support/maildir.h"
#include "support/notification_service.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <utility>

namespace kingyo::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Dovecot tells an idling client of a delivered file about half a second after it lands;
// the check it starts and the notification take well under a second more.
constexpr auto kNotifiedAfterDelivery = 2s;
constexpr auto kNotifiedAfterNews = 1s; // once the program may hear of the mail
constexpr auto kQuiet = 2s;             // a second notification would have come by then
constexpr auto kStandingStill = 3s;     // as a machine asleep, kept short
// What a loaded machine (tests side by side, builds beside them) may add to each of these;
// well below the minute after which a check by itself would bring the message too.
constexpr auto kUnderLoad = 10s;

// By when the program is back on a server that refused it for `down` after the cut: it
// tries again 2 s after the loss and waits twice as long after each refusal, each wait
// drawn within a fifth either side.
std::chrono::milliseconds reconnectedBy(std::chrono::milliseconds down)
{
    std::chrono::milliseconds wait = 2s, earliest{0}, latest{0};
    while (earliest < down) {
        earliest += wait * 4 / 5;
        latest += wait * 6 / 5;
        wait *= 2;
    }
    return latest;
}

// The suite's Dovecot; restarted by one row.
TestDovecot *server = nullptr;

// What a row does once the program idles: it delivers the message (through `deliver`)
// and says by when the notification is due.
struct Scene {
    KingyoProcess &kingyo;
    std::function<void()> deliver;
};

struct Row {
    const char *name;
    const char *user;
    Clock::time_point (*play)(Scene &scene);
};

void PrintTo(const Row &row, std::ostream *out) { *out << row.name; }

const Row kRows[] = {
    {"WhileIdling", "alice",
     [](Scene &scene) {
         scene.deliver();
         return Clock::now() + kNotifiedAfterDelivery + kUnderLoad;
     }},
    {"AfterTheServerRestarted", "bob",
     [](Scene &scene) {
         // Dovecot takes a few seconds to go and come back, longer than the first wait.
         const auto cut = Clock::now();
         EXPECT_TRUE(server->restart());
         const auto down = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - cut);
         scene.deliver();
         return cut + reconnectedBy(down) + kNotifiedAfterNews + kUnderLoad;
     }},
    {"WhileTheProgramStoodStill", "carol",
     [](Scene &scene) {
         scene.kingyo.sendSignal(SIGSTOP);
         scene.deliver();
         std::this_thread::sleep_for(kStandingStill);
         scene.kingyo.sendSignal(SIGCONT);
         return Clock::now() + kNotifiedAfterNews + kUnderLoad;
     }},
};

class IdleNotice : public ::testing::TestWithParam<Row> {
protected:
    static void SetUpTestSuite()
    {
        server = new TestDovecot(KINGYO_SOURCE_DIR "/scripts/test-pop3-server", KINGYO_IDLE_SERVER_DIR,
                                 TestDovecot::Tls::On);
    }
    static void TearDownTestSuite() { delete std::exchange(server, nullptr); }

    void SetUp() override
    {
        ASSERT_GT(server->port("IMAPS_PORT"), 0) << "the private Dovecot did not start";
        ASSERT_TRUE(bus.startDaemon()) << bus.failure().toStdString();
        ASSERT_TRUE(desktop.start()) << bus.failure().toStdString();
    }

    test::PrivateBus bus;
    test::NotificationService desktop{bus};
};

TEST_P(IdleNotice, TheDeliveredMessageIsNotifiedOnce)
{
    const Row &row = GetParam();
    const int port = server->port("IMAPS_PORT");
    KingyoFolder folder;
    folder.makePortable({"imaps://127.0.0.1:" + std::to_string(port), row.user, TestDovecot::passwordOf(row.user),
                         "NEWONLY=1\r\nINTERVAL=1\r\nNOTIFY=1\r\n"});
    trustCertificate(folder, *server, port);
    const std::string address = bus.address().toStdString();
    KingyoProcess kingyo(folder, {{"DBUS_SESSION_BUS_ADDRESS", address}, {"DBUS_SYSTEM_BUS_ADDRESS", address}});
    ASSERT_TRUE(waitUntil(kPatience, [&] { return server->idlingSessions(row.user) == 1; })) << kingyo.log();

    const std::string subject = std::string("idle ") + row.name;
    Scene scene{kingyo, [&] {
                    ASSERT_TRUE(test::deliverToMaildir(
                        QString::fromStdString(server->maildir(row.user).string()), QString::fromLatin1(row.name),
                        QByteArray("From: otto@example.jp\r\nSubject: ") + subject.c_str() + "\r\n\r\nhello\r\n"));
                }};
    const Clock::time_point due = row.play(scene);

    EXPECT_TRUE(waitUntil(std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()),
                          [&] { return !desktop.notifyCalls().isEmpty(); }))
        << "no notification in time\n"
        << kingyo.log() << server->log();
    std::this_thread::sleep_for(kQuiet);
    const QList<test::NotifyCall> calls = desktop.notifyCalls();
    ASSERT_EQ(calls.size(), 1) << kingyo.log();
    EXPECT_TRUE(calls.first().body.contains(QString::fromStdString(subject))) << calls.first().body.toStdString();
    EXPECT_TRUE(calls.first().body.contains(QStringLiteral("otto@example.jp"))) << calls.first().body.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Deliveries, IdleNotice, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace kingyo::e2e

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // for the test's own connection to the private bus
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
