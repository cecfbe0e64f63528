#include "mail/dialup_hangup.h"

#include "support/private_bus.h"
#include "mail/qt_printers.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using ConnectionSettings = QMap<QString, QVariantMap>;

namespace kingyo {
namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kMockInterface = QStringLiteral("org.freedesktop.DBus.Mock");
const QString kActivePrefix = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/");

struct Link {
    const char *name;
    const char *type;
    const char *bluetoothType; // "" when not Bluetooth
    bool dialup;
};

// Every kind of link the routine must tell apart.
const Link kLinks[] = {
    {"modem", "gsm", "", true},          {"evdo", "cdma", "", true},
    {"dsl", "pppoe", "", true},          {"adsl", "adsl", "", true},
    {"phone", "bluetooth", "dun", true}, {"pan", "bluetooth", "panu", false},
    {"wired", "802-3-ethernet", "", false}, {"wifi", "802-11-wireless", "", false},
    {"office", "vpn", "", false},
};

class DialupHangupDbusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qDBusRegisterMetaType<ConnectionSettings>();
        ASSERT_TRUE(bus.startDaemon()) << bus.failure().toStdString();
    }

    QDBusMessage call(const QString &path, const QString &interface, const QString &method, const QVariantList &args)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
        message.setArguments(args);
        return bus.connection().call(message, QDBus::Block, 5000);
    }

    void mockCall(const QString &method, const QVariantList &args)
    {
        const QDBusMessage reply = call(kManagerPath, kMockInterface, method, args);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }

    // Adds a stored connection and activates it under the active-connection name `name`.
    void addActiveLink(const Link &link)
    {
        ConnectionSettings settings;
        settings[QStringLiteral("connection")] = {{QStringLiteral("id"), QString::fromUtf8(link.name)},
                                                   {QStringLiteral("type"), QString::fromUtf8(link.type)}};
        if (*link.bluetoothType)
            settings[QStringLiteral("bluetooth")] = {{QStringLiteral("type"), QString::fromUtf8(link.bluetoothType)}};
        const QDBusMessage added = call(QStringLiteral("/org/freedesktop/NetworkManager/Settings"),
                                        QStringLiteral("org.freedesktop.NetworkManager.Settings"),
                                        QStringLiteral("AddConnection"), {QVariant::fromValue(settings)});
        ASSERT_EQ(added.type(), QDBusMessage::ReplyMessage) << added.errorMessage().toStdString();
        const QString settingsPath = qvariant_cast<QDBusObjectPath>(added.arguments().constFirst()).path();
        mockCall(QStringLiteral("AddActiveConnection"),
                 {QStringList{device}, settingsPath, QStringLiteral("/"), QString::fromUtf8(link.name), 2u});
    }

    void startNetworkManagerWithLinks()
    {
        ASSERT_TRUE(bus.startNetworkManagerMock()) << bus.failure().toStdString();
        // The mock's own DeactivateConnection walks the devices: give it one.
        const QDBusMessage reply =
            call(kManagerPath, kMockInterface, QStringLiteral("AddEthernetDevice"),
                 {QStringLiteral("eth0"), QStringLiteral("eth0"), 100});
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        device = reply.arguments().constFirst().toString();
        for (const Link &link : kLinks)
            addActiveLink(link);
    }

    QStringList activeLinks()
    {
        const QDBusMessage reply = call(kManagerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), {kService, QStringLiteral("ActiveConnections")});
        QStringList names;
        const QVariant value = qvariant_cast<QDBusVariant>(reply.arguments().value(0)).variant();
        for (const QDBusObjectPath &path : qdbus_cast<QList<QDBusObjectPath>>(qvariant_cast<QDBusArgument>(value)))
            names << path.path().mid(kActivePrefix.size());
        names.sort();
        return names;
    }

    QStringList deactivationsTried()
    {
        const QDBusMessage reply = call(kManagerPath, kMockInterface, QStringLiteral("GetMethodCalls"),
                                        {QStringLiteral("DeactivateConnection")});
        QStringList names;
        const QDBusArgument calls = qvariant_cast<QDBusArgument>(reply.arguments().value(0));
        calls.beginArray();
        while (!calls.atEnd()) {
            quint64 stamp = 0;
            QVariantList args;
            calls.beginStructure();
            calls >> stamp >> args;
            calls.endStructure();
            names << qvariant_cast<QDBusObjectPath>(args.value(0)).path().mid(kActivePrefix.size());
        }
        calls.endArray();
        return names;
    }

    // Starts a hang-up and waits for its end; checks that the start itself neither
    // waited for an answer nor ran the event loop.
    static int hangUpAndWait(DialupHangup &hangup)
    {
        QSignalSpy finished(&hangup, &DialupHangup::finished);
        bool eventLoopRan = false;
        QTimer::singleShot(0, &hangup, [&eventLoopRan] { eventLoopRan = true; });
        hangup.hangUpAll();
        EXPECT_FALSE(eventLoopRan) << "events were pumped inside hangUpAll()";
        EXPECT_TRUE(finished.isEmpty()) << "hangUpAll() waited for the answers";
        // Far below the bus library's 25 s default: only the budget can end the wait.
        if (!finished.wait(10000))
            return -1;
        return finished.constFirst().constFirst().toInt();
    }

    int hangUpAndWait(std::chrono::milliseconds budget = DialupHangup::kDefaultBudget)
    {
        DialupHangup hangup(bus.connection(), QStringList{}, budget); // no pppd in most of these tests
        return hangUpAndWait(hangup);
    }

    test::PrivateBus bus;
    QString device;
};

QStringList namesWhere(bool dialup)
{
    QStringList names;
    for (const Link &link : kLinks)
        if (link.dialup == dialup)
            names << QString::fromUtf8(link.name);
    names.sort();
    return names;
}

TEST_F(DialupHangupDbusTest, DialupLinksAreDeactivatedAndTheOthersStay)
{
    startNetworkManagerWithLinks();
    ASSERT_EQ(activeLinks().size(), int(std::size(kLinks)));

    EXPECT_EQ(hangUpAndWait(), namesWhere(true).size());
    EXPECT_EQ(activeLinks(), namesWhere(false)) << bus.mockLog().toStdString();
}

TEST_F(DialupHangupDbusTest, ARefusedDeactivationIsSkippedSilentlyAndTheRestStillGo)
{
    startNetworkManagerWithLinks();
    // NetworkManager refuses to hang up "modem" (the first dial-up link) for this user.
    mockCall(QStringLiteral("AddMethod"),
             {kService, QStringLiteral("DeactivateConnection"), QStringLiteral("o"), QString(),
              QStringLiteral("if args[0].endswith('/modem'):\n"
                             "    raise dbus.exceptions.DBusException('Not authorized',"
                             " name='org.freedesktop.NetworkManager.PermissionDenied')\n"
                             "self.deactivate_connection(self, args[0])\n")});

    EXPECT_EQ(hangUpAndWait(), namesWhere(true).size());

    QStringList expected = namesWhere(false) << QStringLiteral("modem");
    expected.sort();
    EXPECT_EQ(activeLinks(), expected);
    QStringList tried = deactivationsTried();
    tried.sort();
    EXPECT_EQ(tried, namesWhere(true));
}

TEST_F(DialupHangupDbusTest, ABusWithoutNetworkManagerEndsWithoutWaitingForTheBudget)
{
    EXPECT_EQ(hangUpAndWait(std::chrono::minutes(1)), 0);
}

TEST_F(DialupHangupDbusTest, ANetworkManagerThatNeverAnswersIsLeftAtTheBudget)
{
    ASSERT_TRUE(bus.startSilentService(kService)) << bus.failure().toStdString();
    EXPECT_EQ(hangUpAndWait(std::chrono::milliseconds(300)), 0);
}

TEST_F(DialupHangupDbusTest, HangUpsThatHangShareOneBudget)
{
    startNetworkManagerWithLinks();
    mockCall(QStringLiteral("AddMethod"), {kService, QStringLiteral("DeactivateConnection"), QStringLiteral("o"),
                                           QString(), QStringLiteral("time.sleep(3)")});
    EXPECT_NE(hangUpAndWait(std::chrono::milliseconds(400)), -1);
}

TEST_F(DialupHangupDbusTest, ARequestDuringAHangUpStartsOneMoreAfterIt)
{
    startNetworkManagerWithLinks();
    DialupHangup hangup(bus.connection(), QStringList{});
    QSignalSpy finished(&hangup, &DialupHangup::finished);

    hangup.hangUpAll();
    hangup.hangUpAll();
    hangup.hangUpAll();

    ASSERT_TRUE(QTest::qWaitFor([&finished] { return finished.size() == 2; }, 10000));
    EXPECT_EQ(finished.at(0).constFirst().toInt(), namesWhere(true).size());
    EXPECT_EQ(finished.at(1).constFirst().toInt(), 0);
}

TEST(DialupHangupWithoutBusTest, NoBusAtAllIsSilent)
{
    QDBusConnection none = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                         QStringLiteral("no-bus"));
    ASSERT_FALSE(none.isConnected());
    static QStringList printed;
    printed.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) { printed << text; });
    DialupHangup hangup(none, QStringList{}, std::chrono::minutes(1));
    QSignalSpy finished(&hangup, &DialupHangup::finished);
    hangup.hangUpAll();
    const bool ended = finished.wait(10000);
    qInstallMessageHandler(previous);
    EXPECT_TRUE(ended) << "waited for a bus that is not there";
    EXPECT_EQ(printed, QStringList{}) << "a failing hang-up says nothing";
}

} // namespace
} // namespace kingyo
