#include "panel/sign_in_dialog.h"

#include "panel/form_layout.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

namespace kingyo {
namespace {

// In twips, as the other dialogs: margins, the label column (wider when a label needs
// it), the entries, and the rows as tall as a text box or as their entry asks.
constexpr float margin = 120;
constexpr float labelWidth = 1800;
constexpr float columnGap = 120;
constexpr float entryWidth = 4200;
constexpr float rowHeight = 300;
constexpr float rowGap = 105;
constexpr float buttonWidth = 1200;
constexpr float buttonHeight = 375;
constexpr int statusLines = 2; // room kept for a hint or a sentence, so the window rarely grows

using Provider = SignIn::Provider;

// Microsoft's desktop clients are public: they have no secret to give.
bool takesSecret(Provider provider) { return provider != Provider::Microsoft; }

bool looksLikeMailAddress(const QString &address)
{
    const qsizetype at = address.indexOf(u'@');
    return at > 0 && at < address.size() - 1;
}

QColor statusRed() { return form::fromBgr(0x000000C0); }

void showFromStart(QLineEdit *entry, const QString &text)
{
    entry->setText(text);
    entry->setCursorPosition(0); // a long address shows where it begins
}

} // namespace

SignInDialog::SignInDialog(QWidget *parent) : QDialog(parent), scale_(TwipsScale::of(screen()))
{
    form::setUpTitleBar(this, "SignInDialog", QStringLiteral("ブラウザでサインイン"));
    setFont(form::layoutFont());

    providerCombo_ = new QComboBox(this);
    providerCombo_->setObjectName(QStringLiteral("ProviderCombo"));
    providerCombo_->addItem(QStringLiteral("Google"), int(Provider::Google));
    providerCombo_->addItem(QStringLiteral("Microsoft"), int(Provider::Microsoft));
    providerCombo_->addItem(QStringLiteral("その他"), int(Provider::Other));
    auto *providerLabel = new QLabel(QStringLiteral("プロバイダー"), this);
    providerLabel->setBuddy(providerCombo_);
    providerCombo_->setAccessibleName(providerLabel->text());
    rows_.append({providerLabel, providerCombo_});
    addressText_ = addRow("AddressText", QStringLiteral("メールアドレス"));
    clientIdText_ = addRow("ClientIdText", QStringLiteral("クライアントID"));
    clientSecretText_ = addRow("ClientSecretText", QStringLiteral("クライアントシークレット"));
    clientSecretText_->setEchoMode(QLineEdit::Password);
    clientSecretText_->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // one "*" per character
    authorizationUrlText_ = addRow("AuthorizationUrlText", QStringLiteral("認可のアドレス"));
    tokenUrlText_ = addRow("TokenUrlText", QStringLiteral("トークンのアドレス"));
    scopeText_ = addRow("ScopeText", QStringLiteral("スコープ"));

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("SignInStatus"));
    status_->setWordWrap(true);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    addressShown_ = new QLineEdit(this);
    addressShown_->setObjectName(QStringLiteral("AuthorizationAddress"));
    addressShown_->setAccessibleName(QStringLiteral("ブラウザで開くアドレス"));
    addressShown_->setReadOnly(true);
    copyCommand_ = new QPushButton(QStringLiteral("コピー"), this);
    copyCommand_->setObjectName(QStringLiteral("CopyAddress"));
    connect(copyCommand_, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(addressShown_->text()); });
    okCommand_ = new QPushButton(QStringLiteral("サインイン"), this);
    okCommand_->setObjectName(QStringLiteral("SignInOk"));
    okCommand_->setDefault(true);
    cancelCommand_ = new QPushButton(QStringLiteral("キャンセル"), this);
    cancelCommand_->setObjectName(QStringLiteral("SignInCancel"));
    for (QPushButton *button : {okCommand_, cancelCommand_, copyCommand_})
        button->setAutoDefault(true); // Enter on a focused button presses that button

    connect(providerCombo_, &QComboBox::currentIndexChanged, this, [this] {
        typedFor_[shown_] = typed();
        fillFor(provider());
        showEntriesState();
    });
    connect(okCommand_, &QPushButton::clicked, this, &SignInDialog::requestSignIn);
    connect(cancelCommand_, &QPushButton::clicked, this, &SignInDialog::reject);

    fillFor(provider());
    showEntriesState();
    layOut();
    form::centreOnScreen(this);
}

QLineEdit *SignInDialog::addRow(const char *objectName, const QString &label)
{
    auto *entry = new QLineEdit(this);
    entry->setObjectName(QString::fromLatin1(objectName));
    entry->setAccessibleName(label);
    auto *text = new QLabel(label, this);
    text->setBuddy(entry);
    rows_.append({text, entry});
    connect(entry, &QLineEdit::textChanged, this, &SignInDialog::showEntriesState);
    return entry;
}

void SignInDialog::layOut()
{
    const auto twipsWide = [this](const QWidget *widget) { return float(widget->sizeHint().width() * scale_.perPixelX); };
    const auto twipsHigh = [this](const QWidget *widget) { return float(widget->sizeHint().height() * scale_.perPixelY); };
    float labelColumn = labelWidth;
    for (const auto &[label, entry] : rows_)
        labelColumn = std::max(labelColumn, twipsWide(label));
    const float entryLeft = margin + labelColumn + columnGap;
    const float right = entryLeft + entryWidth;
    float top = margin;
    for (const auto &[label, entry] : rows_) {
        const float height = std::max(rowHeight, twipsHigh(entry));
        label->setGeometry(scale_.toPixels(TwipsRect{margin, top, labelColumn, height}));
        entry->setGeometry(scale_.toPixels(TwipsRect{entryLeft, top, entryWidth, height}));
        top += height + rowGap;
    }

    const int statusWidth = scale_.toPixelsX(right - margin);
    const int statusHeight =
        std::max(status_->fontMetrics().lineSpacing() * statusLines, status_->heightForWidth(statusWidth));
    status_->setGeometry(scale_.toPixelsX(margin), scale_.toPixelsY(top), statusWidth, statusHeight);
    top += float(statusHeight * scale_.perPixelY) + rowGap;

    if (!address_.isEmpty()) {
        const float height = std::max(rowHeight, std::max(twipsHigh(addressShown_), twipsHigh(copyCommand_)));
        const float copyWidth = std::max(buttonWidth, twipsWide(copyCommand_));
        const float addressWidth = right - margin - copyWidth - columnGap;
        addressShown_->setGeometry(scale_.toPixels(TwipsRect{margin, top, addressWidth, height}));
        copyCommand_->setGeometry(scale_.toPixels(TwipsRect{right - copyWidth, top, copyWidth, height}));
        top += height + rowGap;
    }

    const float height = std::max(buttonHeight, std::max(twipsHigh(okCommand_), twipsHigh(cancelCommand_)));
    float buttonRight = right;
    for (QPushButton *button : {cancelCommand_, okCommand_}) {
        const float width = std::max(buttonWidth, twipsWide(button));
        button->setGeometry(scale_.toPixels(TwipsRect{buttonRight - width, top, width, height}));
        buttonRight -= width + columnGap;
    }
    setFixedSize(scale_.toPixels(right + margin, top + height + margin));
}

void SignInDialog::showFor(const SignIn &current, const QString &mailAddress)
{
    typedFor_.clear();
    typedFor_[current.provider] = current;
    {
        const QSignalBlocker blocker(providerCombo_);
        providerCombo_->setCurrentIndex(providerCombo_->findData(int(current.provider)));
    }
    fillFor(current.provider);
    showFromStart(addressText_, mailAddress);
    failure_.clear();
    stage_ = Stage::Editing;
    showEntriesState();
    show();
    raise();
    activateWindow();
}

void SignInDialog::showWaiting()
{
    stage_ = Stage::Waiting;
    showEntriesState();
}

void SignInDialog::showAuthorizationAddress(const QUrl &address, bool browserOpened)
{
    if (!waiting())
        return;
    stage_ = browserOpened ? Stage::Waiting : Stage::BrowserNotOpened;
    address_ = address;
    showEntriesState();
    if (!browserOpened)
        copyCommand_->setFocus();
}

void SignInDialog::showFailure(const QString &sentence)
{
    stage_ = Stage::Editing;
    failure_ = sentence;
    showEntriesState();
}

void SignInDialog::reject()
{
    if (waiting()) {
        stage_ = Stage::Editing;
        const QPointer<SignInDialog> alive(this);
        emit cancelled();
        if (!alive)
            return;
    }
    QDialog::reject();
}

void SignInDialog::closeEvent(QCloseEvent *event)
{
    // Only the user's close box is a cancel; the program closes the dialog when the
    // sign-in has ended.
    if (!event->spontaneous())
        stage_ = Stage::Editing;
    QDialog::closeEvent(event);
}

// A known provider's addresses and scope are its own; its client, and everything of
// その他, come back as typed when the user returns to it.
void SignInDialog::fillFor(Provider provider)
{
    SignIn entries = knownSignIn(provider);
    const auto typed = typedFor_.constFind(provider);
    if (typed != typedFor_.cend() && provider == Provider::Other) {
        entries = *typed;
    } else if (typed != typedFor_.cend() && !typed->clientId.isEmpty()) {
        entries.clientId = typed->clientId;
        entries.clientSecret = typed->clientSecret;
    }
    shown_ = provider;
    showFromStart(clientIdText_, entries.clientId);
    showFromStart(clientSecretText_, takesSecret(provider) ? entries.clientSecret : QString());
    showFromStart(authorizationUrlText_, entries.authorizationUrl.toString());
    showFromStart(tokenUrlText_, entries.tokenUrl.toString());
    showFromStart(scopeText_, entries.scope);
}

Provider SignInDialog::provider() const { return Provider(providerCombo_->currentData().toInt()); }

SignIn SignInDialog::typed() const
{
    SignIn signIn = knownSignIn(shown_);
    if (shown_ == Provider::Other) {
        signIn.authorizationUrl = QUrl(authorizationUrlText_->text().trimmed());
        signIn.tokenUrl = QUrl(tokenUrlText_->text().trimmed());
        signIn.scope = scopeText_->text().simplified();
    }
    signIn.clientId = clientIdText_->text().trimmed();
    signIn.clientSecret = takesSecret(shown_) ? clientSecretText_->text().trimmed() : QString();
    return signIn;
}

QString SignInDialog::refusal() const
{
    if (shown_ != Provider::Other)
        return {};
    for (const QLineEdit *entry : {authorizationUrlText_, tokenUrlText_}) {
        const QUrl url(entry->text().trimmed());
        if (url.isEmpty() || isAcceptableEndpoint(url))
            continue;
        if (url.scheme() == QLatin1String("http"))
            return QStringLiteral("http のアドレスは、このパソコンの中（localhost）を指すときだけ使えます。"
                                  "サインインの情報が暗号化されずに流れるのを防ぐためです。https にしてください。");
        return QStringLiteral("使えないアドレスです。https:// で始まるアドレスを入れてください。");
    }
    return {};
}

void SignInDialog::showEntriesState()
{
    const bool editable = !waiting();
    if (editable)
        address_.clear();
    providerCombo_->setEnabled(editable);
    addressText_->setEnabled(editable);
    clientIdText_->setEnabled(editable);
    clientSecretText_->setEnabled(editable && takesSecret(shown_));
    for (QLineEdit *own : {authorizationUrlText_, tokenUrlText_, scopeText_})
        own->setEnabled(editable && shown_ == Provider::Other);

    const bool usable = isUsable(typed()) && looksLikeMailAddress(addressText_->text().trimmed());
    okCommand_->setEnabled(editable && usable);
    const bool addressShown = !address_.isEmpty();
    const QString address = address_.toString(QUrl::FullyEncoded);
    if (addressShown_->isHidden() == addressShown || addressShown_->text() != address) {
        showFromStart(addressShown_, address);
        addressShown_->setVisible(addressShown);
        copyCommand_->setVisible(addressShown);
        layOut();
    }
    const QString refused = refusal();
    if (stage_ == Stage::BrowserNotOpened)
        setStatus(QStringLiteral("ブラウザを開けませんでした。下のアドレスをコピーして、ブラウザで開いてください"
                                 "（サインインが済むまで待っています）。"),
                  statusRed());
    else if (stage_ == Stage::Waiting && addressShown)
        setStatus(QStringLiteral("ブラウザが開きます。サインインして、メールの読み取りを許可してください…"
                                 "開かないときや別のブラウザで開くときは、下のアドレスをコピーしてください。"),
                  form::blue());
    else if (stage_ == Stage::Waiting)
        setStatus(QStringLiteral("ブラウザが開きます。サインインして、メールの読み取りを許可してください…"), form::blue());
    else if (!refused.isEmpty())
        setStatus(refused, statusRed());
    else
        setStatus(failure_, statusRed());
}

void SignInDialog::setStatus(const QString &text, const QColor &colour)
{
    form::setTextColour(status_, colour);
    if (status_->text() == text)
        return;
    status_->setText(text);
    layOut(); // a long sentence makes the window taller
}

void SignInDialog::requestSignIn()
{
    if (!okCommand_->isEnabled())
        return;
    failure_.clear();
    const SignIn signIn = typed();
    const QString mailAddress = addressText_->text().trimmed();
    showWaiting();
    emit signInRequested(signIn, mailAddress);
}

} // namespace kingyo
