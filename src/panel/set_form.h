#pragma once
#include <QWidget>

class QCheckBox;

namespace kingyo {

class SettingsModel;

// The settings window: asks for the account and server dialogs and holds the hang-up
// option in its check box, loaded from the option file and stored on every close. A
// tick counts at once, before it is stored.
class SetForm : public QWidget {
    Q_OBJECT
public:
    explicit SetForm(SettingsModel &settings, QWidget *parent = nullptr);

    // Ticked: every mail check hangs up the dial-up connections afterwards.
    QCheckBox *check1() const { return check1_; }

signals:
    void accountDialogRequested(); // ID/PASS
    void serverDialogRequested();  // POPサーバー

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    SettingsModel &settings_;
    QCheckBox *check1_;
};

} // namespace kingyo
