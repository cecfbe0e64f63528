#pragma once
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QStringList>
#include <chrono>

namespace kingyo {

// Hangs up every active dial-up link, silently: the dial-up connections
// NetworkManager manages (mobile broadband, PPPoE, DSL, Bluetooth DUN), then the
// pppd daemons it does not. All D-Bus calls share one short time budget, so a
// missing or stuck NetworkManager never stalls the window that asked.
class DialupHangup {
public:
    static constexpr std::chrono::milliseconds kDefaultBudget{1500};

    explicit DialupHangup(QDBusConnection bus,
                          QStringList runDirs = {QStringLiteral("/run"), QStringLiteral("/var/run")},
                          std::chrono::milliseconds budget = kDefaultBudget);

    void hangUpAll();

private:
    void hangUpNetworkManagerLinks(const QDeadlineTimer &deadline);
    bool isDialup(const QString &activeConnection, const QDeadlineTimer &deadline);
    void deactivate(const QString &activeConnection, const QDeadlineTimer &deadline);
    void hangUpPppDaemons();

    QDBusConnection bus_;
    QStringList runDirs_;
    std::chrono::milliseconds budget_;
};

} // namespace kingyo
