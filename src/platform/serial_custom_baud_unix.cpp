#include "platform/serial_custom_baud.h"

#if defined(__linux__)
#include <asm/ioctls.h>
#include <asm/termbits.h>

// <sys/ioctl.h> would bring in the libc termios types that clash with the kernel's.
extern "C" int ioctl(int fd, unsigned long request, ...);
#endif

namespace kba604::platform::detail {

#if defined(__linux__)

bool set_custom_baud(int fd, unsigned baud, unsigned* actual) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  if (ioctl(fd, TCSETS2, &t) != 0) return false;
  return get_custom_baud(fd, actual);
}

bool get_custom_baud(int fd, unsigned* actual) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  *actual = t.c_ospeed;
  return true;
}

#else

bool set_custom_baud(int, unsigned, unsigned*) {
  return false;
}
bool get_custom_baud(int, unsigned*) {
  return false;
}

#endif

}  // namespace kba604::platform::detail
