// Settings kept in an INI file through QSettings, opened by its path. Values at the top level
// sit in the file's [General] part; "Section/name" keys in [Section].
//
// QSettings on its own would get three things wrong for us, so the store mends them: it is
// case-sensitive in names (we look names up without regard to case and overwrite the stored
// spelling), it reads an unquoted value with a comma as a list (we join it back into text) and
// it writes only on sync() (we sync after every change, so another process sees it at once).
#pragma once

#include <filesystem>
#include <memory>

#include "platform/settings_store.h"

namespace kba604::platform {

class IniSettingsStore final : public SettingsStore {
 public:
  // base_section: a section every key is taken inside ("KBA604" for the registration in
  // Devices.conf), or "" for the top level. The folder of the file is created on first write.
  explicit IniSettingsStore(std::filesystem::path path, std::string base_section = {});
  ~IniSettingsStore() override;

  std::optional<std::string> value(std::string_view key) const override;
  bool set_value(std::string_view key, std::string_view value) override;
  bool remove(std::string_view key) override;
  std::vector<std::string> keys(std::string_view section) const override;

  const std::filesystem::path& path() const { return path_; }

 private:
  struct Impl;
  std::filesystem::path path_;
  std::string base_section_;
  std::unique_ptr<Impl> impl_;
  mutable std::mutex mutex_;
};

// The program's settings file, $XDG_CONFIG_HOME/TALV/KBA604.conf.
std::unique_ptr<SettingsStore> open_program_settings();
// The configurator registration, section [KBA604] of $XDG_CONFIG_HOME/TALV/Devices.conf.
std::unique_ptr<SettingsStore> open_registration_settings();

}  // namespace kba604::platform
