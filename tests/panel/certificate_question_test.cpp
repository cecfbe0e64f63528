#include "panel/certificate_question.h"
#include "settings/server_trust.h"

#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

const QString kPrint = QStringLiteral("00112233445566778899aabbccddeeff0123456789abcdef0fedcba987654321");

MailFailure unknownCertificate()
{
    return {MailProblem::CertificateUnknown, {QStringLiteral("mail.example.jp"), QStringLiteral("995"), kPrint}, {}};
}

TEST(CertificateQuestionTest, NamesTheServerAndShowsTheWholeFingerprintInColonHex)
{
    const QString text = certificateQuestionText(unknownCertificate());
    EXPECT_THAT(text.toStdString(), ::testing::HasSubstr("「mail.example.jp」（ポート 995）"));
    // On two lines, so the box keeps a readable width; together they are the whole print.
    const QString first = QStringLiteral("00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF");
    const QString second = QStringLiteral("01:23:45:67:89:AB:CD:EF:0F:ED:CB:A9:87:65:43:21");
    EXPECT_THAT(text.toStdString(), ::testing::HasSubstr((first + u'\n' + second).toStdString()));
    EXPECT_EQ(colonHex(kPrint.toLatin1()), first + u':' + second);
}

// Shows the question, answers it with `answer` and notes its title; whether it was
// answered yes.
bool answeredWith(const std::function<void(QMessageBox *)> &answer, QString *title)
{
    QMessageBox *box = makeCertificateQuestion(unknownCertificate());
    box->setAttribute(Qt::WA_DeleteOnClose);
    QSignalSpy finished(box, &QDialog::finished);
    box->show();
    *title = box->windowTitle();
    answer(box);
    return !finished.isEmpty() && finished.first().first().toInt() == QMessageBox::Yes;
}

TEST(CertificateQuestionTest, OnlyYesTrusts)
{
    QString title;
    EXPECT_TRUE(answeredWith([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); }, &title));
    EXPECT_EQ(title, "確認");
    EXPECT_FALSE(answeredWith([](QMessageBox *box) { box->button(QMessageBox::No)->click(); }, &title));
    EXPECT_FALSE(answeredWith([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); }, &title));
    EXPECT_FALSE(answeredWith([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); }, &title))
        << "Enter must not trust a certificate by accident";
}

} // namespace
} // namespace kingyo
