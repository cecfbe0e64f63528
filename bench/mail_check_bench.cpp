// A mail check from the click on "受信" to the notice, against a private Dovecot
// on loopback holding COUNT messages of SIZE bytes (default 2,000 x 20 KB), over
// plain POP3 and over STLS, and against a server that accepts and never speaks.
// Prints the median and the fastest of RUNS checks, and the longest stall of the
// user-interface thread during them: the worst lateness of a 10 ms timer.
//   mail_check_bench [COUNT SIZE RUNS]
#include "app/mail_check_windows.h"
#include "app/program.h"
#include "base/clock.h"
#include "mail/mail_check.h"
#include "mail/network_mail_library.h"
#include "panel/control_panel.h"
#include "panel/id_pass_form.h"
#include "panel/msg_form.h"
#include "panel/set_form.h"
#include "settings/account_file.h"
#include "support/maildir.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace kingyo;

namespace {

const QString kUser = QStringLiteral("frank");

bool pop3Server(const QString &action, const QString &dir, bool plain)
{
    const QString command = QStringLiteral(KINGYO_SOURCE_DIR "/scripts/test-pop3-server %1 %2 %3 >%2.log 2>&1 </dev/null")
                                .arg(action, dir, plain ? QStringLiteral("plain") : QString());
    return std::system(command.toLocal8Bit().constData()) == 0;
}

// Writes the messages straight into the Maildir, as a delivery agent would.
void fillMailbox(const QString &serverDir, int count, int size)
{
    const QString maildir = serverDir + QStringLiteral("/home/") + kUser + QStringLiteral("/Maildir");
    QByteArray line = "kingyo fish bowl water bubble food mail server pop3 swim the a of and more words\r\n";
    for (int n = 0; n < count; ++n) {
        QByteArray message = "From: bench@example.jp\r\nSubject: message " + QByteArray::number(n) + "\r\n\r\n";
        while (message.size() < size - line.size())
            message += line;
        if (!test::deliverToMaildir(maildir, QStringLiteral("1700000000.%1.bench").arg(n, 6, 10, QChar(u'0')), message))
            return;
    }
}

struct Result {
    double medianMs;
    double fastestMs;
    double longestStallMs;
    QString shown;
};

// The worst lateness of a 10 ms timer while it runs.
class StallMeter {
public:
    StallMeter()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const double gap = clock_.nsecsElapsed() / 1e6;
            worst_ = std::max(worst_, gap - 10.0);
            clock_.restart();
        });
        timer_.setTimerType(Qt::PreciseTimer);
        clock_.start();
        timer_.start(10);
    }
    double worstMs() const { return worst_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    double worst_ = 0;
};

Result measure(const QString &server, const QString &serverDir, int runs)
{
    Pop3Settings settings;
    if (!serverDir.isEmpty())
        settings.extraCaCertificates = QSslCertificate::fromPath(serverDir + QStringLiteral("/cert.pem"));
    NetworkMailLibrary library(settings);

    QTemporaryDir programDir;
    QDir(programDir.path()).mkdir(QStringLiteral("★MailData"));
    SystemClock clock;
    Program context;
    context.settings.setPaths(AppPaths{programDir.path()});
    context.clock = &clock;
    context.mail = &library;
    context.settings.state().pop3Server = server;
    writeAccount(context.settings.paths(), {kUser, kUser + QStringLiteral("-pass-1")}, true);
    wireWindows(context);
    wireMailCheck(context);
    QString errorText;
    library.initialize();
    library.setOption(1, 8192);
    ControlPanel *panel = context.controlPanel.show();
    QSignalSpy finished(context.mailCheck.get(), &MailCheck::finished);
    QTimer errorBoxCloser; // a failure's "エラー" box is part of the check; OK it at once
    QObject::connect(&errorBoxCloser, &QTimer::timeout, [&result = errorText] {
        if (QWidget *box = QApplication::activeModalWidget()) {
            result = box->property("text").toString();
            box->close();
        }
    });
    errorBoxCloser.start(20);
    const auto check = [&] {
        panel->command(2)->click();
        finished.wait(120000);
    };

    if (!serverDir.isEmpty())
        check(); // the first session marks every message seen: not timed
    std::vector<double> times;
    StallMeter stalls;
    for (int run = 0; run < runs; ++run) {
        context.msgForm.discard();
        QElapsedTimer timer;
        timer.start();
        check();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    Result result;
    result.longestStallMs = stalls.worstMs();
    result.shown = context.msgForm.get()->text2()->text() + u' ' + context.msgForm.get()->text1()->text();
    if (!errorText.isEmpty())
        result.shown += QStringLiteral(" after 「%1」").arg(errorText);
    std::sort(times.begin(), times.end());
    result.medianMs = times[times.size() / 2];
    result.fastestMs = times.front();
    context.mailCheck->shutDown(true);
    context.msgForm.discard();
    context.controlPanel.discard();
    context.idPassForm.discard();
    context.setForm.discard();
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int size = argc > 2 ? std::atoi(argv[2]) : 20 * 1024;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 7;

    QTemporaryDir work(QStringLiteral("/tmp/kingyo-mailcheck.XXXXXX"));
    QFile::setPermissions(work.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                           | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    std::printf("mail check, click to notice, %d x %d bytes, %d runs\n", count, size, runs);
    std::printf("| server | median ms | fastest ms | longest UI stall ms | notice |\n|---|---|---|---|---|\n");
    const auto print = [](const char *name, const Result &result) {
        std::printf("| %s | %.1f | %.1f | %.1f | %s |\n", name, result.medianMs, result.fastestMs, result.longestStallMs,
                    qPrintable(result.shown));
        std::fflush(stdout);
    };
    for (const bool plain : {true, false}) {
        const QString serverDir = work.filePath(plain ? QStringLiteral("plain") : QStringLiteral("tls"));
        if (!pop3Server(QStringLiteral("start"), serverDir, plain)) {
            std::fprintf(stderr, "Dovecot did not start; see %s.log\n", qPrintable(serverDir));
            return 1;
        }
        fillMailbox(serverDir, count, size);
        QSettings env(serverDir + QStringLiteral("/env"), QSettings::IniFormat);
        const QString address = QStringLiteral("127.0.0.1:%1").arg(env.value(QStringLiteral("POP3_PORT")).toInt());
        const Result result = measure(address, serverDir, runs);
        pop3Server(QStringLiteral("stop"), serverDir, plain);
        print(plain ? "Dovecot, plain POP3" : "Dovecot, STLS", result);
    }
    QTcpServer silent; // accepts and never says a word: the step timeout ends the check
    silent.listen(QHostAddress::LocalHost);
    print("silent server", measure(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()), QString(), 1));
    return 0;
}
