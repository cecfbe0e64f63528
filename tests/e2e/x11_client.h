#pragma once
#include <xcb/xcb.h>
#include <xcb/shape.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kingyo::e2e {

template <class T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <class T>
Reply<T> reply(T *raw)
{
    return Reply<T>(raw, &std::free);
}

// What a window looks like from outside: its place on the root window and its size.
struct Geometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The window manager's frame around a client window (_NET_FRAME_EXTENTS).
struct FrameExtents {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};

// A plain X client that asks the server about other clients' windows, as a window
// manager or a desktop tool would.
class X11Client {
public:
    X11Client();
    ~X11Client();
    X11Client(const X11Client &) = delete;
    X11Client &operator=(const X11Client &) = delete;

    bool connected() const { return connection_ != nullptr; }
    Geometry screen() const;

    void warpPointer(int x, int y);
    std::pair<int, int> pointer();

    // Viewable windows (at any depth) whose WM_CLASS instance is the given name.
    std::vector<xcb_window_t> windowsOfClass(const std::string &instance);
    Geometry geometry(xcb_window_t window);
    std::vector<xcb_rectangle_t> boundingShape(xcb_window_t window);
    // What the window shows now (its whole area, the server's pixel format); empty when
    // it cannot be read.
    std::vector<std::uint8_t> pixels(xcb_window_t window);
    bool isShaped(xcb_window_t window);
    std::vector<std::string> netWmState(xcb_window_t window);
    std::string title(xcb_window_t window); // _NET_WM_NAME, UTF-8
    FrameExtents frameExtents(xcb_window_t window); // all 0 without a frame
    // The window the window manager gave the keyboard (_NET_ACTIVE_WINDOW); XCB_NONE for none.
    xcb_window_t activeWindow();
    // Asks the window's client to close it, as a window manager's close button does.
    void requestClose(xcb_window_t window);
    // Asks (through the window manager) to move the window's top-left corner.
    void requestMove(xcb_window_t window, int x, int y);

private:
    xcb_atom_t atom(const char *name);
    std::string atomName(xcb_atom_t atom);
    void collect(xcb_window_t parent, const std::string &instance, std::vector<xcb_window_t> &found);

    xcb_connection_t *connection_ = nullptr;
    xcb_screen_t *screen_ = nullptr;
};

} // namespace kingyo::e2e
