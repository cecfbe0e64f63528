#include "mail/mail_run_rules.h"

#include <chrono>

namespace kingyo {

void MailRunRules::begin(Origin origin, Counting counting)
{
    origin_ = origin;
    counting_ = counting;
    failedThisRun_ = false;
}

bool MailRunRules::noteCount(const QString &mailbox, int count)
{
    if (mailbox != toldMailbox_) {
        toldMailbox_ = mailbox;
        toldCounting_ = Counting::Waiting;
        told_ = 0;
    }
    bool news = count > told_;
    if (toldCounting_ == Counting::NewOnly)
        news = counting_ == Counting::NewOnly && count > 0;
    toldCounting_ = counting_;
    told_ = count;
    return news;
}

bool MailRunRules::showError()
{
    const bool show = origin_ == Origin::Click || !inFailureStreak_;
    failedThisRun_ = true;
    inFailureStreak_ = true;
    return show;
}

void MailRunRules::end()
{
    if (!failedThisRun_)
        inFailureStreak_ = false;
}

PeriodicMailCheck::PeriodicMailCheck(std::function<void()> run, QObject *parent)
    : QObject(parent), run_(std::move(run))
{
    // Coarse: a minute's check may come a little late, and the system may batch the wake-ups.
    timer_.setTimerType(Qt::VeryCoarseTimer);
    connect(&timer_, &QTimer::timeout, this, &PeriodicMailCheck::tick);
}

void PeriodicMailCheck::setIntervalMinutes(int minutes)
{
    minutes_ = std::max(minutes, 0);
    if (minutes_ == 0) {
        timer_.stop();
        return;
    }
    timer_.start(std::chrono::minutes(minutes_));
}

void PeriodicMailCheck::tick()
{
    if (minutes_ > 0)
        run_();
}

} // namespace kingyo
