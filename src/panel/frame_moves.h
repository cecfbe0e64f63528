#pragma once
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPoint>

class QWidget;

namespace kingyo {

// Reports where a window is while the window manager moves its frame. Some window
// managers (openbox) tell the window where it went only once a drag has ended; the
// frame's own moves are reported all along, so this watches those. Costs nothing while
// the frame stays still. Reports nothing off X11 or while the window has no frame.
class FrameMoves : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit FrameMoves(QWidget *window);

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    // The window's client area now starts here on the desktop (its geometry's top-left).
    void clientMoved(QPoint topLeft);

private:
    void watchFrameAround(quint32 parent);
    void reportClientPosition();

    QWidget *window_;
    quint32 frame_ = 0; // the outermost window the window manager put around ours
    quint32 root_ = 0;
};

} // namespace kingyo
