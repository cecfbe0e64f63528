#include "panel/id_pass_form.h"

#include "panel/form_layout.h"
#include "panel/not_stored_box.h"
#include "settings/settings_model.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kingyo {

IdPassForm::IdPassForm(SettingsModel &settings, QWidget *parent) : QWidget(parent), settings_(settings)
{
    const TwipsScale scale = TwipsScale::of(screen());
    form::setUpWindow(this, "IdPassForm", QStringLiteral("ID,PASS"), scale, 2850, 1770);

    auto *label1 = form::place<QLabel>(this, "Label1", {120, 180, 675, 255}, scale);
    label1->setText(QStringLiteral("ID"));
    idText_ = form::place<QLineEdit>(this, "IdText", {960, 120, 1632, 264}, scale);
    auto *passwordLabel = form::place<QLabel>(this, "Label2(0)", {120, 600, 795, 255}, scale);
    passwordLabel->setText(QStringLiteral("Password"));
    passText_ = form::place<QLineEdit>(this, "PassText", {960, 600, 1632, 264}, scale);
    passText_->setEchoMode(QLineEdit::Password);
    passText_->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // one "*" per character
    check1_ = form::place<QCheckBox>(this, "Check1", {420, 1020, 255, 255}, scale);
    auto *saveLabel = form::place<QLabel>(this, "Label2(1)", {780, 1020, 1875, 255}, scale);
    saveLabel->setText(QStringLiteral("IDパスワードを保存する"));
    form::setTextColour(saveLabel, form::blue());
    check1_->setAccessibleName(saveLabel->text());
    okCommand_ = form::place<QPushButton>(this, "OKCommand", {900, 1380, 852, 312}, scale);
    okCommand_->setText(QStringLiteral("OK"));
    cancelCommand_ = form::place<QPushButton>(this, "CancelCommand", {1860, 1380, 852, 312}, scale);
    cancelCommand_->setText(QStringLiteral("Cancel"));

    for (QPushButton *button : {okCommand_, cancelCommand_})
        button->setAutoDefault(true); // Enter on a focused button presses that button
    setTabOrder(check1_, cancelCommand_);
    setTabOrder(cancelCommand_, okCommand_);
    setTabOrder(okCommand_, passText_);
    setTabOrder(passText_, idText_);
    check1_->setFocus();

    connect(okCommand_, &QPushButton::clicked, this, &IdPassForm::accept);
    connect(cancelCommand_, &QPushButton::clicked, this, &QWidget::close);

    const Account stored = settings_.passwords().stored();
    idText_->setText(stored.userId);
    passText_->setText(stored.password);
    // A password kept in the keyring arrives once the keyring answers.
    connect(&settings_.passwords(), &PasswordKeeper::passwordChanged, this, [this] {
        if (passText_->text().isEmpty() && !passText_->isModified())
            passText_->setText(settings_.passwords().stored().password);
    });
}

void IdPassForm::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        okCommand_->click();
        break;
    case Qt::Key_Escape:
        cancelCommand_->click();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void IdPassForm::accept()
{
    const Account account{idText_->text(), passText_->text()};
    // Stays open, with what the user typed, when nothing could be stored.
    if (const WriteResult stored = settings_.confirmAccount(account, check1_->isChecked()); !stored)
        return showNotStored(account, stored.failure);
    close();
    emit accepted();
}

void IdPassForm::showNotStored(const Account &account, const QString &failure)
{
    idText_->setText(account.userId);
    passText_->setText(account.password);
    check1_->setChecked(true); // only a save can fail
    showNotStoredBox(this, failure);
}

} // namespace kingyo
