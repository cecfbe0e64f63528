#pragma once
#include <QObject>
#include <QProcessEnvironment>
#include <QString>

#include <chrono>

class QLocalServer;
class QLocalSocket;

namespace kingyo {

// The socket through which one user's kingyo on one X display hears of later starts:
// "<folder>/display-<DISPLAY>.socket" in $XDG_RUNTIME_DIR/kingyo. When XDG_RUNTIME_DIR
// is unset or relative, the folder is "kingyo" in the user's cache folder
// ($XDG_CACHE_HOME, else HOME/.cache), where no other user can make it first; only
// without a home either, /tmp/kingyo-<uid>. The screen part of DISPLAY is dropped
// (":0" and ":0.0" are one desktop). Only computes the path.
QString instanceSocketPath(const QProcessEnvironment &environment, uint uid);

// Makes the socket's folder (mode 0700) when it is missing. False, with the reason,
// when it is not a real folder of this user that nobody else may enter: a symbolic
// link, another user's folder, or one open to others is never used.
bool makePrivateFolder(const QString &folder, QString *problem);

// This process's socket with its folder made (and the cache folder above it, when
// missing); empty (and said on stderr) when the folder cannot be used.
QString sessionSocketPath();

// One kingyo per user and display. start() either hands the start over to a kingyo that
// already runs there (it shows its control panel, and this process should end) or makes
// this one the kingyo that later starts reach.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Start {
        First,      // listening: a later start emits panelRequested()
        HandedOver, // the running kingyo answered
        Alone,      // nobody answered and no socket could be kept (said on stderr)
    };

    // socketPath empty: start() runs alone at once. The answer limit bounds each wait
    // for another kingyo.
    explicit SingleInstance(QString socketPath, std::chrono::milliseconds answerLimit = std::chrono::seconds(1),
                            QObject *parent = nullptr);

    // Blocks for at most three times the answer limit; needs no event loop. Starts that
    // happen at once take turns (a lock on the socket's folder), so exactly one of them
    // listens. A socket file nobody accepts on (left by a crash) is taken over; a kingyo
    // that accepts but does not answer keeps its socket, and this one runs alone.
    Start start();

    // Later starts no longer reach this kingyo, which is ending: they start on their own
    // instead of waiting for an answer that would not come.
    void stopListening();

signals:
    // A later start asked for the control panel; the answer is already on its way.
    void panelRequested();

private:
    enum class Answer { Nobody, Silent, Answered };
    Answer askRunningInstance();
    bool listen();
    void answer(QLocalSocket *caller);

    QString socketPath_;
    std::chrono::milliseconds answerLimit_;
    QLocalServer *server_ = nullptr;
};

} // namespace kingyo
