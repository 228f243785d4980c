#include "operations/eeprom_image.h"

#include <charconv>

#include "model/archive.h"

namespace kba604 {
namespace {

bool whole_integer(std::string_view text, long long& out) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end;
}

// The value of a record as the parameter takes it: an item list accepts the position or the
// item's text (a position beyond the list or a text that is no item gives "Нет данных"); other
// formats, and an empty text, take the text as it is.
std::string loaded_value(const Parameter& p, std::string stored) {
  ValueFormat f = p.parsed_format();
  if (f.kind != FormatKind::ItemList || stored.empty()) return stored;
  long long position = 0;
  if (whole_integer(stored, position)) {
    if (position >= 0 && position < static_cast<long long>(f.items.size())) {
      return f.items[static_cast<std::size_t>(position)];
    }
    return std::string(kNoData);
  }
  int found = find_item(f.items, stored);
  return found >= 0 ? f.items[static_cast<std::size_t>(found)] : std::string(kNoData);
}

}  // namespace

std::string eeprom_value_text(const Parameter& parameter) {
  ValueFormat f = parameter.parsed_format();
  if (f.kind != FormatKind::ItemList) return parameter.value;
  return std::to_string(find_item(f.items, parameter.value));
}

std::string build_eeprom_image(const ParameterTable& table) {
  ArchiveWriter w;
  w.write_i32(static_cast<std::int32_t>(table.size()));
  for (const Parameter& p : table) {
    if (p.owns_polling_timer()) continue;
    w.write_u32(p.key());
    w.write_string(p.short_name);
    w.write_string(eeprom_value_text(p));
  }
  return w.take();
}

EepromLoad load_eeprom_image(ParameterTable& table, std::string_view bytes) {
  EepromLoad result;
  KeyMap keys = table.eeprom_key_map();
  ArchiveReader r(bytes);
  try {
    result.count = r.read_i32();
    for (std::int32_t i = 0; i < result.count; ++i) {
      if (r.remaining() < 4) {
        result.short_file = !r.at_end();
        break;
      }
      std::uint32_t key = r.read_u32();
      // Both texts are read before anything changes, so a record cut short leaves its
      // parameter as it was.
      std::string name = r.read_string();
      std::string value = r.read_string();
      ++result.records;
      Parameter* p = keys.find(key);
      if (p == nullptr) {
        ++result.skipped;
        continue;
      }
      p->short_name = std::move(name);
      p->value = loaded_value(*p, std::move(value));
      ++result.matched;
    }
  } catch (const ArchiveError& e) {
    if (e.end_of_file()) {
      result.short_file = true;
    } else {
      result.damage = e.what();
    }
  }
  return result;
}

}  // namespace kba604
