// The parameter list export: a reference page of the instrument's parameters as the loaded
// description defines them, written as "parlist.html" (Windows-1251) in the program directory
// and opened in the desktop's viewer. Rows come from the main tree (parameters that differ only
// by index merged into one row with their index range), grouped by the path of their branch;
// a fixed table of the operational parameters follows.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "model/parameter_line.h"

namespace kba604 {

class DescBranch;

inline constexpr std::string_view kParameterListFileName = "parlist.html";

// The rows of the list from the main tree's root.
std::vector<ParameterLine> collect_parameter_list(DescBranch& root);

// The texts of a row's cells (running number aside), as they stand in the page: markup of the
// enumerations included, every text of the description escaped.
struct ParameterListCells {
  std::string name;
  std::string hash;
  std::string description;
  std::string type;
  std::string indexing;
  std::string range;
  std::string attributes;
};
ParameterListCells parameter_list_cells(const ParameterLine& line);

// A text of the description made safe inside the page: "&", "<", ">" and both quotes become
// entities, and "№1" of the first instance of a repeated branch becomes "№...".
std::string escape_list_text(std::string_view text);

// The fixed table of the operational parameters that follows the generated one, each command's
// hash filled in.
std::string operational_fragment();

// The whole page in UTF-8; the file holds it in Windows-1251.
std::string parameter_list_page(const std::vector<ParameterLine>& lines);

// Writes the list of the tree under root to target, replacing any file there only when the new
// one is complete. False, with the reason in *error, when it could not be written.
bool write_parameter_list(DescBranch& root, const std::filesystem::path& target,
                          std::string* error);

// The message shown when the list could not be written (our own words).
std::string parameter_list_failure_text(const std::filesystem::path& target,
                                        const std::string& reason);

}  // namespace kba604
