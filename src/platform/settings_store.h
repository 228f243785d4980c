// The program's persistent settings: named string values at the top level and in sections.
// The settings of the program live in $XDG_CONFIG_HOME/TALV/KBA604.conf, the configurator
// registration in the section [KBA604] of $XDG_CONFIG_HOME/TALV/Devices.conf (see
// ini_settings_store.h); tests use MemorySettingsStore.
//
// A key is "name" for a value at the top level or "Section/name" for a value inside a section.
// Names and sections are looked up without regard to letter case, and a value written under a
// name that already exists in another case replaces that value. Numbers are stored as their
// decimal text, so a hand-edited file stays readable.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kba604::platform {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // The value, or nothing when it is missing (or the store cannot be read).
  virtual std::optional<std::string> value(std::string_view key) const = 0;
  // Stores the value and writes it out at once. False when it could not be stored; the
  // program then goes on with what it had.
  virtual bool set_value(std::string_view key, std::string_view value) = 0;
  // Removes the value; true when it is gone afterwards.
  virtual bool remove(std::string_view key) = 0;
  // Names of the values directly inside a section ("" for the top level), as stored.
  virtual std::vector<std::string> keys(std::string_view section) const = 0;

  bool contains(std::string_view key) const { return value(key).has_value(); }
  std::string string_or(std::string_view key, std::string_view fallback) const;
  // A 32-bit value: decimal, "0x" hexadecimal or a leading "0" for octal, optionally negative
  // (kept as its 32-bit pattern). A missing or unreadable value gives the fallback.
  std::uint32_t uint32_or(std::string_view key, std::uint32_t fallback) const;
  bool set_uint32(std::string_view key, std::uint32_t value);
};

// Settings kept in memory only, for tests and for a program that cannot reach its file.
class MemorySettingsStore final : public SettingsStore {
 public:
  std::optional<std::string> value(std::string_view key) const override;
  bool set_value(std::string_view key, std::string_view value) override;
  bool remove(std::string_view key) override;
  std::vector<std::string> keys(std::string_view section) const override;

  // Makes every later write fail, as a settings file that cannot be written would.
  void set_read_only(bool read_only);

 private:
  // Index of the stored key that matches without regard to case, or npos.
  std::size_t find(std::string_view key) const;

  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> values_;
  bool read_only_ = false;
};

// Splits "Section/name" into its section ("" at the top level) and its name.
std::pair<std::string_view, std::string_view> split_settings_key(std::string_view key);

}  // namespace kba604::platform
