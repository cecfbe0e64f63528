#include "panel/mail_error_box.h"

#include <QMessageBox>

namespace kingyo {
namespace {

// Our sentence for each problem; %1, %2, … take its facts in order.
QString sentenceFor(MailProblem problem)
{
    using P = MailProblem;
    const QString place = QStringLiteral("サーバー「%1」のポート %2 に接続できませんでした");
    switch (problem) {
    case P::None:
        return {};
    case P::UnreadableServerField:
        return QStringLiteral("POP3 サーバー名「%1」を読めませんでした。");
    case P::CouldNotConnect:
        return place + QStringLiteral("（%3）。");
    case P::HostNotFound:
        return place + QStringLiteral("（サーバー名が見つかりません）。");
    case P::ConnectionRefused:
        return place + QStringLiteral("（接続を拒否されました）。");
    case P::NetworkUnreachable:
        return place + QStringLiteral("（ネットワークに届きません）。");
    case P::ConnectSilent:
        return place + QStringLiteral("（%3 秒以内に応答がありません）。");
    case P::UserRejected:
        return QStringLiteral("ログインできませんでした。ユーザーIDが受け付けられませんでした。");
    case P::LoginRejected:
        return QStringLiteral("ログインできませんでした。ユーザーIDかパスワードが違います。");
    case P::ApopUnavailable:
        return QStringLiteral("APOP を使う設定ですが、このサーバーは APOP に対応していません（挨拶にタイムスタンプがありません）。");
    case P::NoGreeting:
        return QStringLiteral("サーバーが POP3 の挨拶をしませんでした。");
    case P::NotPop3:
        return QStringLiteral("サーバーの応答が POP3 の形ではありません。");
    case P::TlsFailed:
        return QStringLiteral("サーバーと暗号化して接続できなかったので、パスワードは送りませんでした（%1）。");
    case P::StlsRefused:
        return QStringLiteral("サーバーが暗号化（STLS）を断ったので、パスワードは送りませんでした。");
    case P::CertificateUnknown:
        return QStringLiteral("サーバー「%1」（ポート %2）の証明書を確かめられないので、パスワードは送りませんでした（SHA-256: %3）。");
    case P::CertificateAwaitsUser:
        return QStringLiteral("サーバー「%1」（ポート %2）の証明書を信頼するかどうかがまだ決まっていないので、自動受信ではパスワードを送りませんでした（SHA-256: %3）。"
                              "次に「受信」を押したときに、この証明書を信頼するかどうかを確認します。");
    case P::CertificateChanged:
        return QStringLiteral("サーバー「%1」（ポート %2）の証明書が、信頼すると決めたものから変わっています。"
                              "別のサーバーになりすまされているおそれがあるので、パスワードは送りませんでした（新しい証明書の SHA-256: %3）。");
    case P::EncryptionWithdrawn:
        return QStringLiteral("サーバー「%1」（ポート %2）は以前は暗号化（STLS や STARTTLS）に対応していましたが、今は対応していません。"
                              "途中で書き換えられているおそれがあるので、パスワードは送りませんでした。");
    case P::Silent:
        return QStringLiteral("サーバーが %1 秒間応答しませんでした。");
    case P::TooLong:
        return QStringLiteral("サーバーとのやりとりに時間がかかりすぎたので、受信をやめました。");
    case P::ClosedByServer:
        return QStringLiteral("サーバーが途中で接続を切りました。");
    case P::ConnectionLost:
        return QStringLiteral("サーバーとの接続が切れました（%1）。");
    case P::ReplyOverrun:
        return QStringLiteral("サーバーの応答が伝えられた大きさをはるかに超えて続くので、受信をやめました。");
    case P::StatRefused:
        return QStringLiteral("メールボックスの状態を聞けませんでした。");
    case P::CountUnreadable:
        return QStringLiteral("サーバーが伝えたメッセージ数を読めませんでした。");
    case P::ListRefused:
    case P::ListUnreadable:
    case P::UidlRefused:
    case P::UidlUnreadable:
        return QStringLiteral("メッセージの一覧をもらえませんでした。");
    case P::TooManyIds:
        return QStringLiteral("サーバーのメッセージが多すぎて（%1 件を超えています）、新着のみ数えることができませんでした。"
                              "サーバーのメッセージを減らすか、設定の「新着のみ数える」を外してください。");
    case P::ListMismatch:
        return QStringLiteral("サーバーの伝えたメッセージ数（%1 件）と一覧（%2 件）が合いません。");
    case P::SizeUnreadable:
        return QStringLiteral("サーバーが伝えたメッセージ %1 の大きさを読めませんでした。");
    case P::MessageRefused:
        return QStringLiteral("メッセージ %1 を受け取れませんでした。");
    case P::NoSuchMessage:
        return QStringLiteral("メッセージ %1 はサーバーにありません。");
    case P::NotLoggedIn:
        return QStringLiteral("サーバーにログインしていません。");
    case P::NoLoginPossible:
        return QStringLiteral("ログインできる接続がありません。接続し直してください。");
    case P::UnknownHandle:
        return QStringLiteral("接続番号 %1 の接続はありません。");
    case P::UnsafeCredentials:
        return QStringLiteral("ユーザーID、パスワードかアクセストークンに、改行などの送れない文字が含まれているので、ログインしませんでした。");
    case P::Abandoned:
        return QStringLiteral("終了するので、受信をやめました。");
    case P::NotImap:
        return QStringLiteral("サーバーの応答が IMAP の形ではありません。");
    case P::StartTlsRefused:
        return QStringLiteral("サーバーが暗号化（STARTTLS）を断ったので、パスワードは送りませんでした。");
    case P::LoginDisabled:
        return QStringLiteral("サーバーがこの接続ではパスワードでのログインを受け付けていないので、パスワードは送りませんでした"
                              "（暗号化していない接続では、多くのサーバーがそうしています）。");
    case P::MailboxRefused:
        return QStringLiteral("メールボックス「%1」を開けませんでした。");
    case P::CommandRefused:
        return QStringLiteral("サーバーが %1 コマンドを受け付けませんでした。");
    case P::ImapReplyUnreadable:
        return QStringLiteral("サーバーの %1 への応答を読めませんでした。");
    case P::IdleUnsupported:
        return QStringLiteral("このサーバーは新着メールの知らせ（IDLE）に対応していません。");
    case P::NoMailboxSelected:
        return QStringLiteral("メールボックスを開いていません。");
    case P::TokenRejected:
        return QStringLiteral("ログインできませんでした。サーバーがアクセストークンを受け付けませんでした"
                              "（期限が切れたか、取り消されたおそれがあります）。");
    case P::TokenLoginUnavailable:
        return QStringLiteral("このサーバーはアクセストークンでのログイン（OAUTHBEARER や XOAUTH2）に対応していないので、"
                              "アクセストークンは送りませんでした。");
    case P::KeyringLocked:
        return QStringLiteral("キーリングがロックされているか応答しないので、そこに保存してあるパスワード（またはサインインの情報）を読めませんでした。"
                              "キーリングのロックを解除してから、もう一度「受信」を押してください。");
    case P::SignInAgain:
        return QStringLiteral("サインインの期限が切れたか、取り消されました。"
                              "設定の「ブラウザでサインイン…」から、もう一度サインインしてください。");
    case P::SignInFailed:
        return QStringLiteral("ブラウザでのサインインができませんでした（認可サーバーからアクセストークンをもらえませんでした）。");
    case P::TokenServiceUnavailable:
        return QStringLiteral("今はアクセストークンを確かめられないので、ログインできませんでした"
                              "（認可サーバーにつながらないか、応答がありません）。");
    case P::UnsafeSignInAddress:
        return QStringLiteral("サインインのアドレス「%1」は https でも、このパソコンの中を指すものでもないので、何も送りませんでした。"
                              "設定の「ブラウザでサインイン…」で、アドレスを確かめてサインインし直してください。");
    case P::SignInUnanswered:
        return QStringLiteral("%1 分待ってもブラウザからサインインの結果が届かなかったので、待つのをやめました。"
                              "もう一度「サインイン」を押してください。");
    }
    return {};
}

} // namespace

QString trimNull(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

QString mailErrorText(const MailFailure &failure)
{
    // One pass for all facts, so a fact holding "%1" (a server field, say) stays as it is.
    QString sentence = sentenceFor(failure.problem);
    const QStringList &facts = failure.facts;
    switch (facts.size()) {
    case 0:
        break;
    case 1:
        sentence = sentence.arg(facts[0]);
        break;
    case 2:
        sentence = sentence.arg(facts[0], facts[1]);
        break;
    default:
        sentence = sentence.arg(facts[0], facts[1], facts[2]);
        break;
    }
    if (!failure.serverText.isEmpty())
        sentence = QStringLiteral("%1 サーバーの応答:「%2」").arg(sentence, failure.serverText);
    return trimNull(sentence);
}

QMessageBox *makeMailErrorBox(const MailFailure &failure)
{
    auto *box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("エラー"), mailErrorText(failure), QMessageBox::Ok);
    box->setObjectName(QStringLiteral("MailErrorBox"));
    box->setTextFormat(Qt::PlainText); // the server's words, never markup
    box->setWindowFlag(Qt::WindowStaysOnTopHint); // above the topmost bowl and panel
    return box;
}

} // namespace kingyo
