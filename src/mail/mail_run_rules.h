#pragma once
#include <QObject>
#include <QTimer>
#include <functional>

namespace kingyo {

// What a mail check shows, by who started it. A click shows everything. A check the
// timer started shows its notice only when it found mail, and then without taking the
// keyboard from the program in use, its failure only when it is the first of a streak
// (until a check succeeds), never opens the account dialog or asks a question, and
// tells the desktop of the mail it found.
class MailRunRules {
public:
    enum class Origin { Click, Timer };

    void begin(Origin origin);
    // A failure of the run under way: whether its box is shown.
    bool showError();
    bool showNotice(int count) const { return origin_ == Origin::Click || count > 0; }
    bool showAccountDialog() const { return origin_ == Origin::Click; }
    // Whether the check may stop for a modal question; nobody may be there to answer.
    bool mayAsk() const { return origin_ == Origin::Click; }
    // Whether the notice takes the keyboard focus; the user who clicked is waiting for it.
    bool activateNotice() const { return origin_ == Origin::Click; }
    // Whether the desktop is told of the mail found; someone who clicked is looking.
    bool notifyDesktop(int count) const { return origin_ == Origin::Timer && count > 0; }
    // Whether a failure only the user can mend (a sign-in to renew) is told to the desktop
    // too, beside its box: nobody may be looking at the bowl.
    bool notifyDesktopOfFailure() const { return origin_ == Origin::Timer; }
    // The run is over; one without a failure ends the streak.
    void end();

private:
    Origin origin_ = Origin::Click;
    bool failedThisRun_ = false;
    bool inFailureStreak_ = false;
};

// Runs a check every so many minutes; tick() is what the timer calls.
class PeriodicMailCheck : public QObject {
public:
    explicit PeriodicMailCheck(std::function<void()> run, QObject *parent = nullptr);

    // 0 stops the timer; a new interval starts counting afresh.
    void setIntervalMinutes(int minutes);
    int intervalMinutes() const { return minutes_; }
    bool isActive() const { return timer_.isActive(); }
    void tick();

private:
    std::function<void()> run_;
    QTimer timer_;
    int minutes_ = 0;
};

} // namespace kingyo
