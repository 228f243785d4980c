// CmyCommandLineInfo: turns the program's parameters into the start options.
//
// The grammar, in one place:
// - A parameter that begins with "/" or "-" holds switches; any other parameter is the file name
//   (the last one wins, kept as typed). Because file names on this system also begin with "/",
//   a parameter with at least two "/" whose first token is no switch name ("/home/ann/a.604") is
//   a file name too. Inside such a parameter switches may be glued ("/port:3/bps:9600"); each is
//   a name and, after the first ":", its value.
// - A parameter that begins with "--" holds one switch in the GNU form: "--name", "--name:value"
//   or "--name=value" (the name ends at the first ":" or "="); it means what "/name[:value]"
//   means, its value being the rest of the parameter. "--" alone ends the switches: every
//   parameter after it is a file name, whatever it begins with.
// - Names and values are taken without regard to case and stored lower-cased, except the values
//   of file switches, which run to the end of their parameter, "/" included, and keep their
//   letter case.
// What each switch takes and does is one entry of the switch table (command_line.cpp); the
// tool modes ("--help", "--version", ...) are recognised before this parser runs, by the runner.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/start_options.h"

namespace kba604 {

// What a switch expects after its ":" (or "=" in the GNU form).
enum class SwitchValue : std::uint8_t {
  None,    // a flag; a value given anyway is ignored
  Number,  // read as "%i" reads it (decimal, "0x" hexadecimal, a leading "0" octal); a value
           // that is no number leaves the switch without effect, with a message
  Text,    // a text, lower-cased
  Rest,    // the rest of the parameter, "/" included, lower-cased (an event name)
  File,    // the rest of the parameter, "/" included, letter case kept (a file-system path)
};

// Traits of a switch, or-ed together.
namespace switch_trait {
// Given without a value, the switch is a usage error: the program says so and ends with 2
// before it opens anything. (A loose word after "--csv" would otherwise become the file name and
// be overwritten.)
inline constexpr unsigned kValueRequired = 0x1;
// The switch only chooses how the program shows or logs its work: it does not count as a switch
// of the command line (no SwitchFlags 0x20), so it brings neither the no-port mode nor the quiet
// mode nor the automation.
inline constexpr unsigned kPresentation = 0x2;
}  // namespace switch_trait

// What a switch's handler gets and may change.
struct CommandLineState {
  explicit CommandLineState(StartOptions& o) : options(o) {}
  StartOptions& options;
  bool newnetparam_seen = false;
  std::string error_log;   // "elog"
  std::string exit_event;  // "exitevent"
  std::string pipe_name;   // "io:pipe:<name>"
  // Why switches were ignored (the program goes on), one line each.
  std::vector<std::string> messages;
  // Why the command line cannot be used at all (the program ends with 2), one line each.
  std::vector<std::string> usage_errors;
  // The last value of every switch that was given, by name (an empty text for a flag or a
  // switch without value); what a switch without a handler of its own leaves.
  std::map<std::string, std::string, std::less<>> values;
};

// One switch as the parser hands it over: its value as text (after the case rule of its kind)
// and, for a number switch, the number.
struct SwitchArg {
  std::string_view name;
  std::string_view text;
  std::int32_t number = 0;
};

struct SwitchEntry {
  std::string_view name;  // lower-case
  SwitchValue value;
  unsigned traits;  // switch_trait bits
  // What the switch does; null when its value is only kept (CmyCommandLineInfo::value()).
  void (*apply)(CommandLineState&, const SwitchArg&);
  std::string_view value_help;  // how the usage text shows the value: "N", "ФАЙЛ", "on|off"
  std::string_view help;        // its meaning, one line of the usage text
};

// Every switch the program knows, in the order the usage text lists them.
std::span<const SwitchEntry> switch_table();
// The entry of a switch by its lower-case name; null when there is none.
const SwitchEntry* find_switch(std::string_view name);

class CmyCommandLineInfo {
 public:
  // The options are filled in place; clear them before parsing, as the start-up does. The
  // switches are those of the program's table unless a test hands over its own.
  explicit CmyCommandLineInfo(StartOptions& options,
                              std::span<const SwitchEntry> table = switch_table())
      : state_(options), table_(table) {}

  // Parses the parameters (without the program name), in order.
  void parse(const std::vector<std::string>& params);
  // One parameter as the system hands it over.
  void parse_param(std::string_view param);

  // The last parameter that was not a switch, exactly as typed; empty when none.
  const std::string& file_name() const { return file_name_; }
  // The file named with "elog" (quotes stripped, case kept); empty when none.
  const std::string& error_log() const { return state_.error_log; }
  // The event named with "exitevent" (quotes stripped, lower-cased); empty when none.
  const std::string& exit_event() const { return state_.exit_event; }
  // The pipe named with "io:pipe:<name>", lower-cased; empty when none.
  const std::string& pipe_name() const { return state_.pipe_name; }
  // Why switches were ignored, one line each, for the program to print on stderr.
  const std::vector<std::string>& messages() const { return state_.messages; }
  // Why the command line cannot be used: when not empty, the program prints these on stderr and
  // ends with exit_code::kUsage before it opens anything.
  const std::vector<std::string>& usage_errors() const { return state_.usage_errors; }
  // The last value given to the switch name (empty for a flag); nothing when it was not given.
  std::optional<std::string> value(std::string_view name) const;

  // Whether name (lower-case) is one of the switches this parser knows.
  bool is_switch_name(std::string_view name) const { return find(name) != nullptr; }

 private:
  const SwitchEntry* find(std::string_view name) const;
  void parse_switches(std::string_view body);
  void parse_long_switch(std::string_view body);
  void apply(const std::string& name, std::string_view raw_value, bool has_value);

  CommandLineState state_;
  std::span<const SwitchEntry> table_;
  bool switches_ended_ = false;
  std::string file_name_;
};

// Strips double quotes at both ends of a switch value.
std::string strip_quotes(std::string_view value);

}  // namespace kba604
