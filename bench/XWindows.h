// What the window benchmarks ask of the X display: whether a window is a program's main window
// (mapped, not a pop-up, at least kMinSide pixels each way), and dropping the events they do not
// read.
#pragma once

#include <X11/Xlib.h>

namespace benchx {

constexpr int kMinSide = 100;

inline void drainEvents(Display* display) {
    XSync(display, False);
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
    }
}

inline bool isMainWindow(Display* display, Window window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes))
        return false;
    return !attributes.override_redirect && attributes.width >= kMinSide &&
           attributes.height >= kMinSide;
}

} // namespace benchx
