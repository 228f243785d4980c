#include "model/network_settings.h"

#include "platform/text.h"

namespace kba604 {

const NetworkSetting* find_line_setting(std::string_view name) {
  for (const NetworkSetting& s : kLineSettings) {
    if (platform::iequals(s.name, name)) return &s;
  }
  return nullptr;
}

}  // namespace kba604
