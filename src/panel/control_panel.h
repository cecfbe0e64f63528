#pragma once
#include <QWidget>

class QPushButton;

namespace kingyo {

class BowlPin;
class Clock;

// Form2: the small topmost control panel below the bowl. Four coloured buttons
// feed the fish, check the mail, open the settings and offer the home page; a
// fifth, below the visible area and reached with Tab only, hangs up dial-up
// links. While it is open it holds the bowl just above itself.
class ControlPanel : public QWidget {
    Q_OBJECT
public:
    // The load step: topmost, placed 1600 twips below and 100 twips left of the bowl,
    // which it holds above itself from then on (no bowl: the panel stays where it is).
    // Where that would leave the panel partly off its screen, the panel and the bowl
    // move together until the panel is whole, then and whenever it is moved.
    ControlPanel(QWidget *bowl, const Clock &clock, QWidget *parent = nullptr);

    QPushButton *command(int number) const; // Command1 .. Command5

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();

signals:
    void feedRequested();      // 餌
    void mailCheckRequested(); // 受信
    void settingsRequested();  // 設定
    void homePageRequested();  // HP, once the user said yes
    void hangUpRequested();    // the hidden 切断

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPushButton *addButton(int number, const QString &caption, const QRect &place);

    QPushButton *commands_[5] = {};
    BowlPin *pin_ = nullptr;
};

} // namespace kingyo
