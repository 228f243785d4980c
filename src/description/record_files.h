// The description files as the program reads them: their names, the three trees, the records of
// a whole description, the packing of records into the uncompressed contents of the binary
// files and back, and the help texts of "tooltip.dat". The loader reads with this; the
// description compiler (tools/desc) and the test fixtures write with it, so the files are
// written and read in one place.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "description/description_records.h"

namespace kba604::description {

// The three trees, in loading order.
enum TreeKind : int { kMainTree = 0, kOperationalTree = 1, kHiddenTree = 2 };
inline constexpr int kTreeCount = 3;

// File names of the description, the same in the source folder (JSON) and the data folder.
inline constexpr const char* kParametersFile = "parameters.zip";
inline constexpr const char* kTooltipFile = "tooltip.dat";
inline constexpr std::array<const char*, kTreeCount> kTreeFiles = {
    "kba604.tree.zip", "kba604.tree.op.zip", "kba604.tree.h.zip"};
inline constexpr const char* kParametersSource = "parameters.json";
inline constexpr std::array<const char*, kTreeCount> kTreeSources = {"tree.json", "tree.op.json",
                                                                     "tree.h.json"};

struct TooltipEntry {
  std::string key;  // short name, or "name:index" for one index only
  std::string text;
  bool operator==(const TooltipEntry&) const = default;
};

// A description as records: the parameter table, the three trees as runs of records (the root
// branch first, each branch followed by its children) and the help texts.
struct DescriptionRecords {
  std::vector<ParameterRecord> parameters;
  std::array<std::vector<TreeRecord>, kTreeCount> trees;
  std::vector<TooltipEntry> tooltips;
};

// The uncompressed contents of the binary files.
std::vector<std::uint8_t> pack_parameter_records(const std::vector<ParameterRecord>& records,
                                                 std::vector<std::string>& errors);
std::vector<std::uint8_t> pack_tree_records(const std::vector<TreeRecord>& records,
                                            const char* file_name,
                                            std::vector<std::string>& errors);
std::vector<ParameterRecord> unpack_parameter_records(const std::vector<std::uint8_t>& data);
std::vector<TreeRecord> unpack_tree_records(const std::vector<std::uint8_t>& data);

// "tooltip.dat": a first line "KBA604 tooltip 1", then one entry per line, the key, a tab and
// the text, UTF-8, with "\n", "\t" and "\\" written as escapes.
std::string write_tooltip_file(const std::vector<TooltipEntry>& entries);
// Entries of a tooltip file; a file without the first line (empty or foreign) has none.
std::vector<TooltipEntry> read_tooltip_file(std::string_view content);

}  // namespace kba604::description
