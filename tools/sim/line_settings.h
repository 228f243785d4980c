// Character format and speed of an RS-485 line, as an instrument keeps them and as a terminal
// reports them.
#pragma once

#include <string>
#include <string_view>

namespace kba604::sim {

enum class Parity { kNone, kEven, kOdd, kMark, kSpace };

struct LineSettings {
  unsigned baud = 9600;
  int data_bits = 8;
  Parity parity = Parity::kNone;
  int stop_bits = 1;

  bool operator==(const LineSettings&) const = default;

  // Start bit, data bits, parity bit and stop bits: the time of one character on the wire.
  int bits_per_character() const;
  double character_seconds() const { return baud ? bits_per_character() / double(baud) : 0.0; }
  // "9600 8N1" style, as the help and the log show it.
  std::string text() const;
};

// "none", "even", "odd", "mark", "space" (or their first letters).
bool parse_parity(std::string_view text, Parity& out);
char parity_letter(Parity parity);

// Reads the settings of a terminal. On a pseudo-terminal master this reports what the program on
// the other side set, with one twist: Linux keeps every pseudo-terminal at 8 data bits and
// clears its parity-enable bit. There the data bits follow ISTRIP (a serial line strips the
// eighth bit of 7-bit characters) and the parity follows INPCK (it checks parity exactly when
// its characters carry one), besides the odd, mark and space bits that survive. The terminal
// plumbing is the program's own (platform/terminal.h); only the instrument's view of it is here.
bool read_line_settings(int fd, LineSettings& out);

// Puts raw mode with these settings on a terminal (any rate, through BOTHER), without marks of
// line errors in the input. False with a message when the terminal refuses them.
bool apply_line_settings(int fd, const LineSettings& settings, std::string* error);

}  // namespace kba604::sim
