// One mail check as the program runs it (MailCheck on its worker thread), without
// windows: the default check that fetches every waiting message, or with --new-only
// the check that counts only messages whose unique IDs earlier checks did not see
// (their IDs kept in FOLDER). An imap:// or imaps:// server is checked as the program
// does: its unread messages counted (new-only: those after the mark kept in FOLDER).
// --warm runs one check first, untimed, as a running program has done before its next
// check: the TLS backend loaded, the allocator warm.
// --split (IMAP only) times the IMAP session a check makes, through the library's own
// channel and count, in two at the login's answer: it reads the mark the checks stored
// in FOLDER and stores none.
//   new_mail_bench SERVER USER PASSWORD [--new-only FOLDER] [--warm | --split]
// Output: "<count> counted, <seconds> s" (the timed check from start() to its end;
// --split: from the connect to the count, then "; login <seconds> s, after login
// <seconds> s"), exit 1 when a check failed.
#include "mail/imap/imap_channel.h"
#include "mail/imap/imap_unread_count.h"
#include "mail/mail_check.h"
#include "mail/mail_server_address.h"
#include "mail/network_mail_library.h"
#include "mail/qt_printers.h"
#include "settings/shared_state.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

using namespace kingyo;

namespace {

// Gives the account, and says what failed on stderr instead of showing it.
class QuietSurroundings : public MailCheckSurroundings {
public:
    explicit QuietSurroundings(Account account) : account_(std::move(account)) {}
    Account readAccount() override { return account_; }
    void fillAccountDialog(const Account &) override {}
    void showAccountDialog() override { std::fprintf(stderr, "the account is incomplete\n"); }
    void showError(const MailFailure &failure) override
    {
        failed_ = true;
        std::fprintf(stderr, "check failed: %s\n", describe(failure).c_str());
    }
    void showNotice(int, const QList<MailSummary> &) override {}
    bool hangUpAfterCheck() override { return false; }
    void hangUp() override {}
    bool failed() const { return failed_; }

private:
    Account account_;
    bool failed_ = false;
};

double seconds(qint64 nanoseconds) { return double(nanoseconds) / 1e9; }

// One check through MailCheck, after an untimed one when warm. True when it counted.
bool timedCheck(QCoreApplication &app, const QString &server, const Account &account, const QString &newOnlyFolder,
                bool warm)
{
    SharedState state;
    state.pop3Server = server;
    QuietSurroundings surroundings(account);
    NetworkMailLibrary library;
    library.initialize();
    library.setOption(1, 8192);
    MailCheck check(state, library, surroundings);
    check.setNewOnlyFolder(newOnlyFolder);

    QElapsedTimer clock;
    int counted = -1;
    int untimed = warm ? 1 : 0;
    QObject::connect(&check, &MailCheck::finished, &app, [&](int count) {
        if (untimed-- > 0 && count >= 0 && !surroundings.failed()) {
            QMetaObject::invokeMethod(&check, [&] { clock.start(); check.start(); }, Qt::QueuedConnection);
            return;
        }
        counted = count;
        std::printf("%d counted, %.4f s\n", count, seconds(clock.nsecsElapsed()));
        app.quit();
    });
    clock.start();
    check.start();
    app.exec();
    check.shutDown(true);
    return counted >= 0 && !surroundings.failed();
}

// The IMAP session of a check as the library makes it (log in, then count), the clock
// read at the login's answer. True when it counted.
bool splitImapCheck(QCoreApplication &app, const MailServerAddress &address, const Account &account,
                    std::optional<UnreadMark> since)
{
    ImapChannel channel{ConnectionSettings{}};
    QElapsedTimer clock;
    bool done = false;
    const auto fail = [&](const MailFailure &failure) {
        std::fprintf(stderr, "check failed: %s\n", describe(failure).c_str());
        app.quit();
    };
    clock.start();
    channel.open(address, [&](const MailFailure &opened) {
        if (opened.problem != MailProblem::None)
            return fail(opened);
        channel.logIn(account.userId, account.password, [&](const ImapEvent &login) {
            if (login.result < 0)
                return fail(login.failure);
            const qint64 loggedIn = clock.nsecsElapsed();
            const auto counted = [&, loggedIn](const UnreadCount &count, const MailFailure &failure) {
                if (count.result < 0)
                    return fail(failure);
                const qint64 end = clock.nsecsElapsed();
                std::printf("%lld counted, %.4f s; login %.4f s, after login %.4f s\n",
                            static_cast<long long>(count.result), seconds(end), seconds(loggedIn),
                            seconds(end - loggedIn));
                done = true;
                channel.logout([&] { app.quit(); });
            };
            countUnread(channel, since, MailCheck::kSummaries, counted);
        });
    });
    app.exec();
    return done;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption newOnly("new-only", "Count only new mail, the marks kept in FOLDER.", "FOLDER");
    const QCommandLineOption warm("warm", "Time a second check in one process.");
    const QCommandLineOption split("split", "IMAP: time the login and the count apart.");
    parser.addOptions({newOnly, warm, split});
    const bool parsed = parser.parse(app.arguments());
    const QStringList arguments = parser.positionalArguments();
    const std::optional<MailServerAddress> address =
        arguments.isEmpty() ? std::nullopt : parseMailServerAddress(arguments[0]);
    const bool imap = address && address->protocol == MailServerAddress::Protocol::Imap;
    if (!parsed || arguments.size() != 3 || (parser.isSet(split) && (parser.isSet(warm) || !imap))) {
        std::fprintf(stderr, "usage: %s SERVER USER PASSWORD [--new-only FOLDER] [--warm | --split (IMAP)]\n", argv[0]);
        return 2;
    }
    const QString &server = arguments[0];
    const Account account{arguments[1], arguments[2]};
    const QString folder = parser.value(newOnly);
    if (!parser.isSet(split))
        return timedCheck(app, server, account, folder, parser.isSet(warm)) ? 0 : 1;
    const std::optional<UnreadMark> since =
        folder.isEmpty() ? std::nullopt : UnreadMarkStore(folder, server, account.userId).load();
    return splitImapCheck(app, *address, account, since) ? 0 : 1;
}
