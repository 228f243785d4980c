#include "operations/eeprom_image.h"

#include "model/archive.h"

namespace kba604 {

std::string build_eeprom_image(const ParameterTable& table) {
  ArchiveWriter w;
  w.write_i32(static_cast<std::int32_t>(table.size()));
  for (const Parameter& p : table) {
    if (p.owns_polling_timer()) continue;
    w.write_u32(p.key());
    w.write_string(p.short_name);
    w.write_string(p.stored_value());
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
      p->value = p->value_from_stored(std::move(value));
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
