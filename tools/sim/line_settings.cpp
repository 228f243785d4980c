#include "sim/line_settings.h"

#include <cerrno>
#include <cstring>

#include "platform/terminal.h"

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

platform::SerialSettings to_platform(const LineSettings& s) {
  platform::SerialSettings out;
  out.baud_rate = static_cast<int>(s.baud);
  out.data_bits = s.data_bits;
  out.stop_bits = s.stop_bits;
  switch (s.parity) {
    case Parity::kNone:
      out.parity = platform::Parity::None;
      break;
    case Parity::kEven:
      out.parity = platform::Parity::Even;
      break;
    case Parity::kOdd:
      out.parity = platform::Parity::Odd;
      break;
    case Parity::kMark:
      out.parity = platform::Parity::Mark;
      break;
    case Parity::kSpace:
      out.parity = platform::Parity::Space;
      break;
  }
  return out;
}

Parity from_platform(platform::Parity parity) {
  switch (parity) {
    case platform::Parity::None:
      break;
    case platform::Parity::Even:
      return Parity::kEven;
    case platform::Parity::Odd:
      return Parity::kOdd;
    case platform::Parity::Mark:
      return Parity::kMark;
    case platform::Parity::Space:
      return Parity::kSpace;
  }
  return Parity::kNone;
}

}  // namespace

bool read_line_settings(int fd, LineSettings& out) {
  platform::SerialSettings s;
  if (!platform::read_terminal_settings(fd, s)) return false;
  out.baud = static_cast<unsigned>(s.baud_rate);
  out.data_bits = s.data_bits;
  out.parity = from_platform(s.parity);
  out.stop_bits = s.stop_bits;
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
  // The instrument's side takes the bytes as they come: no marks of line errors in its input.
  errno = 0;
  if (platform::apply_terminal_settings(fd, to_platform(s), platform::is_pseudo_terminal(fd),
                                        /*mark_line_errors=*/false)) {
    return true;
  }
  if (errno != 0)
    return fail(std::string("the terminal refused the settings: ") + std::strerror(errno));
  return fail("the terminal does not take " + s.text());
}

}  // namespace kba604::sim
