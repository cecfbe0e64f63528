#pragma once
#include "mail/mail_headers.h"

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

namespace kingyo {

// Tells the desktop that new mail came, through the freedesktop notification service on
// the session bus: "新着メール N 通" with the program's icon, and in its body who sent the
// newest messages and what about; a newer one replaces the
// one still showing. Nothing here waits: each call to the service has its own short
// timeout and runs in the background, so a missing or stuck service costs only the
// message.
class NewMailNotification : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kCallTimeout{2000};

    // `bus` gives the session bus, asked for at the first notification only, so a kingyo
    // that never notifies never connects. `icon` is the program's icon, sent along for a
    // copy that is not installed (an installed one is also found by its icon name).
    NewMailNotification(std::function<QDBusConnection()> bus, QImage icon, QObject *parent = nullptr);

    static QString summary(int count);

    // Sends the notification for `count` (> 0) new messages. Its body has a
    // "差出人 — 件名" line for each of `newest` (some of them, newest first), then
    // "ほか N 通" for the rest. `unanswered`, if given, is called when no service took
    // it (no bus, no service, or no answer in time), so the caller can say it otherwise.
    void show(int count, const QList<MailSummary> &newest = {}, std::function<void()> unanswered = {});
    // Tells the desktop why checks by themselves cannot go on until the user acts (a
    // sign-in to renew, say): the summary and the sentence, with nothing to choose. It
    // stands beside a mail notification, never replacing one.
    void showProblem(const QString &summary, const QString &sentence);
    // The id the service gave the notification showing now; 0 when none is.
    uint shownId() const { return shownId_; }

signals:
    // The user chose the notification itself (its default action); `count` is what it said.
    void activated(int count);

private slots:
    void onActionInvoked(uint id, const QString &action);
    void onClosed(uint id, uint reason);

private:
    QDBusConnection &connectedBus(); // on first use, with the service's signals followed
    // Sends one notification; `answered` gets the id the service gave it, `unanswered`
    // (if any) hears that no service took it.
    void notify(uint replaces, const QString &summary, const QString &body, const QStringList &actions,
                const QString &category, std::function<void(uint id)> answered,
                std::function<void()> unanswered = {});

    std::function<QDBusConnection()> busFactory_;
    std::optional<QDBusConnection> bus_;
    QImage icon_;
    uint shownId_ = 0;
    int shownCount_ = 0;
};

} // namespace kingyo
