// The supervising words of the control channel: what a supervising program may ask over the
// channel besides the presence query, so that it can do what the switches do without starting
// the program anew for each command. Only new first words: a peer that does not know them never
// sends them. This header is the language (parsing and the form of answers); the commands
// themselves are in control/channel_commands.h, and docs/control-channel.md describes both.
//
//   !status                       → !status port COM9 bps 9600 ... link open operation idle
//   !get NAME[:INDEX][@OFFSET]    → !value NAME TEXT    | !error NAME NOTE
//   !set NAME[:INDEX][@OFFSET] TEXT
//   !read | !write | !compare     → !progress DONE TOTAL ERRORS ... then !done CODE ERRORS
//   !open FILE [force] | !save FILE
//   !stop
// A command that arrives while an operation runs gets "!busy WORD"; a malformed one
// "!error WORD NOTE". Line breaks and backslashes inside a note or value are sent as "\n",
// "\r" and "\\", so every answer is one line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kba604 {

namespace channel_word {
inline constexpr std::string_view kStatus = "!status";
inline constexpr std::string_view kGet = "!get";
inline constexpr std::string_view kSet = "!set";
inline constexpr std::string_view kRead = "!read";
inline constexpr std::string_view kWrite = "!write";
inline constexpr std::string_view kCompare = "!compare";
inline constexpr std::string_view kOpen = "!open";
inline constexpr std::string_view kSave = "!save";
inline constexpr std::string_view kStop = "!stop";
}  // namespace channel_word

// Whether word is one of the supervising words.
bool is_channel_word(std::string_view word);

// A parameter as the channel names it: its short name, the linear index of an indexed
// parameter, the address offset of the operational ones that share a name ("rEAd").
struct ChannelParameterName {
  std::string name;
  std::optional<std::int32_t> index;
  std::optional<std::int32_t> offset;

  // The form it was given in: NAME[:INDEX][@OFFSET].
  std::string text() const;
  bool operator==(const ChannelParameterName&) const = default;
};

// Parses NAME[:INDEX][@OFFSET]; decimal numbers, the index 0..65534, the offset 0..65535.
// Nothing for an empty name or a number that does not read.
std::optional<ChannelParameterName> parse_parameter_name(std::string_view text);

struct ChannelRequest {
  std::string word;                // the first word, as "!get"
  ChannelParameterName parameter;  // "!get", "!set"
  std::string text;                // "!set": the value text; "!open", "!save": the file
  bool force = false;              // "!open … force"
  bool operator==(const ChannelRequest&) const = default;
};

// Parses one line of a supervising word. A file name may be put in double quotes when it
// holds blanks. Nothing, with the reason in *error, when the line is malformed.
std::optional<ChannelRequest> parse_channel_request(std::string_view line, std::string* error);

// A text made fit for one line of an answer: "\n", "\r" and "\\" for line feeds, carriage
// returns and backslashes.
std::string escape_for_line(std::string_view text);

}  // namespace kba604
