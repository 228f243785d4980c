#include "support/traffic_fuzz.h"

#include <string>
#include <string_view>

#include "link/traffic_log.h"

namespace kba604::test {

void fuzz_traffic_input(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  static const int kResults[] = {0, 2, 3, 4, -1};
  TrafficRecord record;
  record.result = kResults[data[0] % 5];
  record.address_length = (data[0] & 0x80) ? 11 : 8;
  record.wall_ms = static_cast<std::int64_t>(size) * 12345;
  record.round_trip_us = static_cast<std::int64_t>(size) * 997;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t cut = rest.find('\0');
  record.request = std::string(rest.substr(0, cut));
  if (cut != std::string_view::npos) record.reply = std::string(rest.substr(cut + 1));

  TrafficLog log([](std::uint16_t hash) { return hash % 3 == 0 ? "name" : ""; });
  const TrafficEntry first = log.add(record);
  record.sequence = 3;  // a repetition after a gap
  const TrafficEntry second = log.add(record);
  for (const TrafficEntry* e : {&first, &second}) {
    traffic_lines(*e);
    traffic_csv_rows(*e);
    TrafficFilter{"NA", true}.matches(*e);
    TrafficFilter{"0x", false}.matches(*e);
  }
}

}  // namespace kba604::test
