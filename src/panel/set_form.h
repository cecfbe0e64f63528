#pragma once
#include "settings/password_keeper.h"

#include <QWidget>

class QCheckBox;
class QPushButton;
class QSpinBox;

namespace kingyo {

class SettingsModel;
struct TwipsScale;

// The settings window: asks for the account and server dialogs and holds the hang-up
// option in its check box, loaded from the option file and stored on every close. A
// tick counts at once, before it is stored. Below its rule, one option per row: the
// mail watcher's (count only new mail, minutes between checks by themselves, tell the
// desktop), which count at once and are stored with the hang-up option; start at
// login, stored in its autostart entry the moment the box changes; and the password in
// the keyring, moved there or back the moment the box changes; last, the button that
// asks for the browser sign-in dialog.
class SetForm : public QWidget {
    Q_OBJECT
public:
    explicit SetForm(SettingsModel &settings, QWidget *parent = nullptr);

    // Ticked: every mail check hangs up the dial-up connections afterwards.
    QCheckBox *check1() const { return check1_; }
    // Ticked: an autostart entry starts kingyo when the user logs in.
    QCheckBox *autostartCheck() const { return autostartCheck_; }
    QCheckBox *newOnlyCheck() const { return newOnlyCheck_; }
    QSpinBox *intervalSpin() const { return intervalSpin_; } // 0: no checks by themselves
    QCheckBox *notifyCheck() const { return notifyCheck_; }  // only counts with an interval
    // Ticked: the password is kept in the keyring. Greyed while the keyring cannot be
    // used or a move is under way.
    QCheckBox *keyringCheck() const { return keyringCheck_; }

signals:
    void accountDialogRequested(); // ID/PASS
    void serverDialogRequested();  // POPサーバー
    void signInDialogRequested();  // ブラウザでサインイン…
    void intervalChanged(int minutes);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QCheckBox *addOptionBox(const char *objectName, const QString &text);
    QCheckBox *addAutostartRow();
    void addKeyringRow();
    // The box as the keeper stands: ticked when the password is (or is to be) in the
    // keyring, greyed with the reason when it cannot be moved now.
    void showKeyringState();
    void tellMoveFailed(PasswordKeeper::MoveFailure failure);
    // The button at its natural width, at the row's left.
    QWidget *addSignInRow();
    QList<QWidget *> addMailWatchRows();
    // Greyed without an interval: only checks by themselves notify.
    void enableNotifyRow(bool hasInterval);
    void showTypedZeroAsNone();
    void applyMailWatch();
    // Stacks the rows below the rule, top to bottom, and sizes the window to hold them
    // (wider too, when a row's text needs it); everything above the rule keeps its place.
    // A new option row joins the list here.
    void layOutRowsBelowRule(const QList<QWidget *> &rows, const TwipsScale &scale);
    void storeAutostart(bool ticked);

    SettingsModel &settings_;
    QCheckBox *check1_;
    QCheckBox *autostartCheck_;
    QCheckBox *newOnlyCheck_ = nullptr;
    QSpinBox *intervalSpin_ = nullptr;
    QCheckBox *notifyCheck_ = nullptr;
    QCheckBox *keyringCheck_ = nullptr;
    QPushButton *signInButton_ = nullptr;
};

} // namespace kingyo
