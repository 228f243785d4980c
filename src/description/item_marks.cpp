#include "description/item_marks.h"

namespace kba604::description {
namespace {
constexpr std::string_view kHide = "<hide>";
}

bool parse_item_marks(std::string_view text, ItemMarks& out, std::string& error) {
  out.format.clear();
  out.marks.clear();
  std::size_t start = 0;
  for (;;) {
    std::size_t colon = text.find(':', start);
    std::string item(text.substr(start, colon == std::string_view::npos ? colon : colon - start));
    std::string mark;
    std::size_t at = item.find(kHide);
    if (at != std::string::npos) {
      std::size_t after = at + kHide.size();
      if (after < item.size() && item[after] == '(') {
        std::size_t close = item.find(')', after);
        if (close == std::string::npos) {
          error = "\"<hide>(\" without \")\" in the item \"" + item + "\"";
          return false;
        }
        mark = "h" + item.substr(after + 1, close - after - 1);
        item.erase(at, close + 1 - at);
      } else {
        mark = "h";
        for (std::size_t p; (p = item.find(kHide)) != std::string::npos;) {
          item.erase(p, kHide.size());
        }
      }
    }
    if (!out.marks.empty()) out.format += ':';
    out.format += item;
    out.marks.push_back(std::move(mark));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  return true;
}

}  // namespace kba604::description
