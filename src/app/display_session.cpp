#include "app/display_session.h"

#include <QtGlobal>

#include <cstdio>
#include <unistd.h>

namespace kingyo {
namespace {

constexpr char kPlatformVariable[] = "QT_QPA_PLATFORM";

// Qt reads "-platform NAME" (or "--platform NAME") from the command line before its
// environment variable.
bool choosesPlatform(const QStringList &arguments)
{
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("-platform") || arguments[i] == QLatin1String("--platform"))
            return true;
    }
    return false;
}

// Set while the application connects to the X server; Qt ends a failed connection with
// a fatal message and abort().
QByteArray guardedDisplay;
QtMessageHandler earlierHandler = nullptr;

void endOnFatalMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        if (earlierHandler)
            earlierHandler(type, context, message);
        return;
    }
    // Qt's own warning before this one names the reason; its fatal text would only
    // suggest reinstalling.
    printErrorLine(unreachableDisplayMessage(guardedDisplay));
    ::_exit(kNoDisplayExitCode);
}

} // namespace

DisplayChoice chooseDisplay(const QProcessEnvironment &environment, const QStringList &arguments)
{
    if (!environment.value(QLatin1String(kPlatformVariable)).isEmpty() || choosesPlatform(arguments))
        return DisplayChoice::UsersPlatform;
    // Qt would pick Wayland in a Wayland session; X11 is asked for whenever there is an
    // X display, so one rule covers both kinds of session.
    if (!environment.value(QStringLiteral("DISPLAY")).isEmpty())
        return DisplayChoice::X11;
    return DisplayChoice::NoDisplay;
}

void printErrorLine(const QString &line)
{
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

QString noDisplayMessage()
{
    return QStringLiteral("kingyo: no X display (DISPLAY is not set); start kingyo in an X11 or XWayland session");
}

QString unreachableDisplayMessage(const QByteArray &display)
{
    return QStringLiteral("kingyo: cannot open the X display %1; start kingyo in an X11 or XWayland session")
        .arg(QString::fromUtf8(display));
}

DisplayConnection::DisplayConnection(DisplayChoice choice, const QByteArray &display)
{
    if (choice != DisplayChoice::X11)
        return;
    qputenv(kPlatformVariable, "xcb");
    guardedDisplay = display;
    earlierHandler = qInstallMessageHandler(endOnFatalMessage);
    guarding_ = true;
}

DisplayConnection::~DisplayConnection()
{
    if (!guarding_)
        return;
    qInstallMessageHandler(earlierHandler);
    qunsetenv(kPlatformVariable);
}

} // namespace kingyo
