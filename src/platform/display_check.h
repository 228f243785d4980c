// Whether the window can be shown, decided before the application object is made: Qt ends the
// process when its platform cannot reach the display, and a DISPLAY inherited through ssh,
// cron or sudo often names a server that is gone.
#pragma once

#include <string>

namespace kba604::platform {

struct DisplayCheck {
  bool available = false;
  // Why not, in one line, when a display was named but cannot be reached; empty otherwise.
  std::string note;
};

// QT_QPA_PLATFORM naming a platform that needs no server (offscreen, minimal, vnc...) counts as
// a display. Otherwise a Wayland socket ($WAYLAND_DISPLAY) or an X server ($DISPLAY) must take
// a connection; the X check goes through libxcb, loaded only for the check.
DisplayCheck check_display();

}  // namespace kba604::platform
