#include "model/value_format.h"

#include <algorithm>
#include <charconv>

#include "platform/text.h"

namespace kba604 {
namespace {

std::string blanks_for_underscores(std::string_view text) {
  std::string out(text);
  std::replace(out.begin(), out.end(), '_', ' ');
  return out;
}

}  // namespace

ValueFormat parse_format(std::string_view descriptor) {
  ValueFormat f;
  std::string_view first = descriptor.substr(0, descriptor.find(':'));
  if (platform::iequals(first, "STORED_DOT")) {
    f.kind = FormatKind::StoredDot;
  } else if (platform::iequals(first, "float")) {
    f.kind = FormatKind::Float;
  } else if (platform::iequals(first, "DEC_dot")) {
    f.kind = FormatKind::DecDot;
  } else if (platform::iequals(first, "CLK_frm")) {
    f.kind = FormatKind::ClkFrm;
  } else if (platform::iequals(descriptor, "string")) {
    f.kind = FormatKind::String;
  } else if (platform::iequals(descriptor, "ASCI")) {
    f.kind = FormatKind::Asci;
  } else if (platform::iequals(descriptor, "name")) {
    f.kind = FormatKind::Name;
  } else {
    f.kind = FormatKind::ItemList;
    // An empty descriptor lists nothing rather than one empty item.
    if (!descriptor.empty()) {
      std::size_t start = 0;
      while (true) {
        std::size_t colon = descriptor.find(':', start);
        f.items.push_back(blanks_for_underscores(descriptor.substr(start, colon - start)));
        if (colon == std::string_view::npos) break;
        start = colon + 1;
      }
    }
  }
  return f;
}

int find_item(const std::vector<std::string>& items, std::string_view text) {
  std::string wanted = blanks_for_underscores(text);
  std::size_t limit = std::min<std::size_t>(items.size(), 127);
  for (std::size_t i = 0; i < limit; ++i) {
    if (platform::iequals(items[i], wanted)) return static_cast<int>(i);
  }
  return -1;
}

bool item_hidden(std::string_view mark, int access_level, int modification) {
  if (mark.empty() || (mark[0] != 'h' && mark[0] != 'H')) return false;
  std::string_view list = mark.substr(1);
  if (list.empty()) return true;
  if (access_level != 1) return false;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    std::string_view number = list.substr(start, comma - start);
    while (!number.empty() && number.front() == ' ') number.remove_prefix(1);
    while (!number.empty() && number.back() == ' ') number.remove_suffix(1);
    int listed = 0;
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), listed);
    if (ec == std::errc() && end == number.data() + number.size() && !number.empty() &&
        listed == modification) {
      return true;
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return false;
}

}  // namespace kba604
