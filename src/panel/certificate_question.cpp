#include "panel/certificate_question.h"

#include "settings/server_trust.h"

#include <QMessageBox>

namespace kingyo {
namespace {

// Two lines of sixteen bytes, so the box stays a readable width.
QString fingerprintLines(const QString &hex)
{
    const QString colons = colonHex(hex.toLatin1());
    constexpr qsizetype kFirstLine = 16 * 3 - 1;
    return colons.size() > kFirstLine ? colons.left(kFirstLine) + u'\n' + colons.mid(kFirstLine + 1) : colons;
}

} // namespace

QString certificateQuestionText(const MailFailure &failure)
{
    const QStringList &facts = failure.facts;
    if (facts.size() < 3)
        return {};
    return QStringLiteral("サーバー「%1」（ポート %2）の証明書は、信頼できる発行元の署名がないため確かめられません"
                          "（自己署名の証明書など）。\n\n"
                          "証明書の SHA-256 フィンガープリント:\n%3\n\n"
                          "サーバーの管理者に聞いたフィンガープリントと同じなら、この証明書を今後このサーバーのものとして信頼できます。"
                          "信頼しますか？")
        .arg(facts[0], facts[1], fingerprintLines(facts[2]));
}

QMessageBox *makeCertificateQuestion(const MailFailure &failure)
{
    auto *box = new QMessageBox(QMessageBox::Question, QStringLiteral("確認"), certificateQuestionText(failure),
                                QMessageBox::Yes | QMessageBox::No);
    box->setObjectName(QStringLiteral("CertificateQuestion"));
    box->setDefaultButton(QMessageBox::No);
    box->setTextFormat(Qt::PlainText); // the host name comes from the user's field
    box->setWindowFlag(Qt::WindowStaysOnTopHint); // above the topmost bowl and panel
    return box;
}

} // namespace kingyo
