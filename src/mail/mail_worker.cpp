#include "mail/mail_worker.h"

#include <QDeadlineTimer>
#include <QThread>

namespace kingyo {

MailWorker::MailWorker(QObject *parent) : QObject(parent), thread_(new QThread), jobs_(std::make_unique<QObject>())
{
    thread_->setObjectName(QStringLiteral("mail"));
    jobs_->moveToThread(thread_);
    thread_->start();
}

MailWorker::~MailWorker()
{
    if (!stopped_)
        stop(nullptr, std::chrono::seconds(1));
}

bool MailWorker::stop(std::function<void()> last, std::chrono::milliseconds wait)
{
    if (stopped_)
        return stoppedCleanly_;
    stopped_ = true;
    QMetaObject::invokeMethod(
        jobs_.get(),
        [last = std::move(last)] {
            if (last)
                last();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (!thread_->wait(QDeadlineTimer(wait))) {
        (void)jobs_.release(); // still in use on the busy thread
        thread_ = nullptr;     // likewise; the process's end takes both
        return false;
    }
    jobs_.reset();
    delete thread_;
    thread_ = nullptr;
    stoppedCleanly_ = true;
    return true;
}

} // namespace kingyo
