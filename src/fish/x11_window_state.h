#pragma once
#include <QAbstractNativeEventFilter>
#include <QByteArrayList>

#include <functional>
#include <memory>

class QWindow;

namespace kingyo {

// Adds the named _NET_WM_STATE atoms (for example "_NET_WM_STATE_SKIP_TASKBAR") to a
// window that is about to be mapped; the window manager reads them when it maps the
// window. Keeps the states already there. Does nothing off X11.
void addNetWmStates(QWindow *window, const QByteArrayList &states);

// Sends the requests Qt has queued for the X server now. Qt flushes only when X
// events arrive, so a shape set from a timer on an idle desktop would otherwise wait
// for the next mouse move. Does nothing off X11.
void flushX11Requests();

// Calls gone(), from the event loop, once the X server has destroyed the window: another
// client destroyed it (as `xdotool windowclose` does), and no close event comes. Watches
// while the returned filter lives; null off X11.
std::unique_ptr<QAbstractNativeEventFilter> watchX11WindowDestroyed(QWindow *window, std::function<void()> gone);

} // namespace kingyo
