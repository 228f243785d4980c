// ParameterTable: the parameters of the instrument's description, one contiguous block created
// and destroyed together, with the name of the table file it came from, the role slots and
// role tables through which other parts reach parameters of a special role, and the key maps
// that match stored configurations and EEPROM images against the table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/parameter.h"

namespace kba604 {

// A map from the 32-bit parameter key to a parameter of the table.
class KeyMap {
 public:
  Parameter* find(std::uint32_t key) const {
    auto it = map_.find(key);
    return it != map_.end() ? it->second : nullptr;
  }
  std::size_t size() const { return map_.size(); }

 private:
  friend class ParameterTable;
  std::unordered_map<std::uint32_t, Parameter*> map_;
};

class ParameterTable {
 public:
  // Device role codes of the description records: 100 to 116 and 200.
  static bool is_device_role(int code) { return (code >= 100 && code <= 116) || code == 200; }
  // Role codes that place a parameter into one of the five role tables when a tree refers to
  // it: 1, 2, 3, 4, 5 and -2 (the second table, odd and even indexes apart).
  static bool is_table_role(int code) { return (code >= 1 && code <= 5) || code == -2; }

  // An empty table.
  ParameterTable();
  // count parameters, each as a new parameter is, from the table file table_name.
  ParameterTable(std::size_t count, std::string table_name);
  // Destroys the parameters (each empties its role slot), then the slots.
  ~ParameterTable();
  ParameterTable(const ParameterTable&) = delete;
  ParameterTable& operator=(const ParameterTable&) = delete;

  // Replaces the table by count new parameters; every role slot is emptied.
  void reset(std::size_t count, std::string table_name);

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const std::string& name() const { return name_; }
  Parameter& operator[](std::size_t i) { return parameters_[i]; }
  const Parameter& operator[](std::size_t i) const { return parameters_[i]; }
  Parameter* begin() { return parameters_.get(); }
  Parameter* end() { return parameters_.get() + size_; }
  const Parameter* begin() const { return parameters_.get(); }
  const Parameter* end() const { return parameters_.get() + size_; }
  // Whether the parameter lives in this table's block.
  bool contains(const Parameter& parameter) const;
  // The parameter's position in the table, or none for a parameter of another table or of its
  // own.
  std::optional<std::size_t> index_of(const Parameter& parameter) const;
  // The value lock of every parameter of the table (see ValueWriteLock in parameter.h).
  std::shared_mutex& value_lock() const { return value_lock_; }

  // The first parameter with that short name (without regard to case), whatever its index.
  Parameter* find_by_name(std::string_view name) const;
  // Number of parameters that own a polling timer (the operational parameters).
  std::size_t operational_count() const;

  // Whether the description was loaded at the maximum access level; the link takes its
  // maximum-access flag from here.
  bool loaded_at_max_access() const { return loaded_at_max_access_; }
  void set_loaded_at_max_access(bool v) { loaded_at_max_access_ = v; }

  // The role code of a description record. A device role (100..116, 200) puts the parameter
  // into its device slot, chosen by the code and the linear index, and leaves the parameter's
  // role code 0; any other code is stored in the role code. Returns false when the slot lies
  // outside its table (a damaged description): the parameter then sits in no slot.
  bool apply_role_code(Parameter& parameter, int code);
  // The slot of a device role: the code's table position as the role's rule computes it from
  // the linear index (the index divided by 16 for code 100, the group of 120 for 101..104 and
  // 107, the index itself for 105, 106, 108, 110, 112, 113, 115, 116, a third of it for 109,
  // an eighth for 111 and 114, always 0 for 200). -1 when the code is no device role.
  static int device_slot_of(int code, const Parameter& parameter);
  // The parameter in a device role slot, or none.
  Parameter* device_slot(int code, int slot) const;
  // Number of slots of a device role.
  static std::size_t device_slot_count(int code);

  // A tree reference to a parameter whose role code is a table role puts it into that role
  // table at row × slots per row + sub_index (row: the linear index; for -2 the index halved,
  // plus 24 when it is odd; for table 4 the index halved). Returns false when the position lies
  // outside the table, or the role code is no table role.
  bool place_in_role_table(Parameter& parameter, int sub_index);
  // The parameter at a position of role table 1..5, or none.
  Parameter* role_table_entry(int table, int position) const;
  static std::size_t role_table_size(int table);
  static int role_table_row_width(int table);

  // Key map for matching a stored configuration: parameters that own a polling timer are
  // left out, and of two parameters with the same key the first in table order wins.
  KeyMap configuration_key_map();
  // Key map for loading an EEPROM image: every parameter; one that owns a polling timer is
  // keyed by its address offset in place of the index; of two with the same key the later in
  // table order wins.
  KeyMap eeprom_key_map();

 private:
  // Device roles 100..116 take the first seventeen slot tables, role 200 the last.
  static constexpr std::size_t kDeviceRoleTables = 18;
  static std::size_t device_table_of(int code);
  void clear_slots();
  void put(std::vector<Parameter*>& table, std::size_t position, Parameter& parameter);

  mutable std::shared_mutex value_lock_;
  std::unique_ptr<Parameter[]> parameters_;
  std::size_t size_ = 0;
  std::string name_;
  bool loaded_at_max_access_ = false;
  std::array<std::vector<Parameter*>, kDeviceRoleTables> device_slots_;
  std::array<std::vector<Parameter*>, 5> role_tables_;
};

}  // namespace kba604
