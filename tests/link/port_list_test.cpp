#include <gtest/gtest.h>

#include <set>
#include <string>

#include "link/port_list.h"

namespace kba604 {
namespace {

TEST(PortList, ShowsPresentPortsInOrder) {
  const std::set<std::string> present = {"/dev/serial/by-id/a", "/tmp/sim"};
  auto exists = [&](const std::string& p) { return present.count(p) > 0; };
  const std::vector<platform::PortMapping> map = {
      {"COM10", "/dev/serial/by-id/a"},    // present
      {"COM4", "/dev/serial/by-id/gone"},  // unplugged: not listed
      {"com2", "/tmp/sim"},                // present, and stands for the on-board ttyS1
      {"Modem", "/tmp/sim"},               // no COM name: not a port of the list
  };
  struct Case {
    std::vector<platform::PortMapping> map;
    std::vector<int> onboard;
    const char* list;
  };
  const Case cases[] = {
      {map, {0, 1, 3}, "COM1:COM2:COM10"},  // ttyS3 is COM4, mapped away
      {map, {}, "COM2:COM10"},
      {{}, {}, ""},
      {{}, {0}, "COM1"},
      {{{"COM1", "/dev/serial/by-id/gone"}}, {0}, ""},  // mapped away from ttyS0, unplugged
  };
  for (const auto& c : cases) EXPECT_EQ(join_port_list(c.map, c.onboard, exists), c.list);
}

}  // namespace
}  // namespace kba604
