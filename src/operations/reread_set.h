// Parameters whose writing changes the meaning of others. Writing "n.Ch" (the number of
// measuring channels) changes which sensor indexes and regulator inputs exist, writing "nPC"
// (the number of program steps) which steps there are, and so on: the instrument recomputes
// those parameters, and the configuration must read them again before it can be trusted. The
// writes enter the stale parameters into a ReReadSet; when the operation ends they are read
// again as a group ("Принудительное перечитывание некоторых параметров:").
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>

#include "model/parameter.h"

namespace kba604 {

class ReReadSet {
 public:
  // Enters what writing this parameter (its short name and linear index) with this value makes
  // stale. Nothing for a parameter that changes the meaning of no other.
  void note_written(const Parameter& written, std::string_view value);
  // Every parameter of that name.
  void add_all(std::string_view name);
  // The parameter of that name with this linear index; nothing new when the name is already
  // entered as "all".
  void add_index(std::string_view name, int index);

  bool empty() const { return entries_.empty(); }
  void clear() { entries_.clear(); }
  // Whether the set names this parameter: its name with "all", or with its linear index.
  bool names(const Parameter& parameter) const;
  // The entry of a name as the set keeps it: "all", the indexes separated by ";" in ascending
  // order, or "" when the name is not in the set.
  std::string entry_text(std::string_view name) const;
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    bool all = false;
    std::set<int> indexes;
  };
  // Keyed by the lower-case short name.
  std::map<std::string, Entry> entries_;
};

}  // namespace kba604
