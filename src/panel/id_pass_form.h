#pragma once
#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kingyo {

class SettingsModel;
struct Account;

// The account dialog: user ID and password, filled from the account file (the password
// from the keyring, when kept there, once it answers) when it loads; OK makes them the
// account in use and stores them when the save box is ticked.
class IdPassForm : public QWidget {
    Q_OBJECT
public:
    explicit IdPassForm(SettingsModel &settings, QWidget *parent = nullptr);

    QLineEdit *idText() const { return idText_; }
    QLineEdit *passText() const { return passText_; }

    // The account the user confirmed could not be stored (failure says why): it is
    // shown again, with the box saying so, for another OK once the file can be written.
    void showNotStored(const Account &account, const QString &failure);

signals:
    void accepted(); // OK: the account in use changed

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void accept();

    SettingsModel &settings_;
    QLineEdit *idText_;
    QLineEdit *passText_;
    QCheckBox *check1_;
    QPushButton *okCommand_;
    QPushButton *cancelCommand_;
};

} // namespace kingyo
