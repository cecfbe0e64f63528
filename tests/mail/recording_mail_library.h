#pragma once
#include "mail/mail_library.h"
#include "mail/qt_printers.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace kingyo::test {

// A mail library that writes every call into a shared log and answers from a script.
class RecordingMailLibrary final : public MailLibrary {
public:
    explicit RecordingMailLibrary(QStringList &log) : log_(log) {}

    int connectResult = 7;
    int authenticateResult = 0;
    QMap<int, std::int64_t> sizes; // message -> size; missing ones report 100
    MailFailure failure{MailProblem::LoginRejected, {}, QStringLiteral("no such user")};

    void initialize() override { log_ << QStringLiteral("initialize"); }
    void setOption(int option, int value) override { log_ << QStringLiteral("setOption %1 %2").arg(option).arg(value); }
    QList<QDeadlineTimer> connectDeadlines; // one per connect, in order
    void connect(const QString &server, QDeadlineTimer deadline, Answer answer) override
    {
        log_ << QStringLiteral("connect %1").arg(server);
        connectDeadlines << deadline;
        later([answer, result = connectResult] { answer(result); });
    }
    void authenticate(int handle, const QString &user, const MailSecret &secret, bool apop, Use, Answer answer) override
    {
        log_ << QStringLiteral("authenticate %1 %2 %3 %4").arg(handle).arg(user, shown(secret), apop ? "apop" : "user");
        later([answer, result = authenticateResult] { answer(result); });
    }
    int mailStatus(int handle, int message) override
    {
        log_ << QStringLiteral("status %1 %2").arg(handle).arg(message);
        return 0;
    }
    std::int64_t mailSize(int handle, int message) override
    {
        log_ << QStringLiteral("size %1 %2").arg(handle).arg(message);
        return sizes.value(message, 100);
    }
    void fetchMail(int handle, int message, Answer answer) override
    {
        log_ << QStringLiteral("fetch %1 %2").arg(handle).arg(message);
        later([answer] { answer(0); });
    }
    // A server that keeps no unique IDs unless the test gives some.
    std::optional<std::vector<std::string>> ids;
    void messageIds(int handle, IdsAnswer answer) override
    {
        log_ << QStringLiteral("uidl %1").arg(handle);
        later([answer, ids = ids] {
            answer(ids ? static_cast<int>(ids->size()) : -8, ids.value_or(std::vector<std::string>{}));
        });
    }
    QMap<int, int> headerResults; // message -> result; missing ones give a header block
    void messageHeaders(int handle, int message, HeadersAnswer answer) override
    {
        log_ << QStringLiteral("headers %1 %2").arg(handle).arg(message);
        later([answer, message, result = headerResults.value(message, 0)] {
            answer(result, "From: someone@example.test\r\nSubject: message " + QByteArray::number(message) + "\r\n\r\n");
        });
    }
    Counting countingKind = Counting::Waiting;
    Counting counting(int) const override { return countingKind; }
    UnreadCount unread; // what countUnread() answers
    void countUnread(int handle, const QString &user, const MailSecret &secret, std::optional<UnreadMark> since,
                     int summaries, UnreadAnswer answer) override
    {
        const QString mark = since ? QStringLiteral("%1/%2").arg(since->uidValidity).arg(since->uidNext)
                                   : QStringLiteral("none");
        log_ << QStringLiteral("unread %1 %2 %3 since %4, %5 newest").arg(handle).arg(user, shown(secret), mark).arg(summaries);
        later([answer, unread = unread] { answer(unread); });
    }
    MailFailure lastFailure() const override
    {
        log_ << QStringLiteral("lastFailure");
        return failure;
    }
    void close(int handle) override { log_ << QStringLiteral("close %1").arg(handle); }
    void end() override { log_ << QStringLiteral("end"); }
    void abandon() override
    {
        log_ << QStringLiteral("abandon");
        answers_ = std::make_unique<QObject>(); // the answers owed go with the old one
    }

private:
    // A password as it is; an access token marked so.
    static QString shown(const MailSecret &secret)
    {
        return secret.isAccessToken() ? QStringLiteral("token:") + secret.text() : secret.text();
    }
    // Answers from the event loop, as the real library does.
    void later(std::function<void()> answer)
    {
        QMetaObject::invokeMethod(answers_.get(), std::move(answer), Qt::QueuedConnection);
    }

    QStringList &log_;
    std::unique_ptr<QObject> answers_ = std::make_unique<QObject>();
};

} // namespace kingyo::test
