// Retrieves a whole mailbox the way a mail check does (connect, log in, then
// status, size and fetch of every message, close) and prints what it took:
//   pop3_bench SERVER USER PASSWORD [CA_FILE]
// Output: "<messages> messages, <bytes> bytes, <seconds> s, peak RSS growth <kB> kB".
#include "mail/network_mail_library.h"
#include "mail/qt_printers.h"
#include "support/process_memory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <functional>

using namespace kingyo;

namespace {

// The library's calls chained by their answers, on the event loop, as the mail check
// makes them.
class Retrieval {
public:
    Retrieval(NetworkMailLibrary &library, QString user, QString password)
        : library_(library), user_(std::move(user)), password_(std::move(password))
    {
    }

    void start(const QString &server)
    {
        library_.connect(server, QDeadlineTimer(QDeadlineTimer::Forever), [this](std::int64_t handle) {
            if (handle < 0)
                return fail("connect");
            handle_ = int(handle);
            library_.authenticate(handle_, user_, password_, false, MailLibrary::Use::Fetch,
                                  [this](std::int64_t count) {
                                      if (count < 0)
                                          return fail("authenticate");
                                      count_ = int(count);
                                      fetchFrom(1);
                                  });
        });
    }

    int count_ = 0;
    long long bytes_ = 0;

private:
    void fetchFrom(int message)
    {
        if (message > count_) {
            library_.close(handle_);
            QCoreApplication::exit(0);
            return;
        }
        if (library_.mailStatus(handle_, message) < 0 || library_.mailSize(handle_, message) < 0)
            return fail("status or size");
        library_.fetchMail(handle_, message, [this, message](std::int64_t result) {
            if (result < 0)
                return fail("fetch");
            bytes_ += library_.lastBodySize(handle_);
            fetchFrom(message + 1);
        });
    }
    void fail(const char *step)
    {
        std::fprintf(stderr, "%s: %s\n", step, describe(library_.lastFailure()).c_str());
        QCoreApplication::exit(1);
    }

    NetworkMailLibrary &library_;
    QString user_;
    QString password_;
    int handle_ = -1;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SERVER USER PASSWORD [CA_FILE]\n", argv[0]);
        return 2;
    }
    Pop3Settings settings;
    if (argc > 4)
        settings.extraCaCertificates = QSslCertificate::fromPath(QString::fromLocal8Bit(argv[4]));
    NetworkMailLibrary library(settings);
    library.initialize();
    library.setOption(1, 8192);

    test::resetPeakMemory(); // the peak from here on belongs to the retrieval
    const long long rssBefore = test::statusKilobytes("VmRSS");
    QElapsedTimer clock;
    clock.start();
    Retrieval retrieval(library, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    retrieval.start(QString::fromLocal8Bit(argv[1]));
    if (const int failed = QCoreApplication::exec(); failed != 0)
        return failed;
    const double seconds = clock.nsecsElapsed() / 1e9;
    library.end();
    std::printf("%d messages, %lld bytes, %.3f s, peak RSS growth %lld kB\n", retrieval.count_, retrieval.bytes_,
                seconds, test::statusKilobytes("VmHWM") - rssBefore);
    return 0;
}
