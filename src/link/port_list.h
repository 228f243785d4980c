// The list of present serial ports that the program's port setting offers: logical "COMn" names
// joined by ":", as every list of the network settings elements is.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/port_names.h"

namespace kba604 {

// The present ports as "COM1:COM3:…", ascending: the mapped names whose device exists and the
// on-board ports (their ttyS numbers given) that have hardware behind them and whose COM name
// is not mapped elsewhere. Empty when none.
std::string join_port_list(const std::vector<platform::PortMapping>& map,
                           const std::vector<int>& onboard,
                           const std::function<bool(const std::string&)>& exists);

}  // namespace kba604
