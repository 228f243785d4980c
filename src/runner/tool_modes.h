// Tool modes: "kba604 --help", "--version", "--signal-exitevent NAME" and the like. A tool mode is
// recognised only as the first parameter, in the GNU form ("--name", with its value after a
// space, ":" or "="); "-h" alone, "-?" and "/?" mean "--help" ("-h:600" stays the window height).
// A tool mode never starts the configurator, never opens the window and never changes the
// settings; it prints its results on standard output, its complaints on standard error, and
// ends with its own exit code.
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kba604 {

// How a tool mode takes its value.
enum class ToolValue {
  None,      // no value; "--help=x" is a usage error
  Optional,  // only after ":" or "=" ("--scan=3"), never the next parameter
  Required,  // after ":", "=" or as the next parameter; missing is a usage error
};

// One run of a tool mode.
struct ToolCall {
  std::optional<std::string> value;  // as typed (case kept)
  std::vector<std::string> rest;     // the parameters after the mode and its value
  std::ostream& out;                 // results
  std::ostream& err;                 // complaints, prefixed "kba604: "
};

struct ToolMode {
  std::string_view name;  // without "--", lower case
  ToolValue value;
  std::string_view value_help;  // how the usage text shows the value: "ИМЯ"
  int (*run)(ToolCall&);        // returns the exit code
  std::string_view help;        // its meaning, one line of the usage text
};

// Every tool mode, in the order the usage text lists them.
std::span<const ToolMode> tool_modes();

// Runs the tool mode that params[0] names and returns its exit code; nothing when params[0]
// names none (the parameters are then the program's own).
std::optional<int> run_tool_mode(const std::vector<std::string>& params, std::ostream& out,
                                 std::ostream& err);

// The usage text of "--help": the grammar, every switch with its value and meaning, the tool
// modes, the exit codes in order and the files the program uses.
std::string usage_text();
// The text of "--version".
std::string version_text();

}  // namespace kba604
