#include "fish/x11_window_state.h"

#include "fish/x11_connection.h"

#include <QGuiApplication>
#include <QPointer>
#include <QWindow>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>
#endif

namespace kingyo {

#if QT_CONFIG(xcb)
namespace {

xcb_atom_t internAtom(xcb_connection_t *connection, const QByteArray &name)
{
    const XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection,
                              xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.constData()),
                              nullptr),
        &std::free);
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

std::vector<xcb_atom_t> atomListProperty(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t property)
{
    const XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, property, XCB_ATOM_ATOM, 0, 1024),
                               nullptr),
        &std::free);
    if (!reply || reply->type != XCB_ATOM_ATOM || reply->format != 32)
        return {};
    const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply.get()));
    return {atoms, atoms + xcb_get_property_value_length(reply.get()) / sizeof(xcb_atom_t)};
}

// The window's DestroyNotify, which reaches the window's own client through the
// structure events Qt selects on every top-level window.
class DestroyedWatch : public QAbstractNativeEventFilter {
public:
    DestroyedWatch(QWindow *window, std::function<void()> gone)
        : window_(window), id_(static_cast<xcb_window_t>(window->winId())), gone_(std::move(gone))
    {
    }

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t" || !gone_)
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) == XCB_DESTROY_NOTIFY
            && reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window == id_ && window_)
            QMetaObject::invokeMethod(window_, std::exchange(gone_, nullptr), Qt::QueuedConnection);
        return false;
    }

private:
    QPointer<QWindow> window_; // the call goes nowhere once it is deleted
    xcb_window_t id_;
    std::function<void()> gone_;
};

} // namespace
#endif

std::unique_ptr<QAbstractNativeEventFilter> watchX11WindowDestroyed(QWindow *window, std::function<void()> gone)
{
#if QT_CONFIG(xcb)
    if (!x11Connection() || !window)
        return nullptr;
    auto watch = std::make_unique<DestroyedWatch>(window, std::move(gone));
    qApp->installNativeEventFilter(watch.get());
    return watch;
#else
    Q_UNUSED(window);
    Q_UNUSED(gone);
    return nullptr;
#endif
}

xcb_connection_t *x11Connection()
{
#if QT_CONFIG(xcb)
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
#else
    return nullptr;
#endif
}

void addNetWmStates(QWindow *window, const QByteArrayList &states)
{
#if QT_CONFIG(xcb)
    xcb_connection_t *connection = x11Connection();
    if (!connection || !window)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t netWmState = internAtom(connection, QByteArrayLiteral("_NET_WM_STATE"));
    std::vector<xcb_atom_t> atoms = atomListProperty(connection, id, netWmState);
    for (const QByteArray &name : states) {
        const xcb_atom_t atom = internAtom(connection, name);
        if (atom != XCB_ATOM_NONE && std::find(atoms.begin(), atoms.end(), atom) == atoms.end())
            atoms.push_back(atom);
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, netWmState, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(atoms.size()), atoms.data());
    xcb_flush(connection);
#else
    Q_UNUSED(window);
    Q_UNUSED(states);
#endif
}

void flushX11Requests()
{
#if QT_CONFIG(xcb)
    if (xcb_connection_t *connection = x11Connection())
        xcb_flush(connection);
#endif
}

} // namespace kingyo
