#include "model/parameter_table.h"

#include "platform/text.h"

namespace kba604 {
namespace {

// Rows of every role table. The widths of the rows are the roles' own; the number of rows
// covers the instrument's channels with room to spare, and positions beyond it are refused.
constexpr std::size_t kRoleTableRows = 64;
constexpr std::array<int, 5> kRoleTableWidths = {16, 10, 2, 4, 1};

}  // namespace

ParameterTable::ParameterTable() {
  clear_slots();
}

ParameterTable::ParameterTable(std::size_t count, std::string table_name) {
  reset(count, std::move(table_name));
}

ParameterTable::~ParameterTable() {
  parameters_.reset();
}

void ParameterTable::reset(std::size_t count, std::string table_name) {
  parameters_.reset();
  size_ = 0;
  clear_slots();
  if (count > 0) parameters_ = std::make_unique<Parameter[]>(count);
  for (std::size_t i = 0; i < count; ++i) parameters_[i].value_lock_ = &value_lock_;
  size_ = count;
  name_ = std::move(table_name);
  loaded_at_max_access_ = false;
}

void ParameterTable::clear_slots() {
  for (int code = 100; code <= 116; ++code) {
    device_slots_[device_table_of(code)].assign(device_slot_count(code), nullptr);
  }
  device_slots_[device_table_of(200)].assign(device_slot_count(200), nullptr);
  for (int t = 1; t <= 5; ++t) {
    role_tables_[static_cast<std::size_t>(t - 1)].assign(role_table_size(t), nullptr);
  }
}

bool ParameterTable::contains(const Parameter& parameter) const {
  const Parameter* p = &parameter;
  return size_ > 0 && p >= parameters_.get() && p < parameters_.get() + size_;
}

std::optional<std::size_t> ParameterTable::index_of(const Parameter& parameter) const {
  if (!contains(parameter)) return std::nullopt;
  return static_cast<std::size_t>(&parameter - parameters_.get());
}

Parameter* ParameterTable::find_by_name(std::string_view name) const {
  for (std::size_t i = 0; i < size_; ++i) {
    if (platform::iequals(parameters_[i].short_name, name)) return &parameters_[i];
  }
  return nullptr;
}

std::size_t ParameterTable::operational_count() const {
  std::size_t n = 0;
  for (std::size_t i = 0; i < size_; ++i) {
    if (parameters_[i].owns_polling_timer()) ++n;
  }
  return n;
}

std::size_t ParameterTable::device_table_of(int code) {
  return code == 200 ? kDeviceRoleTables - 1 : static_cast<std::size_t>(code - 100);
}

std::size_t ParameterTable::device_slot_count(int code) {
  switch (code) {
    case 100:  // 16 indexes per slot
    case 101:  // groups of 120 indexes
    case 102:
    case 103:
    case 104:
    case 107:
      return 16;
    case 105:
    case 106:
    case 108:
    case 110:  // rows of 8
    case 112:
    case 113:
    case 115:
    case 116:
      return 256;
    case 109:
      return 128;
    case 111:
    case 114:
      return 32;
    case 200:
      return 1;
    default:
      return 0;
  }
}

int ParameterTable::device_slot_of(int code, const Parameter& parameter) {
  if (!is_device_role(code)) return -1;
  if (code == 200) return 0;
  if ((code == 111 || code == 114) && !parameter.indexed) return 0;
  int index = parameter.linear_index;
  // A negative index would land in slot 0 by truncating division; it names no channel.
  if (index < 0) return -1;
  switch (code) {
    case 100:
      return index / 16;
    case 101:
    case 102:
    case 103:
    case 104:
    case 107:
      return index / 120;
    case 109:
      return index / 3;
    case 111:
    case 114:
      return index / 8;
    default:  // 105, 106, 108, 115, 116; and 110, 112, 113 as row index / 8, column index % 8
      return index;
  }
}

void ParameterTable::put(std::vector<Parameter*>& table, std::size_t position,
                         Parameter& parameter) {
  table[position] = &parameter;
  parameter.role_slot_ = &table[position];
}

bool ParameterTable::apply_role_code(Parameter& parameter, int code) {
  if (!is_device_role(code)) {
    parameter.role_code = code;
    return true;
  }
  parameter.role_code = 0;
  int slot = device_slot_of(code, parameter);
  std::vector<Parameter*>& table = device_slots_[device_table_of(code)];
  if (slot < 0 || static_cast<std::size_t>(slot) >= table.size() || !contains(parameter)) {
    return false;
  }
  put(table, static_cast<std::size_t>(slot), parameter);
  return true;
}

Parameter* ParameterTable::device_slot(int code, int slot) const {
  if (!is_device_role(code) || slot < 0) return nullptr;
  const std::vector<Parameter*>& table = device_slots_[device_table_of(code)];
  return static_cast<std::size_t>(slot) < table.size() ? table[static_cast<std::size_t>(slot)]
                                                       : nullptr;
}

std::size_t ParameterTable::role_table_size(int table) {
  return table >= 1 && table <= 5
             ? static_cast<std::size_t>(kRoleTableWidths[static_cast<std::size_t>(table - 1)]) *
                   kRoleTableRows
             : 0;
}

int ParameterTable::role_table_row_width(int table) {
  return table >= 1 && table <= 5 ? kRoleTableWidths[static_cast<std::size_t>(table - 1)] : 0;
}

bool ParameterTable::place_in_role_table(Parameter& parameter, int sub_index) {
  int code = parameter.role_code;
  if (!is_table_role(code) || !contains(parameter)) return false;
  int table = code == -2 ? 2 : code;
  long long index = parameter.linear_index;
  long long row = index;
  if (code == -2) {
    row = index / 2 + (index % 2 != 0 ? 24 : 0);
  } else if (code == 4) {
    row = index / 2;
  }
  long long position = row * role_table_row_width(table) + sub_index;
  std::vector<Parameter*>& entries = role_tables_[static_cast<std::size_t>(table - 1)];
  if (position < 0 || position >= static_cast<long long>(entries.size())) return false;
  put(entries, static_cast<std::size_t>(position), parameter);
  return true;
}

Parameter* ParameterTable::role_table_entry(int table, int position) const {
  if (table < 1 || table > 5 || position < 0) return nullptr;
  const std::vector<Parameter*>& entries = role_tables_[static_cast<std::size_t>(table - 1)];
  return static_cast<std::size_t>(position) < entries.size()
             ? entries[static_cast<std::size_t>(position)]
             : nullptr;
}

KeyMap ParameterTable::configuration_key_map() {
  KeyMap keys;
  for (std::size_t i = 0; i < size_; ++i) {
    Parameter& p = parameters_[i];
    if (p.owns_polling_timer()) continue;
    keys.map_.emplace(p.key(), &p);  // emplace keeps the first
  }
  return keys;
}

KeyMap ParameterTable::eeprom_key_map() {
  KeyMap keys;
  for (std::size_t i = 0; i < size_; ++i) {
    Parameter& p = parameters_[i];
    std::uint32_t key = p.key();
    if (p.owns_polling_timer()) {
      key = ((static_cast<std::uint32_t>(p.address_offset) & 0xFFFFu) << 16) | (key & 0xFFFFu);
    }
    keys.map_[key] = &p;  // assignment keeps the last
  }
  return keys;
}

}  // namespace kba604
