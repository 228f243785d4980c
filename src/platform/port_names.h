// Logical port names. Everywhere the program shows or stores a port it uses "COMn"; the section
// [Ports] of the settings maps such a name to a device ("COM3=/dev/serial/by-id/usb-…"), and a
// name without a mapping means the on-board port /dev/ttyS<n-1>.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_store.h"

namespace kba604::platform {

inline constexpr std::string_view kPortsSection = "Ports";

struct PortMapping {
  std::string name;    // as written in [Ports], e.g. "COM3"
  std::string device;  // e.g. "/dev/serial/by-id/usb-FTDI_…-if00-port0"
};

// n for a name "COMn" (any letter case, n from 1 to 255), else nothing.
std::optional<int> com_port_number(std::string_view name);

// The device behind a port name: the [Ports] mapping when there is one; else /dev/ttyS<n-1>
// for "COMn"; a name that already is a device path ("/dev/…") is taken as it stands. Empty
// when the name means nothing.
std::string port_device(const SettingsStore& settings, std::string_view name);

// Every mapping of [Ports] with a device, in the order the store lists them.
std::vector<PortMapping> port_mappings(const SettingsStore& settings);

}  // namespace kba604::platform
