#pragma once
#include <QWidget>

class QLineEdit;

namespace kingyo {

// The notice's sentence for a run that found `count` messages (or failed with it).
QString noticeSentence(int count);


// The new-mail notice: a small topmost window, centred on the screen when it
// loads, with the run's sentence in Text1 (blue) and its count in Text2. The mail
// check writes both; a later check reuses the open window.
class MsgForm : public QWidget {
    Q_OBJECT
public:
    explicit MsgForm(QWidget *parent = nullptr);

    QLineEdit *text1() const { return text1_; }
    QLineEdit *text2() const { return text2_; }

    // What a finished mail check writes: the count and the matching sentence.
    void showResult(int count);

private:
    QLineEdit *text1_;
    QLineEdit *text2_;
};

} // namespace kingyo
