#include "description/tooltips.h"

#include <fstream>
#include <sstream>

#include "description/record_files.h"
#include "platform/file_read.h"
#include "platform/text.h"

namespace kba604 {

Tooltips Tooltips::load(const std::filesystem::path& file) {
  Tooltips tips;
  // The tooltips are a courtesy: a file that is missing or no regular file leaves them empty.
  std::string content;
  if (!platform::read_regular_file(file, content).ok()) return tips;
  for (auto& entry : description::read_tooltip_file(content)) {
    tips.texts_.emplace(platform::fold_case(entry.key), std::move(entry.text));
  }
  return tips;
}

std::string Tooltips::text_for(const Parameter& p) const {
  std::string name = platform::fold_case(p.short_name);
  std::string own;
  if (p.indexed) {
    own = name + ":" + std::to_string(p.linear_index);
  } else if (p.address_offset != 0) {
    own = name + "@" + std::to_string(p.address_offset);
  }
  if (!own.empty()) {
    if (auto it = texts_.find(own); it != texts_.end()) return it->second;
  }
  auto it = texts_.find(name);
  return it != texts_.end() ? it->second : std::string();
}

}  // namespace kba604
