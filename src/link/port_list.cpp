#include "link/port_list.h"

#include <algorithm>

#include "platform/text.h"

namespace kba604 {

std::string join_port_list(const std::vector<platform::PortMapping>& map,
                           const std::vector<int>& onboard,
                           const std::function<bool(const std::string&)>& exists) {
  std::vector<std::pair<int, std::string>> names;
  auto add = [&](int number) {
    for (const auto& n : names) {
      if (n.first == number) return;
    }
    names.emplace_back(number, "COM" + std::to_string(number));
  };
  for (const auto& m : map) {
    auto n = platform::com_port_number(m.name);
    if (n && exists(m.device)) add(*n);
  }
  // An on-board port whose COM name is mapped elsewhere is reached through the mapping only.
  for (int tty : onboard) {
    const int number = tty + 1;
    bool mapped = std::any_of(map.begin(), map.end(), [&](const platform::PortMapping& m) {
      return platform::com_port_number(m.name) == number;
    });
    if (!mapped) add(number);
  }
  std::sort(names.begin(), names.end());
  std::string list;
  for (const auto& n : names) {
    if (!list.empty()) list += ':';
    list += n.second;
  }
  return list;
}

}  // namespace kba604
