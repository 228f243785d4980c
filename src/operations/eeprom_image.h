// The EEPROM image file ("*.eep"): the instrument's whole parameter set as the configuration
// holds it, in the archive layout (little-endian integers, length-prefixed Windows-1251 texts).
//
//   count    4 bytes, signed: parameters in the table when the file was written, polled ones
//            included
//   records  one per parameter that owns no polling timer, in table order:
//            key (4 bytes: linear index or 0xFFFF, name hash), short name, value
//
// Polled parameters are counted but not stored, so the count may exceed the number of
// records; a reader stops at the end of the file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/parameter_table.h"

namespace kba604 {

// The bytes of the image of the table.
std::string build_eeprom_image(const ParameterTable& table);

struct EepromLoad {
  std::int32_t count = 0;   // the count the file states
  int records = 0;          // complete records read
  int matched = 0;          // records whose key named a parameter of the table
  int skipped = 0;          // records whose key named none (another instrument's table)
  bool short_file = false;  // the file ended inside the count or a record
  // A record this layout never produces (a damaged file); reading stopped before it. Empty
  // when the file was sound.
  std::string damage;
};

// Loads an image into the table: each record whose key names a parameter (the table's EEPROM
// key map, the later parameter winning) gives that parameter its short name and value (an
// item-list value as position or item text); a record of an unknown key is read and dropped.
// Reading stops after count records or at the end of the data; a record cut short changes
// nothing.
EepromLoad load_eeprom_image(ParameterTable& table, std::string_view bytes);

}  // namespace kba604
