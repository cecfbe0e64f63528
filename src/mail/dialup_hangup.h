#pragma once
#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <chrono>

namespace kingyo {

// Hangs up every active dial-up link, silently: the dial-up connections
// NetworkManager manages (mobile broadband, PPPoE, DSL, Bluetooth DUN), then the
// pppd daemons it does not. hangUpAll() only sends the first question and returns;
// the answers come through the event loop. All D-Bus calls share one short time
// budget: what is still unanswered then is dropped, so a missing or stuck
// NetworkManager costs the window that asked nothing.
class DialupHangup : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDefaultBudget{1500};

    explicit DialupHangup(QDBusConnection bus,
                          QStringList runDirs = {QStringLiteral("/run"), QStringLiteral("/var/run")},
                          std::chrono::milliseconds budget = kDefaultBudget, QObject *parent = nullptr);

    // One hang-up at a time: a request while one runs makes one more run start when it
    // ends, so a link that came up meanwhile goes too. finished() is never emitted
    // from inside this call.
    void hangUpAll();

signals:
    // One per run: how many links were asked to hang up (whether they obeyed or not).
    void finished(int linksAsked);

private:
    class Run;
    void startRun();
    void runEnded(int linksAsked);

    QDBusConnection bus_;
    QStringList runDirs_;
    std::chrono::milliseconds budget_;
    Run *run_ = nullptr; // a child, while a hang-up is under way
    bool requestedAgain_ = false;
};

} // namespace kingyo
