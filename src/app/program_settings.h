// The program's settings values (the settings file KBA604.conf, top level) with their types and
// defaults. A value that is missing or unreadable gives its default; a store that cannot be
// written leaves the defaults in force without a message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace kba604 {

namespace settings_key {
inline constexpr std::string_view kDataDirectory = "datadirectory";
inline constexpr std::string_view kHideMin = "hidemin";
inline constexpr std::string_view kRs485Type = "RS485type";
// The program's own port settings (the element "Сетевые параметры программы").
inline constexpr std::string_view kAddress = "address";
inline constexpr std::string_view kAddressLength = "address_length";
inline constexpr std::string_view kBaudRate = "baud_rate";
inline constexpr std::string_view kByteSize = "byte_size";
inline constexpr std::string_view kStopBits = "stop_bits";
inline constexpr std::string_view kParityScheme = "parity_scheme";
inline constexpr std::string_view kPortNumber = "port_number";
}  // namespace settings_key

// The program's port settings as stored; the defaults are those of a port never configured.
struct PortSettings {
  std::uint32_t address = 16;
  std::uint32_t address_length = 8;  // 8 or 11
  std::uint32_t baud_rate = 9600;
  std::uint32_t byte_size = 8;      // 7 or 8
  std::uint32_t stop_bits = 1;      // 1 or 2
  std::uint32_t parity_scheme = 3;  // 3 none, 1 even, 4 odd
  std::uint32_t port_number = 1;    // COMn

  bool operator==(const PortSettings&) const = default;
};

class ProgramSettings {
 public:
  // The store must outlive this object.
  explicit ProgramSettings(platform::SettingsStore& store) : store_(store) {}

  platform::SettingsStore& store() const { return store_; }

  // Folder of the description files, ending with "/". Default: the installed data folder
  // beside the program (<executable dir>/../share/kba604/).
  std::string data_directory() const;
  bool set_data_directory(std::string_view folder);

  // "hidemin": "1" when minimising hides the window. Default "0".
  bool hide_minimised() const;
  bool set_hide_minimised(bool on);

  // "RS485type": 0 semi-automatic converter (KP-5), 1 automatic; any non-zero value counts
  // as 1. Default 0. Read only: the menu choice is not written back.
  int rs485_type() const;

  PortSettings port_settings() const;
  bool save_port_settings(const PortSettings& s);

 private:
  platform::SettingsStore& store_;
};

}  // namespace kba604
