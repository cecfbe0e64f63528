#include "app/single_instance.h"

#include "settings/app_paths.h"
#include "settings/settings_storage.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kingyo {
namespace {

// A later start sends the request line; the running kingyo answers with the answer line.
constexpr char kRequest[] = "show-panel\n";
constexpr char kAnswer[] = "ok\n";
constexpr qint64 kLongestRequest = 64;

// The screen number does not make another desktop: ":0.1" is still ":0".
QString displayKey(const QProcessEnvironment &environment)
{
    QString display = environment.value(QStringLiteral("DISPLAY"));
    if (display.isEmpty()) {
        const QString wayland = environment.value(QStringLiteral("WAYLAND_DISPLAY"));
        display = wayland.isEmpty() ? QStringLiteral("none") : QStringLiteral("wayland-") + wayland;
    } else {
        static const QRegularExpression screen(QStringLiteral("(:\\d+)\\.\\d+$"));
        display.replace(screen, QStringLiteral("\\1"));
    }
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._:-]"));
    return display.replace(unsafe, QStringLiteral("_"));
}

void warn(const QString &what) { qWarning().noquote() << QStringLiteral("kingyo:") << what; }

// The turn to start: a lock on the socket's folder, which the system drops when the
// holder ends, however it ends, so a crash never leaves it behind.
class StartTurn {
public:
    explicit StartTurn(const QString &folder)
        : folder_(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~StartTurn()
    {
        if (folder_ >= 0)
            ::close(folder_); // gives the turn back
    }
    StartTurn(const StartTurn &) = delete;
    StartTurn &operator=(const StartTurn &) = delete;

    // Waits for the turn until the deadline; false when it did not come.
    bool take(const QDeadlineTimer &deadline)
    {
        while (folder_ >= 0) {
            if (::flock(folder_, LOCK_EX | LOCK_NB) == 0)
                return true;
            if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired())
                return false;
            QThread::msleep(5);
        }
        return false;
    }

private:
    int folder_;
};

void hangUp(QLocalSocket *caller)
{
    caller->abort();
    caller->deleteLater();
}

} // namespace

QString instanceSocketPath(const QProcessEnvironment &environment, uint uid)
{
    QString base = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    if (!QDir::isAbsolutePath(base))
        base = xdgBaseFolder(environment, QStringLiteral("XDG_CACHE_HOME"), environment.value(QStringLiteral("HOME")),
                             QStringLiteral("/.cache"));
    const QString folder = base.isEmpty() ? QStringLiteral("/tmp/kingyo-%1").arg(uid)
                                          : QDir::cleanPath(base) + QStringLiteral("/kingyo");
    return folder + QStringLiteral("/display-") + displayKey(environment) + QStringLiteral(".socket");
}

bool makePrivateFolder(const QString &folder, QString *problem)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *problem = QStringLiteral("cannot make %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat status = {};
    if (::lstat(path.constData(), &status) != 0) {
        *problem = QStringLiteral("cannot read %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() || (status.st_mode & 077) != 0) {
        *problem = QStringLiteral("%1 is not a folder of this user's alone (mode 0700)").arg(folder);
        return false;
    }
    return true;
}

QString sessionSocketPath()
{
    const QString path = instanceSocketPath(QProcessEnvironment::systemEnvironment(), ::geteuid());
    const QString folder = QFileInfo(path).path();
    // A runtime folder is there already; a cache folder may be missing.
    QString problem = kingyo::makePrivateFolder(QFileInfo(folder).path());
    if (problem.isEmpty() && makePrivateFolder(folder, &problem))
        return path;
    warn(problem + QStringLiteral("; this kingyo runs on its own"));
    return {};
}

SingleInstance::SingleInstance(QString socketPath, std::chrono::milliseconds answerLimit, QObject *parent)
    : QObject(parent), socketPath_(std::move(socketPath)), answerLimit_(answerLimit)
{
}

SingleInstance::Start SingleInstance::start()
{
    if (socketPath_.isEmpty())
        return Start::Alone;
    StartTurn turn(QFileInfo(socketPath_).path());
    if (!turn.take(QDeadlineTimer(2 * answerLimit_))) {
        warn(QStringLiteral("another kingyo is still starting; this one runs on its own"));
        return Start::Alone;
    }
    switch (askRunningInstance()) {
    case Answer::Answered:
        return Start::HandedOver;
    case Answer::Silent:
        warn(QStringLiteral("the kingyo at %1 does not answer; this one runs on its own").arg(socketPath_));
        return Start::Alone;
    case Answer::Nobody:
        break;
    }
    return listen() ? Start::First : Start::Alone;
}

SingleInstance::Answer SingleInstance::askRunningInstance()
{
    const QDeadlineTimer deadline(answerLimit_);
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(deadline.remainingTime())) {
        const bool nobody = socket.error() == QLocalSocket::ServerNotFoundError ||
                            socket.error() == QLocalSocket::ConnectionRefusedError;
        return nobody ? Answer::Nobody : Answer::Silent;
    }
    socket.write(kRequest);
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(deadline.remainingTime()))
            return Answer::Silent;
    }
    return socket.readLine(kLongestRequest) == kAnswer ? Answer::Answered : Answer::Silent;
}

bool SingleInstance::listen()
{
    // Nobody accepted on a socket file there just now, and the start turn keeps others
    // from listening meanwhile: a kingyo that ended without closing it left it behind.
    QLocalServer::removeServer(socketPath_);
    server_ = new QLocalServer(this);
    if (!server_->listen(socketPath_)) {
        warn(QStringLiteral("cannot listen at %1: %2; this one runs on its own").arg(socketPath_, server_->errorString()));
        delete server_;
        server_ = nullptr;
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *caller = server_->nextPendingConnection())
            answer(caller);
    });
    return true;
}

void SingleInstance::stopListening()
{
    delete server_; // closing removes the socket file
    server_ = nullptr;
}

// A caller that says nothing sensible within the answer limit is dropped.
void SingleInstance::answer(QLocalSocket *caller)
{
    connect(caller, &QLocalSocket::disconnected, caller, &QObject::deleteLater);
    QTimer::singleShot(answerLimit_, caller, [caller] { hangUp(caller); });
    connect(caller, &QLocalSocket::readyRead, this, [this, caller] {
        if (!caller->canReadLine()) {
            if (caller->bytesAvailable() > kLongestRequest)
                hangUp(caller);
            return;
        }
        const bool asksForPanel = caller->readLine(kLongestRequest) == kRequest;
        if (asksForPanel)
            caller->write(kAnswer);
        caller->disconnectFromServer(); // after the answer has gone out
        if (asksForPanel)
            emit panelRequested();
    });
}

} // namespace kingyo
