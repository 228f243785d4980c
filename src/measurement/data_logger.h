// The data logger of a service PC without a display: it polls chosen operational parameters
// for a while, records them into the day files exactly as the window does, writes one CSV row
// per poll and keeps a one-line status on stderr.
//
//   DataLogger logger(scanner, recording, clock, stderr);
//   if (!logger.begin(*operational_tree, settings, error)) ...;  // arms, opens the CSV file
//   logger.wait(stop);                                            // duration or stop
//   logger.finish();                                              // everything closed
//
// The scanner delivers to the logger on its own thread: each poll's record and CSV row are
// written there, in poll order, before the parameter is polled again.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "description/desc_branch.h"
#include "measurement/recording.h"
#include "operations/scanner.h"
#include "platform/clock.h"
#include "platform/event.h"

namespace kba604 {

// One item of "--poll:NAME[@OFFSET][=PERIOD_MS][,…]".
struct PollRequest {
  std::string name;
  std::optional<int> offset;  // none: every address offset of that name
  std::optional<std::int32_t> period_ms;  // none: the parameter's own period
};

// Parses the list; false with the reason in error.
bool parse_poll_list(std::string_view text, std::vector<PollRequest>& out, std::string& error);

struct LoggerSettings {
  // None: every operational parameter at its own period.
  std::vector<PollRequest> polls;
  // 0: until stopped.
  std::int64_t duration_s = 0;
  // None: no CSV file.
  std::string csv_path;
};

// A CSV field as RFC 4180 wants it: quoted (with quotes doubled) when it holds a comma, a quote
// or a line break.
std::string csv_field(std::string_view text);
// ISO 8601 local time with its offset from UTC, to the millisecond:
// "2026-12-07T08:00:00.250+03:00".
std::string iso_local_time(std::int64_t wall_ms);

class DataLogger final : public PollSink {
 public:
  // status, when given, gets the one-line live status (stderr).
  DataLogger(Scanner& scanner, Recording& recording, platform::Clock& clock,
             std::FILE* status = nullptr);
  ~DataLogger() override;
  DataLogger(const DataLogger&) = delete;
  DataLogger& operator=(const DataLogger&) = delete;

  // Chooses the parameters, sets their periods, creates the CSV file with its header, switches
  // recording on and arms them. The scanner must serve the operational branch (or not run
  // yet: it is started here). False, with the reason, when a name matches no operational
  // parameter, a period is refused or the CSV file cannot be created; nothing is armed then.
  bool begin(const DescBranch& operational, const LoggerSettings& settings, std::string& error);
  // Whether the duration has passed.
  bool finished() const;
  // Waits until the duration has passed or stop is set, calling tick() every second.
  void wait(platform::Event& stop);
  // The one-second work of a run: the day file changes at 09:12 as in the window, and the
  // status line is refreshed.
  void tick();
  // Disarms the parameters, stops delivery and closes the CSV file. Idempotent.
  void finish();

  // PollSink (scanner thread)
  void polled(PollSnapshot snapshot) override;

  std::vector<Parameter*> chosen() const { return chosen_; }
  int polls() const { return polls_.load(); }
  int failures() const { return failures_.load(); }
  int lost_records() const { return lost_records_.load(); }
  int lost_rows() const { return lost_rows_.load(); }

 private:
  void write_row(const std::string& row);
  void print_status(bool final_line);

  Scanner& scanner_;
  Recording& recording_;
  platform::Clock& clock_;
  std::FILE* status_;

  std::vector<Parameter*> chosen_;
  std::int64_t start_ms_ = 0;
  std::int64_t duration_ms_ = 0;
  std::mutex csv_mutex_;
  int csv_fd_ = -1;
  bool begun_ = false;

  std::atomic<int> polls_{0};
  std::atomic<int> failures_{0};
  std::atomic<int> lost_records_{0};
  std::atomic<int> lost_rows_{0};
};

}  // namespace kba604
