// The frame log of the virtual line (--log): one line per frame heard or sent,
//   <seconds> <rx|tx> <baud> <bits per character> <characters> <text> [@address]
// Benchmarks read it back to learn how long the frames kept the line busy: the least time any
// program needs for the same exchange at that speed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kba604::sim {

struct LoggedFrame {
  double seconds = 0;  // since the line started
  bool sent = false;   // tx: sent by an instrument; rx: heard from the program
  unsigned baud = 0;
  int bits_per_character = 0;
  std::size_t characters = 0;
  std::string text;  // as logged: \r, \n and \xHH for the unprintable characters

  // The time the frame occupies the line.
  double line_seconds() const {
    return baud ? static_cast<double>(characters) * bits_per_character / baud : 0.0;
  }
};

// Reads a frame log. False with the file and line when it cannot be read or a line is no
// frame line.
bool read_frame_log(const std::string& path, std::vector<LoggedFrame>& out, std::string* error);

// The line time of all frames together.
double line_seconds(const std::vector<LoggedFrame>& frames);

}  // namespace kba604::sim
