#include "x11_client.h"

#include <cstring>

namespace kingyo::e2e {

X11Client::X11Client()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    connection_ = connection;
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
}

X11Client::~X11Client()
{
    if (connection_)
        xcb_disconnect(connection_);
}

Geometry X11Client::screen() const { return {0, 0, screen_->width_in_pixels, screen_->height_in_pixels}; }

void X11Client::warpPointer(int x, int y)
{
    xcb_warp_pointer(connection_, XCB_NONE, screen_->root, 0, 0, 0, 0, static_cast<std::int16_t>(x),
                     static_cast<std::int16_t>(y));
    xcb_flush(connection_);
}

std::pair<int, int> X11Client::pointer()
{
    auto r = reply(xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, screen_->root), nullptr));
    return r ? std::pair<int, int>{r->root_x, r->root_y} : std::pair<int, int>{-1, -1};
}

xcb_atom_t X11Client::atom(const char *name)
{
    auto r = reply(xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    return r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

std::string X11Client::atomName(xcb_atom_t atom)
{
    auto r = reply(xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, atom), nullptr));
    return r ? std::string(xcb_get_atom_name_name(r.get()), xcb_get_atom_name_name_length(r.get())) : std::string();
}

void X11Client::collect(xcb_window_t parent, const std::string &instance, std::vector<xcb_window_t> &found)
{
    auto tree = reply(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, parent), nullptr));
    if (!tree)
        return;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        const xcb_window_t child = children[i];
        auto attributes = reply(
            xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, child), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        auto wmClass = reply(xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, child, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr));
        if (wmClass && xcb_get_property_value_length(wmClass.get()) > 0) {
            const char *value = static_cast<const char *>(xcb_get_property_value(wmClass.get()));
            // WM_CLASS is "instance\0class\0".
            const std::string first(value, strnlen(value, xcb_get_property_value_length(wmClass.get())));
            if (first == instance)
                found.push_back(child);
        }
        collect(child, instance, found);
    }
}

std::vector<xcb_window_t> X11Client::windowsOfClass(const std::string &instance)
{
    std::vector<xcb_window_t> found;
    collect(screen_->root, instance, found);
    return found;
}

Geometry X11Client::geometry(xcb_window_t window)
{
    auto size = reply(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
    auto place = reply(xcb_translate_coordinates_reply(
        connection_, xcb_translate_coordinates(connection_, window, screen_->root, 0, 0), nullptr));
    if (!size || !place)
        return {};
    return {place->dst_x, place->dst_y, size->width, size->height};
}

std::vector<std::uint8_t> X11Client::pixels(xcb_window_t window)
{
    const Geometry size = geometry(window);
    auto image = reply(xcb_get_image_reply(connection_,
                                           xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0,
                                                         size.width, size.height, ~0u),
                                           nullptr));
    if (!image)
        return {};
    const std::uint8_t *data = xcb_get_image_data(image.get());
    return {data, data + xcb_get_image_data_length(image.get())};
}

std::vector<xcb_rectangle_t> X11Client::boundingShape(xcb_window_t window)
{
    auto r = reply(xcb_shape_get_rectangles_reply(
        connection_, xcb_shape_get_rectangles(connection_, window, XCB_SHAPE_SK_BOUNDING), nullptr));
    if (!r)
        return {};
    const xcb_rectangle_t *rects = xcb_shape_get_rectangles_rectangles(r.get());
    return {rects, rects + xcb_shape_get_rectangles_rectangles_length(r.get())};
}

bool X11Client::isShaped(xcb_window_t window)
{
    auto r = reply(xcb_shape_query_extents_reply(connection_, xcb_shape_query_extents(connection_, window), nullptr));
    return r && r->bounding_shaped;
}

std::vector<std::string> X11Client::netWmState(xcb_window_t window)
{
    auto r = reply(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 64), nullptr));
    std::vector<std::string> names;
    if (!r || r->format != 32)
        return names;
    const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(r.get()));
    for (int i = 0; i < xcb_get_property_value_length(r.get()) / 4; ++i)
        names.push_back(atomName(atoms[i]));
    return names;
}

std::string X11Client::title(xcb_window_t window)
{
    auto r = reply(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 0, 256),
        nullptr));
    if (!r)
        return {};
    return std::string(static_cast<const char *>(xcb_get_property_value(r.get())),
                       xcb_get_property_value_length(r.get()));
}

FrameExtents X11Client::frameExtents(xcb_window_t window)
{
    auto r = reply(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 0, 4),
        nullptr));
    if (!r || r->format != 32 || xcb_get_property_value_length(r.get()) != 16)
        return {};
    const auto *values = static_cast<const std::uint32_t *>(xcb_get_property_value(r.get()));
    return {int(values[0]), int(values[1]), int(values[2]), int(values[3])};
}

xcb_window_t X11Client::activeWindow()
{
    auto r = reply(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, screen_->root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1),
        nullptr));
    if (!r || r->format != 32 || xcb_get_property_value_length(r.get()) != 4)
        return XCB_NONE;
    return *static_cast<const xcb_window_t *>(xcb_get_property_value(r.get()));
}

void X11Client::requestClose(xcb_window_t window)
{
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom("WM_PROTOCOLS");
    message.data.data32[0] = atom("WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&message));
    xcb_flush(connection_);
}

void X11Client::requestMove(xcb_window_t window, int x, int y)
{
    const std::uint32_t values[] = {static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)};
    xcb_configure_window(connection_, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    xcb_flush(connection_);
}

} // namespace kingyo::e2e
