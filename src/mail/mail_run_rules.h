#pragma once
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

namespace kingyo {

// What a mail check shows, by who started it. A click shows everything. A check the
// timer started tells only of mail beyond what the user was told already (by any check),
// and then without taking the keyboard from the program in use; its failure only when
// it is the first of a streak (until a check succeeds); it never opens the account
// dialog or asks a question, and tells the desktop of the mail it found.
class MailRunRules {
public:
    enum class Origin { Click, Timer };
    // What the run counts: every waiting (IMAP: unread) message, or only those no
    // earlier check saw.
    enum class Counting { Waiting, NewOnly };

    void begin(Origin origin, Counting counting = Counting::Waiting);
    // A failure of the run under way: whether its box is shown.
    bool showError();
    // The run found `count` (>= 0) messages in `mailbox` (its server and user): whether
    // any of them is news, that is, was not told before. Noted as told either way, since
    // a click shows every count. Counting every message, news is a count above the last
    // one; only new ones, any count above 0, except at the first such count after counts
    // of every message, which is news only above what those told. The first count of
    // every message after new-only ones is no news: those told of each as it came.
    bool noteCount(const QString &mailbox, int count);
    bool showNotice(bool news) const { return origin_ == Origin::Click || news; }
    bool showAccountDialog() const { return origin_ == Origin::Click; }
    // Whether the check may ask the user a question; nobody may be there to answer.
    bool mayAsk() const { return origin_ == Origin::Click; }
    // Whether the notice takes the keyboard focus; the user who clicked is waiting for it.
    bool activateNotice() const { return origin_ == Origin::Click; }
    // Whether the desktop is told of the mail found; someone who clicked is looking.
    bool notifyDesktop(bool news) const { return origin_ == Origin::Timer && news; }
    // Whether a failure only the user can mend (a sign-in to renew) is told to the desktop
    // too, beside its box: nobody may be looking at the bowl.
    bool notifyDesktopOfFailure() const { return origin_ == Origin::Timer; }
    // The run is over; one without a failure ends the streak.
    void end();

private:
    Origin origin_ = Origin::Click;
    Counting counting_ = Counting::Waiting;
    bool failedThisRun_ = false;
    bool inFailureStreak_ = false;
    // What the user was last told: of which mailbox, counted how, and how many.
    QString toldMailbox_;
    Counting toldCounting_ = Counting::Waiting;
    int told_ = 0;
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
