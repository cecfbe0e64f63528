#pragma once
#include <QObject>

class QSocketNotifier;

namespace kingyo {

struct Program;
class BowlWindow;
class SingleInstance;

// Starts kingyo: the bowl window, its timers and the settings; returns the exit code.
int runApplication(int argc, char **argv);

// The program's ways out. Unloading (the bowl closed from outside, the session
// ending, SIGTERM, SIGINT or SIGHUP) ends the mail library and then the program; a right
// press on the bowl ends the program at once, leaving the mail library alone.
// Either way the event loops stop with exit code 0 and no other window's close
// handling runs; whichever comes first wins.
class ProgramLifetime : public QObject {
    Q_OBJECT
public:
    explicit ProgramLifetime(Program &program, QObject *parent = nullptr);

    // Routes the bowl's close and right press, the session's end and the
    // termination signals here.
    void watch(BowlWindow &bowl);

    void unload();
    void endNow();
    bool hasEnded() const { return ended_; }

private:
    void watchTerminationSignals();

    Program &program_;
    QSocketNotifier *signalNotifier_ = nullptr;
    bool ended_ = false;
};

// A later start of kingyo brings up the control panel.
void showPanelOnLaterStarts(Program &program, SingleInstance &instance);

// Deletes every window the holders keep, without their close handling.
void discardWindows(Program &program);

} // namespace kingyo
