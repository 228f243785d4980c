#include "sim/frame_log.h"

#include <fstream>
#include <sstream>

namespace kba604::sim {

bool read_frame_log(const std::string& path, std::vector<LoggedFrame>& out, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    if (error) *error = path + ": cannot be read";
    return false;
  }
  std::vector<LoggedFrame> frames;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::istringstream fields(line);
    LoggedFrame f;
    std::string direction;
    if (!(fields >> f.seconds >> direction >> f.baud >> f.bits_per_character >> f.characters >>
          f.text) ||
        (direction != "rx" && direction != "tx")) {
      if (error) *error = path + ":" + std::to_string(number) + ": not a frame line";
      return false;
    }
    f.sent = direction == "tx";
    frames.push_back(std::move(f));
  }
  out = std::move(frames);
  return true;
}

double line_seconds(const std::vector<LoggedFrame>& frames) {
  double total = 0;
  for (const LoggedFrame& f : frames) total += f.line_seconds();
  return total;
}

}  // namespace kba604::sim
