// Help texts of the parameters ("tooltip.dat"), for the tree view's tooltips and help. The file
// is optional: a missing, empty or foreign file gives no texts and is no fault.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "model/parameter.h"

namespace kba604 {

class Tooltips {
 public:
  // Reads the file; anything it cannot use is ignored.
  static Tooltips load(const std::filesystem::path& file);

  // The text for a parameter: the entry of its own index or address offset, else the entry of
  // its short name (without regard to case); empty when there is none.
  std::string text_for(const Parameter& parameter) const;
  std::size_t size() const { return texts_.size(); }
  bool empty() const { return texts_.empty(); }

 private:
  std::map<std::string, std::string> texts_;  // key with its name folded to lower case
};

}  // namespace kba604
