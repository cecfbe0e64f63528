// Retrieves a whole mailbox the way a mail check does (connect, log in, then
// status, size and fetch of every message, close) and prints what it took:
//   pop3_bench SERVER USER PASSWORD [CA_FILE]
// Output: "<messages> messages, <bytes> bytes, <seconds> s, peak RSS growth <kB> kB".
#include "mail/blocking_pop3.h"
#include "mail/qt_printers.h"
#include "support/process_memory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

using kingyo::describe;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SERVER USER PASSWORD [CA_FILE]\n", argv[0]);
        return 2;
    }
    kingyo::Pop3Settings settings;
    if (argc > 4)
        settings.extraCaCertificates = QSslCertificate::fromPath(QString::fromLocal8Bit(argv[4]));
    kingyo::test::BlockingMailLibrary library(settings);
    library.initialize();
    library.setOption(1, 8192);

    kingyo::test::resetPeakMemory(); // the peak from here on belongs to the retrieval
    const long long rssBefore = kingyo::test::statusKilobytes("VmRSS");
    QElapsedTimer clock;
    clock.start();
    const int handle = library.connect(QString::fromLocal8Bit(argv[1]));
    if (handle < 0) {
        std::fprintf(stderr, "connect: %s\n", describe(library.lastFailure()).c_str());
        return 1;
    }
    const int count = library.authenticate(handle, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), false);
    if (count < 0) {
        std::fprintf(stderr, "authenticate: %s\n", describe(library.lastFailure()).c_str());
        return 1;
    }
    long long bytes = 0;
    for (int k = 1; k <= count; ++k) {
        if (library.mailStatus(handle, k) < 0 || library.mailSize(handle, k) < 0 || library.fetchMail(handle, k) < 0) {
            std::fprintf(stderr, "message %d: %s\n", k, describe(library.lastFailure()).c_str());
            return 1;
        }
        bytes += library.lastBodySize(handle);
    }
    library.close(handle);
    const double seconds = clock.nsecsElapsed() / 1e9;
    library.end();
    std::printf("%d messages, %lld bytes, %.3f s, peak RSS growth %lld kB\n", count, bytes, seconds,
                kingyo::test::statusKilobytes("VmHWM") - rssBefore);
    return 0;
}
