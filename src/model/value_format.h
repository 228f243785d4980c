// Format descriptors of parameter values. A descriptor is a text compared without regard to
// case, split at ":" into tokens in which "_" stands for a blank. Its first token names the
// format when it is "STORED_DOT", "float", "DEC_dot" or "CLK_frm"; otherwise the whole text
// may be "string", "ASCI" or "name"; any other descriptor is a list of item texts, item 0
// first, whose value travels as the item's position.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kba604 {

enum class FormatKind {
  StoredDot,  // packed decimal with the position of the point
  Float,      // IEEE 754 single
  DecDot,     // unsigned integer of one or two bytes
  ClkFrm,     // a count of seconds shown as minutes and seconds
  String,     // characters in reverse order
  Asci,       // the same, with its own type name
  Name,       // network name of four coded characters
  ItemList,   // position of an item of the list
};

struct ValueFormat {
  FormatKind kind = FormatKind::ItemList;
  // For an item list: the item texts with "_" read as a blank. Empty for the other kinds.
  std::vector<std::string> items;
};

ValueFormat parse_format(std::string_view descriptor);

// Position of text among items, compared without regard to case ("_" in text read as a blank),
// first match wins; only the first 127 items are searched, since a position travels as one
// signed byte. -1 when no item matches.
int find_item(const std::vector<std::string>& items, std::string_view text);

// Whether an item-list item is hidden from the user by its mark: "h" hides it always; "h" and
// a list of modification numbers ("h1,3") hide it at the middle access level (1) when the
// modification is listed; an empty mark shows it.
bool item_hidden(std::string_view mark, int access_level, int modification);

}  // namespace kba604
