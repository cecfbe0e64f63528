#include "mail/wake_signals.h"

#include "support/private_bus.h"

#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <vector>

namespace kingyo {
namespace {

// One call to a mock's own interface: what logind or NetworkManager would do.
struct Step {
    const char *method;
    QVariantList arguments;
};

Step sleeping(bool going)
{
    return {"EmitSignal", {QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                           QStringLiteral("b"), QVariant(QVariantList{going})}};
}
Step networkState(uint state) { return {"SetGlobalConnectionState", {state}}; }
Step connectivity(uint level) { return {"SetConnectivity", {level}}; }

struct WakeCase {
    const char *name;
    bool logind; // else NetworkManager
    std::vector<Step> steps;
    int woke;
};

void PrintTo(const WakeCase &c, std::ostream *out) { *out << c.name; }

class WakeSignalsTable : public ::testing::TestWithParam<WakeCase> {};

TEST_P(WakeSignalsTable, WakesOncePerResumeOrReturnOfTheInternet)
{
    const WakeCase &row = GetParam();
    test::PrivateBus bus;
    ASSERT_TRUE(bus.startDaemon()) << bus.failure().toStdString();
    ASSERT_TRUE(row.logind ? bus.startLogindMock() : bus.startNetworkManagerMock()) << bus.failure().toStdString();
    WakeSignals wake(bus.connection());
    QSignalSpy woke(&wake, &WakeSignals::woke);
    const QString service = row.logind ? QStringLiteral("org.freedesktop.login1") : QStringLiteral("org.freedesktop.NetworkManager");
    const QString path = row.logind ? QStringLiteral("/org/freedesktop/login1") : QStringLiteral("/org/freedesktop/NetworkManager");
    for (const Step &step : row.steps) {
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Mock"),
                                                           QString::fromLatin1(step.method));
        call.setArguments(step.arguments);
        const QDBusMessage reply = bus.connection().call(call, QDBus::Block, 5000);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return woke.size() >= row.woke; }, 10000));
    QTest::qWait(300); // and no more
    EXPECT_EQ(woke.size(), row.woke);
}

constexpr uint kDisconnected = 20, kConnectedSite = 60, kConnectedGlobal = 70;
constexpr uint kConnectivityNone = 1, kConnectivityLimited = 3, kConnectivityFull = 4;

INSTANTIATE_TEST_SUITE_P(
    Table, WakeSignalsTable,
    ::testing::Values(
        WakeCase{"SleepThenResume", true, {sleeping(true), sleeping(false)}, 1},
        WakeCase{"StateAndConnectivitySayItTogether", false,
                 {networkState(kDisconnected), connectivity(kConnectivityNone), networkState(kConnectedSite),
                  networkState(kConnectedGlobal), connectivity(kConnectivityFull), networkState(kConnectedGlobal)}, 1},
        WakeCase{"ConnectivityAlone", false,
                 {connectivity(kConnectivityLimited), connectivity(kConnectivityFull), connectivity(kConnectivityFull)}, 1},
        WakeCase{"LostAndBackTwice", false,
                 {networkState(kConnectedGlobal), networkState(kDisconnected), networkState(kConnectedGlobal)}, 2}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(WakeSignalsWithoutBusTest, NoBusIsNoTrouble)
{
    const QDBusConnection none = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                               QStringLiteral("no-bus"));
    ASSERT_FALSE(none.isConnected());
    WakeSignals wake(none);
    QSignalSpy woke(&wake, &WakeSignals::woke);
    QTest::qWait(100);
    EXPECT_TRUE(woke.isEmpty());
}

} // namespace
} // namespace kingyo
