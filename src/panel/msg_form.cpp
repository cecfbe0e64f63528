#include "panel/msg_form.h"

#include "base/twips.h"
#include "panel/form_layout.h"

#include <QLineEdit>

namespace kingyo {
namespace {

QLineEdit *addTextBox(QWidget *form, const char *name, const TwipsRect &place, const TwipsScale &scale)
{
    auto *box = new QLineEdit(form);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(scale.toPixels(place));
    box->setReadOnly(true); // only the mail check writes here
    return box;
}

} // namespace

QString noticeSentence(int count)
{
    return count > 0 ? QStringLiteral("新着メールが有ります。") : QStringLiteral("新着メールはありませんでした。");
}

MsgForm::MsgForm(QWidget *parent) : QWidget(parent)
{
    form::setUpTitleBar(this, "MsgForm", QStringLiteral("新着お知らせ"), Qt::WindowStaysOnTopHint);
    const TwipsScale scale = TwipsScale::of(nullptr);
    setFixedSize(scale.toPixels(3630, 270));

    text1_ = addTextBox(this, "Text1", {0, 0, 3135, 270}, scale);
    text1_->setText(QStringLiteral("新着メールはありませんでした。"));
    QPalette blue = text1_->palette();
    blue.setColor(QPalette::Text, QColor(0x00, 0x00, 0xFF));
    text1_->setPalette(blue);
    text2_ = addTextBox(this, "Text2", {3120, 0, 495, 270}, scale);
    setTabOrder(text1_, text2_);

    form::centreOnScreen(this);
}

void MsgForm::showResult(int count)
{
    text2_->setText(QString::number(count));
    text1_->setText(noticeSentence(count));
}

} // namespace kingyo
