#pragma once
#include <cstdlib>
#include <memory>

struct xcb_connection_t;

namespace kingyo {

// A reply xcb allocated for the caller, freed with free().
template <class T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

// The application's X connection; null off X11 (offscreen among them, which may offer
// the X11 interface without a connection).
xcb_connection_t *x11Connection();

} // namespace kingyo
