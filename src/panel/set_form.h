#pragma once
#include <QWidget>

class QCheckBox;

namespace kingyo {

struct AppContext;

// The settings window: opens the account and server dialogs and holds the hang-up
// option in its check box, loaded from the option file and stored on every close.
class SetForm : public QWidget {
    Q_OBJECT
public:
    explicit SetForm(AppContext &context, QWidget *parent = nullptr);

    // Ticked: every mail check hangs up the dial-up connections afterwards.
    QCheckBox *check1() const { return check1_; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    AppContext &context_;
    QCheckBox *check1_;
};

} // namespace kingyo
