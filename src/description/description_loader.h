// Loading the instrument's description: the parameter table "parameters.zip" and the three
// trees "kba604.tree.zip" (main), "kba604.tree.op.zip" (operational) and "kba604.tree.h.zip"
// (hidden) from the data folder, behind the version gate of the instrument's firmware.
//
// A damaged file is refused as a whole with one message that names the file and the fault;
// the program then goes on without what that file holds, as it does when the version gate
// stops the load. Nothing in a file can make the loader read outside its buffers.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/prompter.h"
#include "app/translatable.h"
#include "description/desc_branch.h"
#include "description/tooltips.h"
#include "model/parameter_table.h"
#include "platform/settings_store.h"

namespace kba604 {

// The data folder: the settings value "datadirectory" when present, otherwise the installed
// description folder next to the program (<exe dir>/../share/kba604/); ends with "/".
std::filesystem::path description_data_folder(const platform::SettingsStore* settings);

// The version gate: from the first decimal digit of the text on, the tokens between blanks and
// points each shift the packed number left by 8 bits and add their leading integer. Nothing
// when the text has no digit.
std::optional<std::uint32_t> pack_version(std::string_view text);
// Versions packing below this load no description.
inline constexpr std::uint32_t kVersionGate = 256;

// How loading one file ended.
enum class FileLoad {
  Loaded,
  Missing,  // the file does not exist (for the parameter table: an empty table, no message)
  Refused,  // the file is damaged; its message was shown
};

struct TableLoadResult {
  FileLoad outcome = FileLoad::Loaded;
  std::size_t records = 0;
  std::string fault;  // the fault's text when refused
};

// Replaces the table with the records of the file. A file whose length is 2343 × n + k loads
// n records. Refused files leave an empty table. The prompter is told of a refusal.
TableLoadResult load_parameter_table(ParameterTable& table, const std::filesystem::path& file,
                                     Prompter* prompter);

// Loads one tree over the table. label "hidden" marks the hidden tree, whose references do not
// change the tree read-only bit. Nothing (and a message) when the file is missing or damaged.
std::unique_ptr<DescBranch> load_tree(ParameterTable& table, const std::filesystem::path& file,
                                      std::string_view label, Prompter* prompter,
                                      FileLoad* outcome = nullptr);
// The same from the bytes of a compressed tree file; `file` only names it in messages.
std::unique_ptr<DescBranch> load_tree_from_bytes(ParameterTable& table,
                                                 const std::vector<std::uint8_t>& compressed,
                                                 const std::string& file, std::string_view label,
                                                 Prompter* prompter, FileLoad* outcome = nullptr);
TableLoadResult load_parameter_table_from_bytes(ParameterTable& table,
                                                const std::vector<std::uint8_t>& compressed,
                                                const std::string& file, Prompter* prompter);

// The tail of the message about a refused description file, for a program that goes on without
// the file. A caller that ends the program instead says so in its place.
inline constexpr std::string_view kContinuesWithoutText = "\nПрограмма продолжит работу без него.";
// The same line as a box shows it on its own (for its translation, see app/translatable.h).
inline constexpr std::string_view kContinuesWithoutLine =
    KBA604_TR_NOOP("Messages", "Программа продолжит работу без него.");

struct DescriptionRequest {
  std::filesystem::path data_folder;
  // The version text to check, when it comes from a configuration file. Without it the
  // table's own "ver" is used, read from the instrument first when read_ver is set.
  std::optional<std::string> version_text;
  // Reads "ver" from the instrument; the result is the read's error code (0 = read).
  std::function<int(Parameter& ver)> read_ver;
  // The access level at loading time; at the full level (2) the link may use the maximum-
  // access attribute requests for the parameters of this description.
  int access_level = 2;
};

struct DescriptionLoad {
  // The version gate stopped the load: no table was loaded and there are no trees.
  bool stopped_by_version = false;
  // A file was refused as damaged (or the table was missing).
  bool refused = false;
  std::unique_ptr<DescBranch> main_tree;
  std::unique_ptr<DescBranch> operational_tree;
  std::unique_ptr<DescBranch> hidden_tree;
  // The branch of the instrument's network settings (role 100), inside main_tree, or none.
  DescBranch* network_branch = nullptr;
  // The help texts of the current modification, and what that file holds.
  std::filesystem::path tooltip_file;
  Tooltips tooltips;
};

// The whole description: version gate, table, the three trees in their order, and the polling
// timers of the operational parameters (which also lose their indexed mark). The table is
// replaced: the caller drops the trees of an earlier load, and every other reference into the
// table, before calling.
DescriptionLoad load_description(ParameterTable& table, const DescriptionRequest& request,
                                 Prompter* prompter);

}  // namespace kba604
