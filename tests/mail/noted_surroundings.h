#pragma once
#include "mail/mail_check.h"

#include <QList>

namespace kingyo::test {

// A mail check's surroundings that log in with a given account and note what the
// windows were asked to show.
class NotedSurroundings final : public MailCheckSurroundings {
public:
    explicit NotedSurroundings(Account account = {QStringLiteral("kingyo"), QStringLiteral("pw")})
        : account_(std::move(account))
    {
    }

    QList<MailFailure> errors;
    QList<int> notices;
    QList<QList<MailSummary>> newest; // one list per notice

    Account readAccount() override { return account_; }
    void fillAccountDialog(const Account &) override {}
    void showAccountDialog() override {}
    void showError(const MailFailure &failure) override { errors << failure; }
    void showNotice(int count, const QList<MailSummary> &summaries) override
    {
        notices << count;
        newest << summaries;
    }
    bool hangUpAfterCheck() override { return false; }
    void hangUp() override {}

private:
    Account account_;
};

} // namespace kingyo::test
