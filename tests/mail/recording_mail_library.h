#pragma once
#include "mail/mail_library.h"
#include "mail/qt_printers.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
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
    int connect(const QString &server, QDeadlineTimer deadline) override
    {
        log_ << QStringLiteral("connect %1").arg(server);
        connectDeadlines << deadline;
        return connectResult;
    }
    int authenticate(int handle, const QString &user, const QString &password, bool apop, Use) override
    {
        log_ << QStringLiteral("authenticate %1 %2 %3 %4").arg(handle).arg(user, password, apop ? "apop" : "user");
        return authenticateResult;
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
    int fetchMail(int handle, int message) override
    {
        log_ << QStringLiteral("fetch %1 %2").arg(handle).arg(message);
        return 0;
    }
    // A server that keeps no unique IDs unless the test gives some.
    std::optional<std::vector<std::string>> ids;
    int messageIds(int handle, std::vector<std::string> *out) override
    {
        log_ << QStringLiteral("uidl %1").arg(handle);
        *out = ids.value_or(std::vector<std::string>{});
        return ids ? static_cast<int>(ids->size()) : -8;
    }
    QMap<int, int> headerResults; // message -> result; missing ones give a header block
    int messageHeaders(int handle, int message, QByteArray *headers) override
    {
        log_ << QStringLiteral("headers %1 %2").arg(handle).arg(message);
        *headers = "From: someone@example.test\r\nSubject: message " + QByteArray::number(message) + "\r\n\r\n";
        return headerResults.value(message, 0);
    }
    MailFailure lastFailure() const override
    {
        log_ << QStringLiteral("lastFailure");
        return failure;
    }
    void close(int handle) override { log_ << QStringLiteral("close %1").arg(handle); }
    void end() override { log_ << QStringLiteral("end"); }
    void abandon() override { log_ << QStringLiteral("abandon"); }

private:
    QStringList &log_;
};

} // namespace kingyo::test
