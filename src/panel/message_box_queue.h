#pragma once
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>

namespace kingyo {

// Shows message boxes one at a time, none of them modal, so that nothing waits for the
// user: whatever posted a box goes on at once. A box appears from the event loop, never
// within the call that posted it; one posted while another is open waits until that one
// is closed; one that says what a box open or waiting says already is dropped.
class MessageBoxQueue : public QObject {
public:
    using Answer = std::function<void(QMessageBox::StandardButton chosen)>;

    explicit MessageBoxQueue(QObject *parent = nullptr) : QObject(parent) {}
    ~MessageBoxQueue() override; // closes the open box and drops the waiting ones unanswered

    // Takes the box (deleted once closed); answer, if given, hears which button closed it.
    void post(QMessageBox *box, Answer answer = {});
    // The box on screen, if any.
    QMessageBox *open() const { return open_.data(); }
    // No box on screen and none waiting.
    bool isEmpty() const { return !open_ && waiting_.empty(); }

private:
    struct Waiting {
        QMessageBox *box;
        Answer answer;
    };
    bool alreadySaid(const QMessageBox &box) const;
    void showNextLater();
    void showNext();

    std::deque<Waiting> waiting_;
    QPointer<QMessageBox> open_;
    bool showPosted_ = false;
};

} // namespace kingyo
