#include "panel/frame_moves.h"

#include "fish/x11_connection.h"

#include <QCoreApplication>
#include <QWidget>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

namespace kingyo {

FrameMoves::FrameMoves(QWidget *window) : QObject(window), window_(window)
{
#if QT_CONFIG(xcb)
    if (!x11Connection())
        return;
    QCoreApplication::instance()->installNativeEventFilter(this);
    // A window already framed is not reparented again: find its frame now.
    if (const WId client = window_->internalWinId()) {
        const XcbReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(x11Connection(), xcb_query_tree(x11Connection(), xcb_window_t(client)), nullptr),
            &std::free);
        if (tree)
            watchFrameAround(tree->parent);
    }
#endif
}

bool FrameMoves::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
#if QT_CONFIG(xcb)
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    switch (event->response_type & ~0x80) {
    case XCB_REPARENT_NOTIFY: {
        const auto *reparent = reinterpret_cast<const xcb_reparent_notify_event_t *>(event);
        if (WId(reparent->window) == window_->internalWinId())
            watchFrameAround(reparent->parent);
        break;
    }
    case XCB_CONFIGURE_NOTIFY: {
        const auto *configure = reinterpret_cast<const xcb_configure_notify_event_t *>(event);
        if (frame_ && configure->window == frame_ && configure->event == frame_)
            reportClientPosition();
        break;
    }
    case XCB_DESTROY_NOTIFY:
        if (reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window == frame_)
            frame_ = 0;
        break;
    default:
        break;
    }
#else
    Q_UNUSED(eventType);
    Q_UNUSED(message);
#endif
    return false;
}

void FrameMoves::watchFrameAround(quint32 parent)
{
#if QT_CONFIG(xcb)
    xcb_connection_t *connection = x11Connection();
    frame_ = 0;
    // Up to the child of the root window: that is what the window manager moves.
    for (xcb_window_t window = parent; window != XCB_NONE;) {
        const XcbReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr), &std::free);
        if (!tree || tree->root == window)
            return; // gone, or no frame: the window itself sits on the root window
        if (tree->parent == tree->root) {
            frame_ = window;
            root_ = tree->root;
            break;
        }
        window = tree->parent;
    }
    if (!frame_)
        return;
    // Only this program's own event mask on that window changes; the window manager's stays.
    const quint32 mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, frame_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
#else
    Q_UNUSED(parent);
#endif
}

void FrameMoves::reportClientPosition()
{
#if QT_CONFIG(xcb)
    xcb_connection_t *connection = x11Connection();
    const WId client = window_->internalWinId();
    if (!client)
        return;
    const XcbReply<xcb_translate_coordinates_reply_t> onRoot(
        xcb_translate_coordinates_reply(
            connection, xcb_translate_coordinates(connection, xcb_window_t(client), root_, 0, 0), nullptr),
        &std::free);
    if (onRoot)
        emit clientMoved((QPointF(onRoot->dst_x, onRoot->dst_y) / window_->devicePixelRatioF()).toPoint());
#endif
}

} // namespace kingyo
