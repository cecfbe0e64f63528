#pragma once
#include <QWidget>

class QCheckBox;

namespace kingyo {

class SettingsModel;
struct TwipsScale;

// The settings window: asks for the account and server dialogs and holds the hang-up
// option in its check box, loaded from the option file and stored on every close. A
// tick counts at once, before it is stored. Below its rule, one option per row: start
// at login, stored in its autostart entry the moment the box changes.
class SetForm : public QWidget {
    Q_OBJECT
public:
    explicit SetForm(SettingsModel &settings, QWidget *parent = nullptr);

    // Ticked: every mail check hangs up the dial-up connections afterwards.
    QCheckBox *check1() const { return check1_; }
    // Ticked: an autostart entry starts kingyo when the user logs in.
    QCheckBox *autostartCheck() const { return autostartCheck_; }

signals:
    void accountDialogRequested(); // ID/PASS
    void serverDialogRequested();  // POPサーバー

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QCheckBox *addAutostartRow();
    // Stacks the rows below the rule, top to bottom, and sizes the window to hold them;
    // everything above the rule keeps its place. A new option row joins the list here.
    void layOutRowsBelowRule(const QList<QWidget *> &rows, const TwipsScale &scale);
    void storeAutostart(bool ticked);

    SettingsModel &settings_;
    QCheckBox *check1_;
    QCheckBox *autostartCheck_;
};

} // namespace kingyo
