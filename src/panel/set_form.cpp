#include "panel/set_form.h"

#include "panel/form_layout.h"
#include "panel/not_stored_box.h"
#include "settings/autostart_entry.h"
#include "settings/settings_model.h"
#include "settings/settings_option.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>
#include <cstdio>

namespace kingyo {
namespace {

// In twips: the window's width and its blue rule. Rows below the rule start where the
// window ends without them, with the rule's own margin below the last; a row is as tall
// as a check box or, when it needs more (a spin box), as it asks.
constexpr float formWidth = 3120;
constexpr float ruleY = 960;
constexpr float rowsTop = 1065;
constexpr float rowLeft = 120;
constexpr float rowHeight = 285;
constexpr float rowGap = 60;
constexpr float bottomMargin = rowsTop - ruleY;

// A graphical-style button: its face is drawn in its own colour.
void setFaceColour(QPushButton *button, const QColor &colour)
{
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, colour);
    button->setPalette(palette);
}

void setBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// A click on the text puts the focus in its field, as a click on a box's text ticks the box.
class FieldLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (buddy())
            buddy()->setFocus(Qt::MouseFocusReason);
        QLabel::mousePressEvent(event);
    }
};

// A row's blue text, greyed like any other while the row is off.
void setRowTextColour(QWidget *row)
{
    const QPalette plain = row->palette();
    form::setTextColour(row, form::blue());
    QPalette palette = row->palette();
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, plain.color(QPalette::Disabled, role));
    row->setPalette(palette);
}

} // namespace

SetForm::SetForm(SettingsModel &settings, QWidget *parent) : QWidget(parent), settings_(settings)
{
    const TwipsScale scale = TwipsScale::of(screen());
    form::setUpWindow(this, "SetForm", QStringLiteral("設定"), scale, formWidth, rowsTop);

    auto *command1 = form::place<QPushButton>(this, "Command1", {120, 120, 1455, 375}, scale);
    command1->setText(QStringLiteral("ID/PASS"));
    setFaceColour(command1, form::fromBgr(0x000080FF));
    auto *command2 = form::place<QPushButton>(this, "Command2", {1560, 120, 1455, 375}, scale);
    command2->setText(QStringLiteral("POPサーバー"));
    setFaceColour(command2, form::fromBgr(0x00FF8080));
    check1_ = form::place<QCheckBox>(this, "Check1", {120, 600, 255, 255}, scale);
    setBackground(check1_, form::fromBgr(0x00C0C0C0));
    auto *label1 = form::place<QLabel>(this, "Label1", {480, 645, 2535, 255}, scale);
    label1->setText(QStringLiteral("新着がなければ接続を切断する。"));
    form::setTextColour(label1, form::blue());
    check1_->setAccessibleName(label1->text());
    // The separator is 2 pixels thick, centred on its line across the whole width.
    auto *line1 = new QFrame(this);
    line1->setObjectName(QStringLiteral("Line1"));
    line1->setGeometry(0, scale.toPixelsY(ruleY) - 1, width(), 2);
    setBackground(line1, form::blue());
    QList<QWidget *> rows = addMailWatchRows();
    autostartCheck_ = addAutostartRow();
    addKeyringRow();
    layOutRowsBelowRule(rows << autostartCheck_ << keyringCheck_ << addSignInRow(), scale);
    line1->resize(width(), line1->height()); // across the whole width, however wide the rows made it

    for (QPushButton *button : {command1, command2, signInButton_})
        button->setAutoDefault(true); // Enter on a focused button presses that button
    setTabOrder(check1_, command1);
    setTabOrder(command1, command2);
    setTabOrder(command2, newOnlyCheck_);
    setTabOrder(newOnlyCheck_, intervalSpin_);
    setTabOrder(intervalSpin_, notifyCheck_);
    setTabOrder(notifyCheck_, autostartCheck_);
    setTabOrder(autostartCheck_, keyringCheck_);
    check1_->setFocus();

    connect(command1, &QPushButton::clicked, this, &SetForm::accountDialogRequested);
    connect(command2, &QPushButton::clicked, this, &SetForm::serverDialogRequested);
    connect(signInButton_, &QPushButton::clicked, this, &SetForm::signInDialogRequested);

    const int hangUp = readHangupOption(settings_.paths());
    if (hangUp == 0 || hangUp == 1)
        check1_->setChecked(hangUp == 1);
    settings_.setHangUpAfterCheck(check1_->isChecked());
    connect(check1_, &QCheckBox::toggled, this, [this](bool ticked) { settings_.setHangUpAfterCheck(ticked); });
    form::centreOnScreen(this);
}

QCheckBox *SetForm::addOptionBox(const char *objectName, const QString &text)
{
    auto *check = new QCheckBox(text, this);
    check->setObjectName(QString::fromLatin1(objectName));
    setRowTextColour(check);
    return check;
}

QList<QWidget *> SetForm::addMailWatchRows()
{
    const MailWatchOptions &options = settings_.mailWatch();
    newOnlyCheck_ = addOptionBox("NewOnlyCheck", QStringLiteral("新着のみ数える"));
    newOnlyCheck_->setChecked(options.countNewOnly);

    auto *intervalRow = new QWidget(this);
    auto *intervalLabel = new FieldLabel(QStringLiteral("自動受信の間隔（分）"), intervalRow);
    setRowTextColour(intervalLabel);
    intervalSpin_ = new QSpinBox(intervalRow);
    intervalSpin_->setObjectName(QStringLiteral("IntervalSpin"));
    intervalSpin_->setRange(0, MailWatchOptions::kMaxIntervalMinutes);
    intervalSpin_->setSpecialValueText(QStringLiteral("しない"));
    intervalSpin_->setValue(options.intervalMinutes);
    intervalSpin_->setAccessibleName(intervalLabel->text());
    intervalLabel->setBuddy(intervalSpin_);
    auto *intervalLayout = new QHBoxLayout(intervalRow);
    intervalLayout->setContentsMargins(0, 0, 0, 0);
    intervalLayout->addWidget(intervalLabel, 1);
    intervalLayout->addWidget(intervalSpin_);

    notifyCheck_ = addOptionBox("NotifyCheck", QStringLiteral("デスクトップに通知する"));
    notifyCheck_->setChecked(options.notify);
    enableNotifyRow(options.intervalMinutes > 0);

    connect(newOnlyCheck_, &QCheckBox::toggled, this, &SetForm::applyMailWatch);
    connect(notifyCheck_, &QCheckBox::toggled, this, &SetForm::applyMailWatch);
    connect(intervalSpin_, &QSpinBox::valueChanged, this, [this](int minutes) {
        showTypedZeroAsNone();
        enableNotifyRow(minutes > 0);
        applyMailWatch();
        emit intervalChanged(minutes);
    });
    return {newOnlyCheck_, intervalRow, notifyCheck_};
}

void SetForm::enableNotifyRow(bool hasInterval)
{
    notifyCheck_->setEnabled(hasInterval);
    notifyCheck_->setToolTip(hasInterval ? QString() : QStringLiteral("自動受信の間隔を設定すると通知できます"));
}

// A typed 0 reads "しない" at once, not only when the editing ends, and is selected so
// the next digit typed replaces it.
void SetForm::showTypedZeroAsNone()
{
    const bool showsNone = intervalSpin_->text() == intervalSpin_->specialValueText();
    if (intervalSpin_->value() != intervalSpin_->minimum() || showsNone)
        return;
    intervalSpin_->interpretText();
    intervalSpin_->selectAll();
}

void SetForm::applyMailWatch()
{
    settings_.setMailWatch({.countNewOnly = newOnlyCheck_->isChecked(),
                            .intervalMinutes = intervalSpin_->value(),
                            .notify = notifyCheck_->isChecked()});
}

QCheckBox *SetForm::addAutostartRow()
{
    QCheckBox *check = addOptionBox("AutostartCheck", QStringLiteral("ログイン時に起動する"));
    check->setChecked(isAutostartEnabled(settings_.paths().autostartEntry));
    connect(check, &QCheckBox::toggled, this, &SetForm::storeAutostart);
    return check;
}

void SetForm::addKeyringRow()
{
    keyringCheck_ = addOptionBox("KeyringCheck", QStringLiteral("パスワードをキーリングに保存する"));
    PasswordKeeper &keeper = settings_.passwords();
    connect(keyringCheck_, &QCheckBox::toggled, this, [&keeper](bool ticked) {
        keeper.choose(ticked ? PasswordPlace::Keyring : PasswordPlace::File);
    });
    connect(&keeper, &PasswordKeeper::stateChanged, this, &SetForm::showKeyringState);
    connect(&keeper, &PasswordKeeper::moveFailed, this, &SetForm::tellMoveFailed);
    showKeyringState();
}

QWidget *SetForm::addSignInRow()
{
    auto *row = new QWidget(this);
    signInButton_ = new QPushButton(QStringLiteral("ブラウザでサインイン…"), row);
    signInButton_->setObjectName(QStringLiteral("SignInButton"));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(signInButton_);
    layout->addStretch(1);
    return row;
}

void SetForm::showKeyringState()
{
    const PasswordKeeper &keeper = settings_.passwords();
    QString why;
    if (keeper.keyring() == PasswordKeeper::Keyring::Absent)
        why = QStringLiteral("キーリング（Secret Service）が見つからないので使えません");
    else if (keeper.keyring() == PasswordKeeper::Keyring::Unknown)
        why = QStringLiteral("キーリングの応答を待っています");
    else if (keeper.busy())
        why = QStringLiteral("キーリングとやりとりしています");
    const QSignalBlocker blocker(keyringCheck_);
    // While no keyring answers, the box says where the password is, not where it would go.
    const bool answers = keeper.keyring() == PasswordKeeper::Keyring::Answers;
    keyringCheck_->setChecked(answers ? keeper.wantsKeyring() : readPasswordPlace(settings_.paths()).isKeyring());
    keyringCheck_->setEnabled(why.isEmpty());
    keyringCheck_->setToolTip(why);
}

void SetForm::tellMoveFailed(PasswordKeeper::MoveFailure failure)
{
    using F = PasswordKeeper::MoveFailure;
    QString why;
    switch (failure) {
    case F::Locked:
        why = QStringLiteral("キーリングがロックされているので、パスワードを移せませんでした。");
        break;
    case F::NoService:
        why = QStringLiteral("キーリングが応答しないので、パスワードを移せませんでした。");
        break;
    case F::NotKept:
        why = QStringLiteral("キーリングがパスワードを保存できなかったので、移せませんでした。");
        break;
    case F::FileNotWritten:
        why = QStringLiteral("設定ファイルに書き込めないので、パスワードを移せませんでした。");
        break;
    case F::TooLongForFile:
        why = QStringLiteral("パスワードが長すぎて設定ファイルに入らないので、キーリングに残しました。");
        break;
    }
    auto *box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("設定"), why, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("KeyringMoveBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open(); // nothing waits for the answer
}

void SetForm::layOutRowsBelowRule(const QList<QWidget *> &rows, const TwipsScale &scale)
{
    float rowWidth = formWidth - 2 * rowLeft;
    for (const QWidget *row : rows)
        rowWidth = std::max(rowWidth, float(row->sizeHint().width() * scale.perPixelX));
    float top = rowsTop;
    for (QWidget *row : rows) {
        const float height = std::max(rowHeight, float(row->sizeHint().height() * scale.perPixelY));
        row->setGeometry(scale.toPixels(TwipsRect{rowLeft, top, rowWidth, height}));
        top += height + rowGap;
    }
    setFixedSize(scale.toPixels(rowWidth + 2 * rowLeft, top - rowGap + bottomMargin));
}

void SetForm::storeAutostart(bool ticked)
{
    const AppPaths &paths = settings_.paths();
    if (setAutostartEnabled(paths.autostartEntry, autostartLaunchOf(paths, QDir::currentPath()), ticked))
        return;
    // The box shows what the session will do at the next login.
    std::fprintf(stderr, "kingyo: could not %s %s\n", ticked ? "write" : "remove", qPrintable(paths.autostartEntry));
    const QSignalBlocker blocker(autostartCheck_);
    autostartCheck_->setChecked(!ticked);
}

void SetForm::closeEvent(QCloseEvent *event)
{
    // Stored on every close; ending the program deletes the window without closing it.
    // Its rows stay in effect for the run either way, so it closes.
    if (const WriteResult stored = settings_.storeOptions(); !stored)
        showNotStoredBox(nullptr, stored.failure);
    event->accept();
}

} // namespace kingyo
