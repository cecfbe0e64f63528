#pragma once
#include <QMetaObject>
#include <QObject>
#include <chrono>
#include <functional>
#include <memory>

class QThread;

namespace kingyo {

// Runs blocking file work (the seen-ID stores, read whole and synced to disk) on a
// thread of its own, one job after the other, and hands each result back to the thread
// that made this object, through its event loop, so the fish keeps swimming meanwhile.
class MailWorker : public QObject {
public:
    explicit MailWorker(QObject *parent = nullptr);
    // Stops the thread (as stop() without a last job) unless that was done already.
    ~MailWorker() override;

    // work() runs on the worker thread; done(result) then runs on this object's thread,
    // unless this object is gone by then. After stop() nothing runs any more.
    template <typename Work, typename Done>
    void run(Work work, Done done)
    {
        QMetaObject::invokeMethod(
            jobs_.get(),
            [this, work = std::move(work), done = std::move(done)]() mutable {
                auto result = work();
                QMetaObject::invokeMethod(
                    this, [done = std::move(done), result = std::move(result)]() mutable { done(std::move(result)); },
                    Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    }

    // Lets the job under way end, runs last() (when given) on the worker thread, and
    // waits for the thread at most `wait`. False when it is still busy then: the thread
    // is left to the process's end (destroying a running thread would abort).
    bool stop(std::function<void()> last, std::chrono::milliseconds wait);

private:
    QThread *thread_;
    std::unique_ptr<QObject> jobs_; // lives on the worker thread; jobs run through it
    bool stopped_ = false;
    bool stoppedCleanly_ = false;
};

} // namespace kingyo
