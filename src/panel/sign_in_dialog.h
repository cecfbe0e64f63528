#pragma once
#include "base/twips.h"
#include "settings/sign_in.h"

#include <QDialog>
#include <QMap>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kingyo {

// The browser sign-in dialog: the provider, the account's mail address and the client
// the user registered with the provider. A known provider's addresses and scope are its
// own and shown greyed; その他 takes them typed. サインイン is enabled only while the entries
// make a sign-in that may be tried, and a refused address says why in the status line.
// Switching providers keeps what was typed for each one's client. While it waits, the
// address the browser was sent to is shown, selectable, with a button that copies it, for
// a browser that did not open or is wanted elsewhere.
class SignInDialog : public QDialog { // objectName "SignInDialog"
    Q_OBJECT
public:
    explicit SignInDialog(QWidget *parent = nullptr);

    // Fills the rows and shows the dialog modeless. current: the account's sign-in, or
    // knownSignIn(Google) (say) for an account that has none yet; a known provider's
    // client left empty takes the one built in.
    void showFor(const SignIn &current, const QString &mailAddress);
    // The browser is open: says so, the rows and サインイン greyed, キャンセル stays. The
    // dialog enters it by itself when サインイン is pressed, before signInRequested.
    void showWaiting();
    // While waiting: the authorization address, shown to be opened by hand; when the
    // browser could not be opened, the status line says so in red and the wait goes on.
    void showAuthorizationAddress(const QUrl &address, bool browserOpened);
    void showFailure(const QString &sentence); // back to editable, the sentence shown in the dialog

    // キャンセル, Esc or the close box while waiting emits cancelled() and closes. The
    // program closing the dialog itself (close(), hide(), accept(): the sign-in ended)
    // emits nothing.
    void reject() override;

signals:
    // サインイン: the entries, trimmed; a known provider's own addresses and scope.
    void signInRequested(const kingyo::SignIn &signIn, const QString &mailAddress);
    void cancelled();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QLineEdit *addRow(const char *objectName, const QString &label);
    void layOut();
    void fillFor(SignIn::Provider provider);
    SignIn::Provider provider() const;
    SignIn typed() const; // the sign-in the rows make now
    // Why the typed addresses cannot be used, empty when they can (or are still blank).
    QString refusal() const;
    // Enables what may be edited and サインイン when the entries are usable; the status
    // line says the browser is waiting, why an address is refused, or the last failure.
    void showEntriesState();
    void setStatus(const QString &text, const QColor &colour);
    void requestSignIn();
    bool waiting() const { return stage_ != Stage::Editing; }

    QComboBox *providerCombo_;
    QLineEdit *addressText_;
    QLineEdit *clientIdText_;
    QLineEdit *clientSecretText_;
    QLineEdit *authorizationUrlText_;
    QLineEdit *tokenUrlText_;
    QLineEdit *scopeText_;
    TwipsScale scale_;
    QList<QPair<QLabel *, QWidget *>> rows_; // label and entry, top to bottom
    QLabel *status_;
    QLineEdit *addressShown_;
    QPushButton *copyCommand_;
    QPushButton *okCommand_;
    QPushButton *cancelCommand_;
    QMap<SignIn::Provider, SignIn> typedFor_; // each provider's entries, kept while another is shown
    SignIn::Provider shown_ = SignIn::Provider::Google;
    QString failure_;
    enum class Stage { Editing, Waiting, BrowserNotOpened } stage_ = Stage::Editing;
    QUrl address_; // the authorization address, once known while waiting
};

} // namespace kingyo
