// Rates outside the POSIX list (14400, 28800, 56000, 128000) go through the Linux termios2
// interface, whose header cannot live beside <termios.h> in one translation unit.
#pragma once

namespace kba604::platform::detail {

// Sets the rate with BOTHER on the open terminal fd and reads back the rate the driver took
// into *actual. False when the system or the driver has no such interface.
bool set_custom_baud(int fd, unsigned baud, unsigned* actual);

// Reads the current output rate through termios2; false when unavailable.
bool get_custom_baud(int fd, unsigned* actual);

}  // namespace kba604::platform::detail
