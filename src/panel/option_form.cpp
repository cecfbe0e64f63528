#include "panel/option_form.h"

#include "panel/form_layout.h"
#include "panel/not_stored_box.h"
#include "settings/settings_model.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kingyo {

OptionForm::OptionForm(SettingsModel &settings, QWidget *parent) : QWidget(parent), settings_(settings)
{
    const TwipsScale scale = TwipsScale::of(screen());
    form::setUpWindow(this, "OptionForm", QStringLiteral("サーバー"), scale, 2910, 2970, Qt::WindowStaysOnTopHint);

    auto *smtpLabel = form::place<QLabel>(this, "Label1", {120, 120, 1575, 195}, scale);
    smtpLabel->setText(QStringLiteral("SMTPサーバー名(&S)"));
    smtpText_ = form::place<QLineEdit>(this, "SmtpText", {120, 360, 2652, 264}, scale);
    auto *pop3Label = form::place<QLabel>(this, "Label2", {120, 720, 1635, 195}, scale);
    pop3Label->setText(QStringLiteral("POP3サーバー名(&P)"));
    pop3Text_ = form::place<QLineEdit>(this, "Pop3Text", {120, 960, 2652, 264}, scale);
    auto *mailLabel = form::place<QLabel>(this, "Label3", {120, 1320, 1635, 195}, scale);
    mailLabel->setText(QStringLiteral("メールアドレス(&M)"));
    mailText_ = form::place<QLineEdit>(this, "MailText", {120, 1560, 2652, 264}, scale);
    apopCheck_ = form::place<QCheckBox>(this, "ApopCheck", {480, 2040, 2172, 252}, scale);
    apopCheck_->setText(QStringLiteral("APOP を使用する(&A)"));
    okCommand_ = form::place<QPushButton>(this, "OkCommand", {660, 2520, 972, 372}, scale);
    okCommand_->setText(QStringLiteral("設定"));
    cancelCommand_ = form::place<QPushButton>(this, "CancelCommand", {1860, 2520, 912, 372}, scale);
    cancelCommand_->setText(QStringLiteral("中止"));

    for (QWidget *blueText : {static_cast<QWidget *>(smtpLabel), static_cast<QWidget *>(pop3Label),
                              static_cast<QWidget *>(mailLabel), static_cast<QWidget *>(apopCheck_)})
        form::setTextColour(blueText, form::blue());
    for (QPushButton *button : {okCommand_, cancelCommand_})
        button->setAutoDefault(true); // Enter on a focused button presses that button

    // Focus order: MailText, CancelCommand, OkCommand, ApopCheck, Pop3Text, SmtpText.
    setTabOrder(mailText_, cancelCommand_);
    setTabOrder(cancelCommand_, okCommand_);
    setTabOrder(okCommand_, apopCheck_);
    setTabOrder(apopCheck_, pop3Text_);
    setTabOrder(pop3Text_, smtpText_);
    // Each label's access key goes to the box it names; the labels come last in the
    // focus order, so following that order would send all three to the mail address.
    smtpLabel->setBuddy(smtpText_);
    pop3Label->setBuddy(pop3Text_);
    mailLabel->setBuddy(mailText_);
    mailText_->setFocus();

    connect(okCommand_, &QPushButton::clicked, this, &OptionForm::accept);
    connect(cancelCommand_, &QPushButton::clicked, this, &QWidget::close);

    const SharedState &state = settings_.state();
    smtpText_->setText(state.smtpServer);
    pop3Text_->setText(state.pop3Server);
    mailText_->setText(state.mailAddress);
    apopCheck_->setChecked(state.apopFlag != 0); // any non-zero flag logs in with APOP
    form::centreOnScreen(this);
}

void OptionForm::keyPressEvent(QKeyEvent *event)
{
    // Esc cancels; there is no default button, so Enter in a text box does nothing.
    if (event->key() == Qt::Key_Escape)
        cancelCommand_->click();
    else
        QWidget::keyPressEvent(event);
}

void OptionForm::accept()
{
    const WriteResult stored =
        settings_.storeServer(smtpText_->text(), pop3Text_->text(), mailText_->text(), apopCheck_->isChecked());
    if (!stored) {
        showNotStoredBox(this, stored.failure); // open, with what the user typed
        return;
    }
    close();
    emit accepted();
}

} // namespace kingyo
