// The instrument's parameter set, read from the same description files as the configurator's
// (a gzip-compressed table of 2343-byte parameter records and three trees of 512-byte records).
// The instrument needs less than the configurator: names, where each value lives (index or
// address offset), formats, limits, attributes, initial and reference values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kba604::sim {

enum class FormatKind { kStoredDot, kFloat, kDecDot, kClock, kAscii, kString, kName, kItems };

struct ParamDef {
  std::string name;   // short device name, UTF-8
  std::string title;  // for messages only
  bool indexed = false;
  int index = -1;  // linear index when indexed
  int address_offset = 0;
  bool read_only = false;       // the table's read-only flag
  bool tree_read_only = false;  // a main or operational tree lists it read-only
  int multiplicity = 0;         // attribute multiplicity: 0 none, 1 own, N every N-th index
  bool editable = true;
  bool factory = false;
  std::string format;  // descriptor with the hide markers removed
  FormatKind kind = FormatKind::kItems;
  std::vector<std::string> items;  // item texts, "_" shown as a blank
  int decimals = 0;
  double minimum = 0;
  double maximum = 0;
  std::string initial;    // initial value text
  std::string reference;  // reference value text ("" = none), "?" removed
  bool check_only = false;
  bool operational = false;  // listed in the operational tree (polled, sent without an index)

  bool has_limits() const { return minimum != 0 || maximum != 0; }
  // The slot the instrument files the value under: the linear index, else the address offset.
  int slot() const { return indexed ? index : address_offset; }
};

struct Description {
  std::vector<ParamDef> params;
  std::vector<std::string> warnings;  // records the instrument could not take as they are

  const ParamDef* find(std::string_view name, int slot = -1) const;
};

// Classifies a format descriptor and splits an item list (blanks for "_").
FormatKind classify_format(std::string_view format);
std::vector<std::string> split_items(std::string_view format);
// Removes the "<hide>" and "<hide>(...)" markers from every item of a format text.
std::string strip_hide_markers(std::string_view format);

// Reads "parameters.zip" and, when present, the three tree files of a folder. False with a
// message naming the file and the fault when the table is missing or damaged.
bool load_description(const std::string& folder, Description& out, std::string* error);

// The data folder next to the program: <executable dir>/../share/kba604/.
std::string default_data_folder();

}  // namespace kba604::sim
