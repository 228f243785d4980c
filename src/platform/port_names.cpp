#include "platform/port_names.h"

#include "platform/text.h"

namespace kba604::platform {

std::optional<int> com_port_number(std::string_view name) {
  if (name.size() < 4 || name.size() > 6 || !istarts_with(name, "com")) return std::nullopt;
  int n = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n < 1 || n > 255 || name[3] == '0') return std::nullopt;
  return n;
}

std::string port_device(const SettingsStore& settings, std::string_view name) {
  if (name.empty()) return {};
  if (name.front() == '/') return std::string(name);
  std::string key = std::string(kPortsSection) + "/" + std::string(name);
  if (std::optional<std::string> mapped = settings.value(key); mapped && !mapped->empty()) {
    return *mapped;
  }
  if (std::optional<int> n = com_port_number(name)) return "/dev/ttyS" + std::to_string(*n - 1);
  return {};
}

std::vector<PortMapping> port_mappings(const SettingsStore& settings) {
  std::vector<PortMapping> out;
  for (const std::string& name : settings.keys(kPortsSection)) {
    std::string device = settings.string_or(std::string(kPortsSection) + "/" + name, "");
    if (!device.empty()) out.push_back({name, device});
  }
  return out;
}

}  // namespace kba604::platform
