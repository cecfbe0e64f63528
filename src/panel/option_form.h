#pragma once
#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace kingyo {

class SettingsModel;

// The server dialog: SMTP and POP3 server names, mail address and APOP, filled from the
// live settings when it loads; OK copies them back and rewrites the server file.
class OptionForm : public QWidget {
    Q_OBJECT
public:
    explicit OptionForm(SettingsModel &settings, QWidget *parent = nullptr);

signals:
    void accepted(); // OK: the server in use changed

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void accept();

    SettingsModel &settings_;
    QLineEdit *smtpText_;
    QLineEdit *pop3Text_;
    QLineEdit *mailText_;
    QCheckBox *apopCheck_;
    QPushButton *okCommand_;
    QPushButton *cancelCommand_;
};

} // namespace kingyo
