#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/serial_custom_baud.h"
#include "platform/terminal.h"

namespace kba604::platform {
namespace {

struct SpeedCode {
  int baud;
  speed_t code;
};
// The rates the POSIX interface names; every other rate goes through BOTHER.
constexpr SpeedCode kSpeedCodes[] = {{110, B110},     {300, B300},       {600, B600},
                                     {1200, B1200},   {2400, B2400},     {4800, B4800},
                                     {9600, B9600},   {19200, B19200},   {38400, B38400},
                                     {57600, B57600}, {115200, B115200}, {230400, B230400}};

speed_t posix_speed(int baud) {
  for (const SpeedCode& s : kSpeedCodes) {
    if (s.baud == baud) return s.code;
  }
  return B0;
}

int rate_of(speed_t code) {
  for (const SpeedCode& s : kSpeedCodes) {
    if (s.code == code) return s.baud;
  }
  return 0;
}

// The character format bits that must read back as they were set.
constexpr tcflag_t kFormatBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

// A rate that the driver could only approximate is still usable while it stays within the
// tolerance of an asynchronous line (the receiver samples each bit in its middle).
bool rate_close_enough(unsigned wanted, unsigned actual) {
  const double diff = static_cast<double>(actual) - static_cast<double>(wanted);
  return std::abs(diff) <= 0.03 * wanted;
}

}  // namespace

int open_terminal(const std::string& path, bool non_blocking) {
  return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | (non_blocking ? O_NONBLOCK : 0));
}

bool is_pseudo_terminal(int fd) {
  // The terminal side (/dev/pts/N) has one of these major numbers; only a master answers
  // TIOCGPTN.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
    const unsigned m = major(st.st_rdev);
    if (m >= 136 && m <= 143) return true;
  }
  unsigned number = 0;
  return ::ioctl(fd, TIOCGPTN, &number) == 0;
}

bool apply_terminal_settings(int fd, const SerialSettings& s, bool pseudo_terminal,
                             bool mark_line_errors) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return false;
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(kFormatBits | CRTSCTS);
  switch (s.data_bits) {
    case 5:
      t.c_cflag |= CS5;
      break;
    case 6:
      t.c_cflag |= CS6;
      break;
    case 7:
      t.c_cflag |= CS7;
      break;
    default:
      t.c_cflag |= CS8;
      break;
  }
  switch (s.parity) {
    case Parity::None:
      break;
    case Parity::Even:
      t.c_cflag |= PARENB;
      break;
    case Parity::Odd:
      t.c_cflag |= PARENB | PARODD;
      break;
    case Parity::Mark:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case Parity::Space:
      t.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (s.stop_bits == 2) t.c_cflag |= CSTOPB;
  t.c_iflag &= ~(IGNPAR | IGNBRK | BRKINT | ISTRIP | INPCK | IXON | IXOFF | IXANY | PARMRK);
  if (mark_line_errors) t.c_iflag |= PARMRK;
  if (s.parity != Parity::None) t.c_iflag |= INPCK;
  if (s.data_bits < 8) t.c_iflag |= ISTRIP;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;

  const speed_t speed = posix_speed(s.baud_rate);
  ::cfsetispeed(&t, speed == B0 ? B38400 : speed);
  ::cfsetospeed(&t, speed == B0 ? B38400 : speed);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    // On a pseudo-terminal the C library reports EINVAL after the kernel has taken the
    // settings but dropped the parity-enable bit or the character size, which such a terminal
    // does not keep (whether it says so depends on what was set before). The read-back below
    // checks what counts.
    if (!pseudo_terminal || errno != EINVAL) return false;
  }

  // tcsetattr reports success when any part was taken: read everything back.
  errno = 0;
  termios r{};
  if (::tcgetattr(fd, &r) != 0) return false;
  // A pseudo-terminal always reports 8 bits without parity; a real line must keep the format.
  if (!pseudo_terminal && (r.c_cflag & kFormatBits) != (t.c_cflag & kFormatBits)) return false;
  if (speed != B0) return ::cfgetospeed(&r) == speed;
  unsigned actual = 0;
  if (!detail::set_custom_baud(fd, static_cast<unsigned>(s.baud_rate), &actual)) return false;
  if (rate_close_enough(static_cast<unsigned>(s.baud_rate), actual)) return true;
  errno = 0;
  return false;
}

bool read_terminal_settings(int fd, SerialSettings& out) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return false;
  SerialSettings s;
  unsigned rate = 0;
  s.baud_rate =
      detail::get_custom_baud(fd, &rate) ? static_cast<int>(rate) : rate_of(::cfgetospeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5:
      s.data_bits = 5;
      break;
    case CS6:
      s.data_bits = 6;
      break;
    case CS7:
      s.data_bits = 7;
      break;
    default:
      s.data_bits = (t.c_iflag & ISTRIP) ? 7 : 8;
      break;
  }
  // A pseudo-terminal clears PARENB but keeps PARODD, CMSPAR and INPCK (parity checking, which
  // a serial line sets exactly when its characters carry parity).
  const bool parity_on = (t.c_cflag & (PARENB | PARODD | CMSPAR)) != 0 || (t.c_iflag & INPCK) != 0;
  if (!parity_on) {
    s.parity = Parity::None;
  } else if (t.c_cflag & CMSPAR) {
    s.parity = (t.c_cflag & PARODD) ? Parity::Mark : Parity::Space;
  } else {
    s.parity = (t.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
  }
  s.stop_bits = (t.c_cflag & CSTOPB) ? 2 : 1;
  out = s;
  return true;
}

bool flush_terminal(int fd) {
  return ::tcflush(fd, TCIOFLUSH) == 0;
}

}  // namespace kba604::platform
