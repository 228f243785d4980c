#include "app/commands.h"

#include <algorithm>

namespace kba604 {

const Modification& modification_row(int modification) {
  if (modification < 0 || modification >= static_cast<int>(kModifications.size())) {
    return kModifications[0];
  }
  return kModifications[static_cast<std::size_t>(modification)];
}

bool command_enabled(int command, const CommandContext& c) {
  const int level = c.access_level;
  const int cls = modification_row(c.modification).command_class;
  switch (command) {
    case 134:
    case 138:
    case 139:
    case 140:
    case 147:
    case 256:
    case 257:
    case 268:
    case 271:
    case 282:
    case 284:
    case 294:
    case 299:
    case 32885:
      return !c.no_port;
    case 154:
    case 302:
    case 303:
      return level > 1;
    case 263:
      return !c.no_port && level > 0;
    case 266:
      return !c.no_port && level >= 2;
    case 141:
      // The middle level needs the modification class 2; the other levels need nothing more.
      return !c.no_port && (level != 1 || cls == 2);
    case 32800:
      return !c.no_port && (level >= 2 || (level == 1 && (cls == 3 || cls == 4 || cls == 6)));
    case 281:
    case 285:
      return !c.no_port && !(c.selected == SelectedKind::Branch &&
                             c.selected_name.find('-') != std::string::npos);
    default:
      return true;
  }
}

bool item_hidden_by_mark(int access_level, int modification, const int* codes, std::size_t count) {
  if (access_level != 1) return false;
  const int code = modification_row(modification).code;
  return std::find(codes, codes + count, code) != codes + count;
}

}  // namespace kba604
