// What the traffic monitor and the trace file make of the transfers of the serial line: each
// frame decoded (address, request bit, hash with the parameter's short name, data bytes, the
// checksum's verdict), what came back (a reply, a refusal, a time-out...), the repetitions of a
// request, and the lines and CSV rows written from them.
//
//   TrafficLog log([&](std::uint16_t hash) { return names_by_hash[hash]; });
//   for (TrafficRecord& r : tap.take()) {
//     TrafficEntry e = log.add(std::move(r));
//     for (const std::string& line : traffic_lines(e)) out << line << '\n';
//   }
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "link/traffic_tap.h"
#include "model/parameter_table.h"

namespace kba604 {

// The fields of one ТАЛВ frame.
struct TrafficFrame {
  // "#", characters 'G'..'V' in pairs, a carriage return, and a packet whose length agrees with
  // its own data count; the other fields mean nothing otherwise.
  bool decoded = false;
  int address = 0;
  int request_bit = 0;
  std::uint16_t hash = 0;
  std::vector<std::uint8_t> data;
  bool checksum_ok = false;
};

// Decodes the characters of a frame as they crossed the line (a request or a reply).
TrafficFrame decode_traffic_frame(std::string_view characters, int address_length);

// How a transfer ended, as the monitor names it.
enum class TrafficOutcome {
  Reply,        // a reply to the request
  Refusal,      // "n.Err": the instrument refused, with its code
  Foreign,      // a reply with another hash
  Checksum,     // a reply whose checksum or length is wrong
  NoStart,      // characters without the start "#"
  Timeout,      // nothing came back
  LineError,    // a parity or framing error, a break
  PortLost,     // the port went away
  Interrupted,  // the program stopped the transfer
};

struct TrafficEntry {
  TrafficRecord record;
  TrafficFrame request;
  TrafficFrame reply;
  TrafficOutcome outcome = TrafficOutcome::Reply;
  // 0 for the first transfer of a request; n for its n-th repetition after a failure.
  int repetition = 0;
  // The short name of the request's hash; empty when the names do not know it.
  std::string name;
  // Transfers the reader lost just before this one (the tap's queue was full).
  std::uint64_t dropped_before = 0;

  bool failed() const { return outcome != TrafficOutcome::Reply; }
};

class TrafficLog {
 public:
  // The short name of a hash, or "" when none is known.
  using NameLookup = std::function<std::string(std::uint16_t hash)>;

  explicit TrafficLog(NameLookup names = {});
  void set_names(NameLookup names) { names_ = std::move(names); }

  // Decodes the next transfer of the line. A transfer that writes the characters of the one
  // before, after that one failed, is a repetition.
  TrafficEntry add(TrafficRecord record);
  // Transfers lost between the records added so far.
  std::uint64_t dropped() const { return dropped_; }

 private:
  NameLookup names_;
  std::optional<std::uint64_t> last_sequence_;
  std::string last_request_;
  bool last_failed_ = false;
  int repetition_ = 0;
  std::uint64_t dropped_ = 0;
};

// The words of an outcome ("ответ", "таймаут", ...); a refusal names its code.
std::string traffic_outcome_text(const TrafficEntry& entry);

// The characters of a frame as they can be shown: printable ones as they are, a carriage
// return as "\r", anything else as "\xHH".
std::string visible_characters(std::string_view characters);

// The two lines of a transfer, request (">>") and what came back ("<<"), each beginning with
// its local time to the millisecond.
std::vector<std::string> traffic_lines(const TrafficEntry& entry);

// CSV: the header row and the two rows of a transfer, with the same fields as the lines.
std::string traffic_csv_header();
std::vector<std::string> traffic_csv_rows(const TrafficEntry& entry);

// Short names by hash: the parameters of a table and the protocol's own commands ("dev",
// "ver", "n.Err", "APLY", "PRTL", the calibration commands, "r-s"...). The first parameter of
// a name wins; indexes share their hash.
using TrafficNames = std::unordered_map<std::uint16_t, std::string>;
TrafficNames traffic_names(const ParameterTable& table);

// The monitor's filter.
struct TrafficFilter {
  // Part of the request's short name or of its hash ("0x2810"), without regard to case; empty
  // lets every transfer through.
  std::string name;
  bool failures_only = false;

  bool matches(const TrafficEntry& entry) const;
};

}  // namespace kba604
