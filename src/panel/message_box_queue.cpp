#include "panel/message_box_queue.h"

#include <utility>

namespace kingyo {
namespace {

bool sameWords(const QMessageBox &a, const QMessageBox &b)
{
    return a.windowTitle() == b.windowTitle() && a.text() == b.text();
}

} // namespace

MessageBoxQueue::~MessageBoxQueue()
{
    for (const Waiting &waiting : waiting_)
        delete waiting.box;
    delete open_.data();
}

void MessageBoxQueue::post(QMessageBox *box, Answer answer)
{
    if (alreadySaid(*box)) {
        delete box;
        return;
    }
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    waiting_.push_back({box, std::move(answer)});
    showNextLater();
}

bool MessageBoxQueue::alreadySaid(const QMessageBox &box) const
{
    if (open_ && sameWords(*open_, box))
        return true;
    for (const Waiting &waiting : waiting_) {
        if (sameWords(*waiting.box, box))
            return true;
    }
    return false;
}

void MessageBoxQueue::showNextLater()
{
    if (open_ || std::exchange(showPosted_, true))
        return;
    QMetaObject::invokeMethod(this, &MessageBoxQueue::showNext, Qt::QueuedConnection);
}

void MessageBoxQueue::showNext()
{
    showPosted_ = false;
    if (open_ || waiting_.empty())
        return;
    Waiting next = std::move(waiting_.front());
    waiting_.pop_front();
    open_ = next.box;
    connect(next.box, &QDialog::finished, this, [this, answer = std::move(next.answer)](int result) {
        open_ = nullptr;
        if (answer)
            answer(QMessageBox::StandardButton(result));
        showNextLater();
    });
    next.box->show();
}

} // namespace kingyo
