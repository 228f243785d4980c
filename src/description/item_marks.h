// Hide markers in the items of a format text. An item may carry "<hide>" (never shown) or
// "<hide>(list)" (hidden at the middle access level for the listed modification numbers); the
// marker is taken out of the item and kept as the item's mark.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kba604::description {

struct ItemMarks {
  std::string format;              // the items without markers, joined by ":"
  std::vector<std::string> marks;  // one per item: "", "h", or "h" and the list ("h1,3")
};

// False, with the reason in `error`, when a "<hide>(" has no closing ")".
bool parse_item_marks(std::string_view text, ItemMarks& out, std::string& error);

}  // namespace kba604::description
