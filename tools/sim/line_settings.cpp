#include "sim/line_settings.h"

// termios2 and BOTHER come from the kernel's header, which must not meet <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace kba604::sim {

int LineSettings::bits_per_character() const {
  return 1 + data_bits + (parity == Parity::kNone ? 0 : 1) + stop_bits;
}

char parity_letter(Parity parity) {
  switch (parity) {
    case Parity::kNone:
      return 'N';
    case Parity::kEven:
      return 'E';
    case Parity::kOdd:
      return 'O';
    case Parity::kMark:
      return 'M';
    case Parity::kSpace:
      return 'S';
  }
  return '?';
}

std::string LineSettings::text() const {
  std::string out = std::to_string(baud) + " ";
  out += std::to_string(data_bits);
  out += parity_letter(parity);
  out += std::to_string(stop_bits);
  return out;
}

bool parse_parity(std::string_view text, Parity& out) {
  static const struct {
    const char* name;
    Parity parity;
  } kNames[] = {{"none", Parity::kNone}, {"n", Parity::kNone},  {"even", Parity::kEven},
                {"e", Parity::kEven},    {"odd", Parity::kOdd}, {"o", Parity::kOdd},
                {"mark", Parity::kMark}, {"m", Parity::kMark},  {"space", Parity::kSpace},
                {"s", Parity::kSpace}};
  for (const auto& entry : kNames) {
    if (text == entry.name) {
      out = entry.parity;
      return true;
    }
  }
  return false;
}

namespace {

// The classic speed code of a rate, so that programs reading the terminal with the plain
// interface see it; other rates go through BOTHER.
tcflag_t speed_code(unsigned baud) {
  static const struct {
    unsigned baud;
    tcflag_t code;
  } kCodes[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                {150, B150},       {200, B200},       {300, B300},       {600, B600},
                {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& c : kCodes)
    if (c.baud == baud) return c.code;
  return BOTHER;
}

}  // namespace

bool read_line_settings(int fd, LineSettings& out) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  LineSettings s;
  s.baud = t.c_ospeed;
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
  bool parity_on = (t.c_cflag & (PARENB | PARODD | CMSPAR)) != 0 || (t.c_iflag & INPCK) != 0;
  if (!parity_on) {
    s.parity = Parity::kNone;
  } else if (t.c_cflag & CMSPAR) {
    s.parity = (t.c_cflag & PARODD) ? Parity::kMark : Parity::kSpace;
  } else {
    s.parity = (t.c_cflag & PARODD) ? Parity::kOdd : Parity::kEven;
  }
  s.stop_bits = (t.c_cflag & CSTOPB) ? 2 : 1;
  out = s;
  return true;
}

bool apply_line_settings(int fd, const LineSettings& s, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (s.baud == 0) return fail("the baud rate must not be 0");
  if (s.data_bits < 5 || s.data_bits > 8) return fail("data bits must be 5..8");
  if (s.stop_bits != 1 && s.stop_bits != 2) return fail("stop bits must be 1 or 2");
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0)
    return fail(std::string("cannot read the terminal settings: ") + std::strerror(errno));
  t.c_iflag = 0;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag = CREAD | CLOCAL | speed_code(s.baud);
  switch (s.data_bits) {
    case 5:
      t.c_cflag |= CS5;
      break;
    case 6:
      t.c_cflag |= CS6;
      break;
    case 7:
      t.c_cflag |= CS7;
      t.c_iflag |= ISTRIP;
      break;
    default:
      t.c_cflag |= CS8;
      break;
  }
  switch (s.parity) {
    case Parity::kNone:
      break;
    case Parity::kEven:
      t.c_cflag |= PARENB;
      break;
    case Parity::kOdd:
      t.c_cflag |= PARENB | PARODD;
      break;
    case Parity::kMark:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case Parity::kSpace:
      t.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (s.parity != Parity::kNone) t.c_iflag |= INPCK;
  if (s.stop_bits == 2) t.c_cflag |= CSTOPB;
  t.c_ispeed = t.c_ospeed = s.baud;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (ioctl(fd, TCSETS2, &t) != 0)
    return fail(std::string("the terminal refused the settings: ") + std::strerror(errno));
  LineSettings back;
  if (read_line_settings(fd, back) && back.baud != s.baud)
    return fail("the terminal does not support " + std::to_string(s.baud) + " baud");
  return true;
}

}  // namespace kba604::sim
