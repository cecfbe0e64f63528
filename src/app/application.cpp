#include "app/application.h"

#include "app/browser_sign_in.h"
#include "app/display_session.h"
#include "app/idle_watch.h"
#include "app/mail_check_windows.h"
#include "app/program.h"
#include "app/qt_translation.h"
#include "app/single_instance.h"
#include "app/startup_settings.h"
#include "app/windows_kept_apart.h"
#include "base/clock.h"
#include "base/random_source.h"
#include "fish/bowl_window.h"
#include "mail/dialup_hangup.h"
#include "mail/imap/imap_watcher.h"
#include "mail/network_mail_library.h"
#include "mail/wake_signals.h"
#include "panel/control_panel.h"
#include "panel/form_layout.h"
#include "panel/id_pass_form.h"
#include "panel/msg_form.h"
#include "panel/new_mail_notification.h"
#include "panel/option_form.h"
#include "panel/set_form.h"
#include "panel/sign_in_dialog.h"
#include "settings/secret_store.h"
#include "settings/server_trust.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kingyo {
namespace {

// SIGTERM, SIGINT and SIGHUP (the session or terminal ending) only write a byte
// here; the event loop reads it and unloads.
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

bool openSignalPipe()
{
    if (signalPipe[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    return true;
}

void drainSignalPipe()
{
    char buffer[64];
    while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
    }
}

QStringList argumentsOf(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

std::unique_ptr<QApplication> makeApplication(int &argc, char **argv, DisplayChoice display)
{
    const DisplayConnection connecting(display, qgetenv("DISPLAY"));
    // The bowl repaints a few small rectangles a few times a second. Sent through the
    // socket they cost less than through a shared-memory image, which makes each repaint
    // wait for a round trip to the X server first. The connection reads the choice once,
    // so programs kingyo starts (a browser) do not inherit it.
    const char *noSharedImages = "QT_XCB_NO_MITSHM";
    const bool chosenHere = !qEnvironmentVariableIsSet(noSharedImages);
    if (chosenHere)
        qputenv(noSharedImages, "1");
    auto application = std::make_unique<QApplication>(argc, argv);
    if (chosenHere)
        qunsetenv(noSharedImages);
    return application;
}

} // namespace

ProgramLifetime::ProgramLifetime(Program &program, QObject *parent) : QObject(parent), program_(program) {}

void ProgramLifetime::watch(BowlWindow &bowl)
{
    connect(&bowl, &BowlWindow::unloadRequested, this, &ProgramLifetime::unload);
    connect(&bowl, &BowlWindow::endRequested, this, &ProgramLifetime::endNow);
    // The session manager ends the program by quitting the application.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &ProgramLifetime::unload);
    watchTerminationSignals();
}

void ProgramLifetime::watchTerminationSignals()
{
    if (signalNotifier_ || !openSignalPipe())
        return;
    signalNotifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, [this] {
        drainSignalPipe();
        unload();
    });
}

void ProgramLifetime::unload()
{
    if (ended_)
        return;
    if (program_.mailCheck)
        program_.mailCheck->shutDown(true); // every session closes at once, nothing waits on a server
    else if (program_.mail)
        program_.mail->end();
    endNow();
}

void ProgramLifetime::endNow()
{
    if (ended_)
        return;
    ended_ = true;
    if (program_.mailCheck)
        program_.mailCheck->shutDown(false); // a check under way gives up; nothing waits on the server
    // Hidden now, deleted once the event loops have returned, so no handler still on
    // the stack loses its window.
    for (QWidget *window : QApplication::topLevelWidgets())
        window->hide();
    QCoreApplication::exit(0);
}

void discardWindows(Program &program)
{
    program.signInDialog.discard();
    program.msgForm.discard();
    program.optionForm.discard();
    program.idPassForm.discard();
    program.setForm.discard();
    program.controlPanel.discard();
}

void showPanelOnLaterStarts(Program &program, SingleInstance &instance)
{
    QObject::connect(&instance, &SingleInstance::panelRequested, &instance,
                     [&program] { program.controlPanel.show(); });
}

int runApplication(int argc, char **argv)
{
    const DisplayChoice display = chooseDisplay(QProcessEnvironment::systemEnvironment(), argumentsOf(argc, argv));
    if (display == DisplayChoice::NoDisplay) {
        printErrorLine(noDisplayMessage());
        return kNoDisplayExitCode;
    }
    const std::unique_ptr<QApplication> app = makeApplication(argc, argv, display);
    SingleInstance instance(sessionSocketPath());
    if (instance.start() == SingleInstance::Start::HandedOver)
        return 0;
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(form::programIcon()); // message boxes show it too
    translateQtIntoJapanese(*app);
    SystemRandom random;
    SystemClock clock;
    const AppPaths paths = AppPaths::forRunningProgram();
    ServerTrust serverTrust(paths.serverTrustFile());
    Pop3Settings mailSettings;
    mailSettings.trust = &serverTrust;
    NetworkMailLibrary mail(mailSettings);
    ConnectionSettings watchSettings = mailSettings;
    watchSettings.keepAlive = true; // the IDLE connection stays open for hours
    ImapWatcher imapWatcher(watchSettings, random);
    mail.setLender(&imapWatcher); // a check of the watched account costs no login
    WakeSignals wake(QDBusConnection::systemBus());
    DialupHangup hangup(QDBusConnection::systemBus());
    NewMailNotification notification([] { return QDBusConnection::sessionBus(); },
                                     form::programIcon().pixmap(64).toImage());
    const SecretStore keyring(QStringLiteral("kingyo"));
    Program program; // after the services it uses, so it goes first
    program.settings.setPaths(paths);
    program.settings.passwords().useStore(&keyring);
    program.settings.refreshToken().useStore(&keyring);
    program.random = &random;
    program.clock = &clock;
    program.mail = &mail;
    program.hangup = &hangup;
    program.serverTrust = &serverTrust;
    wireWindows(program);
    wireSignIn(program);
    wireMailCheck(program);
    wireNotification(program, notification);
    wireIdleWatch(program, imapWatcher, wake);

    BowlWindow bowl(random, clock);
    wireBowl(program, bowl);
    keepWindowsApart(program);
    ProgramLifetime lifetime(program);
    lifetime.watch(bowl);
    showPanelOnLaterStarts(program, instance);
    loadSettingsAtStartup(program);
    bowl.show();

    const int exitCode = QApplication::exec();
    instance.stopListening();
    discardWindows(program);
    if (program.mailCheck && !program.mailCheck->shutDown(false)) {
        // The seen-ID writer did not stop in time: leave without waiting for it.
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}

} // namespace kingyo
