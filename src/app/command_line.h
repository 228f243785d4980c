// CmyCommandLineInfo: turns the program's parameters into the start options.
//
// A parameter that begins with "/" or "-" holds switches; any other parameter is the file name
// (the last one wins, kept as typed). Because file names on this system also begin with "/",
// a parameter with at least two "/" whose first token is no switch name ("/home/ann/a.604") is
// a file name too. Inside a switch parameter, switches may be glued ("/port:3/bps:9600"); names
// and values are taken without regard to case and stored lower-cased, except the file name of
// "elog", which runs to the end of its parameter, "/" included, and keeps its letter case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/start_options.h"

namespace kba604 {

class CmyCommandLineInfo {
 public:
  // The options are filled in place; clear them before parsing, as the start-up does.
  explicit CmyCommandLineInfo(StartOptions& options) : options_(options) {}

  // Parses the parameters (without the program name), in order.
  void parse(const std::vector<std::string>& params);
  // One parameter as the system hands it over.
  void parse_param(std::string_view param);

  // The last parameter that was not a switch, exactly as typed; empty when none.
  const std::string& file_name() const { return file_name_; }
  // The file named with "elog" (quotes stripped, case kept); empty when none.
  const std::string& error_log() const { return error_log_; }
  // The event named with "exitevent" (quotes stripped, lower-cased); empty when none.
  const std::string& exit_event() const { return exit_event_; }
  // The pipe named with "io:pipe:<name>", lower-cased; empty when none.
  const std::string& pipe_name() const { return pipe_name_; }
  // Why switches were refused, one line each, for the program to print on stderr.
  const std::vector<std::string>& messages() const { return messages_; }

  // Whether name (lower-case) is one of the program's switches.
  static bool is_switch_name(std::string_view name);

 private:
  void parse_switches(std::string_view body);
  void apply(std::string_view name, std::string_view value);
  bool store_text(std::string_view name, std::string_view value, std::size_t max_length,
                  std::string& out);

  StartOptions& options_;
  bool newnetparam_seen_ = false;
  std::string file_name_;
  std::string error_log_;
  std::string exit_event_;
  std::string pipe_name_;
  std::vector<std::string> messages_;
};

// Strips double quotes at both ends of a switch value.
std::string strip_quotes(std::string_view value);

}  // namespace kba604
