// CKBA604App without its windows: the start options, the exit flags, the program modes and the
// program-wide services (prompter, clock, settings) that the core reaches through it. One per
// process; tests build their own with doubles.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "app/exit_flags.h"
#include "app/program_modes.h"
#include "app/prompter.h"
#include "app/start_options.h"
#include "platform/clock.h"

namespace kba604 {

class CKBA604App {
 public:
  // The prompter and clock must outlive the application object.
  explicit CKBA604App(Prompter& prompter, platform::Clock& clock = platform::Clock::real())
      : prompter_(&prompter), clock_(&clock) {}

  StartOptions options;
  ExitFlags exit_flags;
  ProgramModes modes;

  Prompter& prompter() const { return *prompter_; }
  platform::Clock& clock() const { return *clock_; }

  // The error-log file named with "elog"; empty when none. Every failed parameter exchange
  // appends one line to it.
  std::string error_log_path() const {
    std::lock_guard lock(mutex_);
    return error_log_path_;
  }
  void set_error_log_path(std::string path) {
    std::lock_guard lock(mutex_);
    error_log_path_ = std::move(path);
  }
  // Appends one line (a line break is added) to the error-log file, if one is named.
  void append_error_log(const std::string& line) const;

 private:
  Prompter* prompter_;
  platform::Clock* clock_;
  mutable std::mutex mutex_;
  std::string error_log_path_;
};

}  // namespace kba604
