// One mail check as the program runs it (MailCheck on its worker thread), without
// windows: the default check that fetches every waiting message, or with --new-only
// the check that counts only messages whose unique IDs earlier checks did not see
// (their IDs kept in FOLDER). --warm runs one check first, untimed, as a running
// program has done before its next check: the TLS backend loaded, the allocator warm.
//   new_mail_bench SERVER USER PASSWORD [--new-only FOLDER] [--warm]
// Output: "<count> counted, <seconds> s" (the timed check from start() to its end),
// exit 1 when a check failed.
#include "mail/mail_check.h"
#include "mail/network_mail_library.h"
#include "mail/qt_printers.h"
#include "settings/shared_state.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstring>

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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool warm = argc > 4 && std::strcmp(argv[argc - 1], "--warm") == 0;
    const int rest = argc - (warm ? 1 : 0);
    const bool newOnly = rest == 6 && std::strcmp(argv[4], "--new-only") == 0;
    if (rest != 4 && !newOnly) {
        std::fprintf(stderr, "usage: %s SERVER USER PASSWORD [--new-only FOLDER] [--warm]\n", argv[0]);
        return 2;
    }
    SharedState state;
    state.pop3Server = QString::fromLocal8Bit(argv[1]);
    QuietSurroundings surroundings(Account{QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])});
    NetworkMailLibrary library;
    library.initialize();
    library.setOption(1, 8192);
    MailCheck check(state, library, surroundings);
    if (newOnly)
        check.setNewOnlyFolder(QString::fromLocal8Bit(argv[5]));

    QElapsedTimer clock;
    int counted = -1;
    int untimed = warm ? 1 : 0;
    QObject::connect(&check, &MailCheck::finished, &app, [&](int count) {
        if (untimed-- > 0 && count >= 0 && !surroundings.failed()) {
            QMetaObject::invokeMethod(&check, [&] { clock.start(); check.start(); }, Qt::QueuedConnection);
            return;
        }
        counted = count;
        std::printf("%d counted, %.4f s\n", count, clock.nsecsElapsed() / 1e9);
        app.quit();
    });
    clock.start();
    check.start();
    app.exec();
    check.shutDown(true);
    return counted >= 0 && !surroundings.failed() ? 0 : 1;
}
