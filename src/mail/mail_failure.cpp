#include "mail/mail_failure.h"

#include "mail/pop3_failure.h"

namespace kingyo {

int failureCode(MailProblem problem)
{
    using P = MailProblem;
    switch (problem) {
    case P::None:
        return 0;
    case P::UnreadableServerField:
    case P::CouldNotConnect:
    case P::HostNotFound:
    case P::ConnectionRefused:
    case P::NetworkUnreachable:
    case P::ConnectSilent:
        return pop3::kCouldNotConnect;
    case P::UserRejected:
    case P::LoginRejected:
    case P::TokenRejected:
    case P::SignInAgain:
    case P::SignInFailed:
    case P::UnsafeSignInAddress:
    case P::SignInUnanswered:
        return pop3::kLoginRejected;
    case P::TokenLoginUnavailable:
        return pop3::kTokenLoginUnavailable;
    case P::ApopUnavailable:
        return pop3::kApopUnavailable;
    case P::NoGreeting:
    case P::NotPop3:
    case P::NotImap:
    case P::ReplyOverrun:
    case P::CountUnreadable:
    case P::ListUnreadable:
    case P::ListMismatch:
    case P::TooManyIds:
        return pop3::kProtocolError;
    case P::TlsFailed:
    case P::StlsRefused:
    case P::StartTlsRefused:
    case P::LoginDisabled:
    case P::CertificateUnknown:
    case P::CertificateAwaitsUser:
    case P::CertificateChanged:
    case P::EncryptionWithdrawn:
        return pop3::kTlsFailure;
    case P::Silent:
        return pop3::kTimeout;
    case P::TooLong:
        return pop3::kTooLong;
    case P::ClosedByServer:
    case P::ConnectionLost:
        return pop3::kConnectionLost;
    case P::StatRefused:
    case P::ListRefused:
    case P::SizeUnreadable:
    case P::UidlRefused:
    case P::UidlUnreadable:
    case P::MessageRefused:
    case P::MailboxRefused:
    case P::CommandRefused:
    case P::ImapReplyUnreadable:
    case P::IdleUnsupported:
        return pop3::kServerError;
    case P::NoSuchMessage:
        return pop3::kNoSuchMessage;
    case P::NotLoggedIn:
    case P::NoLoginPossible:
    case P::UnknownHandle:
    case P::NoMailboxSelected:
    case P::KeyringLocked:
    case P::TokenServiceUnavailable:
        return pop3::kNotConnected;
    case P::UnsafeCredentials:
        return pop3::kUnsafeCredentials;
    case P::Abandoned:
        return pop3::kAbandoned;
    }
    return pop3::kProtocolError;
}

QString cleanServerText(std::string_view text, const QStringList &secrets)
{
    constexpr int kMaxServerText = 200;
    QString clean = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const auto hideSecrets = [&] {
        for (const QString &secret : secrets) {
            if (!secret.isEmpty())
                clean.replace(secret, QStringLiteral("***"));
        }
    };
    hideSecrets(); // before blanking control characters, which would hide a password holding a tab
    for (QChar &c : clean) {
        if (!c.isPrint())
            c = u' ';
    }
    clean = clean.simplified();
    hideSecrets(); // and after, in case the blanks spelt one out
    if (clean.size() > kMaxServerText)
        clean = clean.left(kMaxServerText) + u'…';
    return clean;
}

} // namespace kingyo
