// Tries to take the keyboard from another connection to the display, the way a window manager's
// shortcut would, and reports whether some client holds it.
#include <X11/Xlib.h>

int main() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 2;
  int result = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                             GrabModeAsync, CurrentTime);
  if (result == GrabSuccess) XUngrabKeyboard(display, CurrentTime);
  XCloseDisplay(display);
  return result == GrabSuccess ? 0 : 3;
}
