#include "description/description_loader.h"

#include <cctype>
#include <cstring>

#include "description/description_records.h"
#include "description/gzip_file.h"
#include "description/item_marks.h"
#include "description/record_files.h"
#include "model/value_format.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kba604 {
namespace {

using description::BranchRecord;
using description::ConnectorRecord;
using description::GzipReader;
using description::GzipStatus;
using description::ReferenceRecord;

constexpr const char* kHiddenLabel = "hidden";
// Far more than any instrument has; a table claiming more is damaged, and allocating it would
// take the machine's memory.
constexpr std::size_t kMaximumRecords = 100000;

void refuse(Prompter* prompter, const std::string& file, const std::string& fault) {
  if (prompter == nullptr) return;
  prompter->show(
      platform::format(KBA604_TR_NOOP("Messages", "Файл описания прибора \"%s\" не загружен: %s."),
                       file.c_str(), fault.c_str()) +
          std::string(kContinuesWithoutText),
      "Ошибка", PromptIcon::Error);
}

// The reference value as the parameter keeps it: for an item list an integer picks the item by
// position and a text must name an item (otherwise there is no data); "_" reads as a blank.
std::string normalise_reference(const std::string& reference, const std::string& format) {
  std::string out = reference;
  ValueFormat f = parse_format(format);
  if (f.kind == FormatKind::ItemList && !reference.empty()) {
    const char* begin = reference.c_str();
    char* end = nullptr;
    long n = std::strtol(begin, &end, 10);
    bool integer = end != begin && *end == '\0';
    if (integer) {
      out = n >= 0 && static_cast<std::size_t>(n) < f.items.size()
                ? f.items[static_cast<std::size_t>(n)]
                : std::string(kNoData);
    } else {
      int position = find_item(f.items, reference);
      out = position >= 0 ? f.items[static_cast<std::size_t>(position)] : std::string(kNoData);
    }
  }
  std::replace(out.begin(), out.end(), '_', ' ');
  return out;
}

// Fills a parameter from its record; false (with the fault) when the record is damaged.
bool fill_parameter(ParameterTable& table, Parameter& p, const description::ParameterRecord& r,
                    std::string& fault) {
  description::ItemMarks marks;
  std::string error;
  if (!description::parse_item_marks(r.format, marks, error)) {
    fault = "в формате параметра \"" + r.name + "\" " + "есть \"<hide>(\" без \")\"";
    return false;
  }
  p.short_name = r.name;
  p.title = r.title;
  if (r.index_kind == 0) {
    if (r.index_value >= 0) {
      p.indexed = true;
      p.linear_index = r.index_value;
    } else {
      p.indexed = false;
    }
  } else if (r.index_value == -1) {
    p.indexed = false;
  } else {
    p.address_offset = r.index_value;
  }
  if (r.read_only == 0) {
    p.access_mask |= 1;
  } else {
    p.access_mask &= static_cast<std::uint8_t>(~1u);
  }
  p.description_flag = r.flag != 0;
  p.changed = r.changed != 0;
  p.editability_changed = false;
  p.owner_changed = false;
  p.attribute_multiplicity = r.multiplicity;
  if (r.multiplicity != 0) {
    p.editable = r.editable != 0;
    p.factory = r.owner != 0;
  }
  p.format = marks.format;
  p.item_marks = std::move(marks.marks);
  p.decimals = r.decimals;
  p.minimum = static_cast<double>(r.minimum);
  p.maximum = static_cast<double>(r.maximum);
  p.value = r.value;
  std::string reference = r.reference;
  if (!reference.empty() && reference[0] == '?') {
    p.check_only = true;
    reference.erase(0, 1);
  }
  p.reference_value = normalise_reference(reference, p.format);
  p.note = r.note;
  p.from_description = true;
  // After the index fields: a device slot is chosen by the linear index.
  table.apply_role_code(p, r.role);
  return true;
}

// The tree parser: consumes the records of one buffer in order, never past its end.
class TreeParser {
 public:
  TreeParser(ParameterTable& table, const std::vector<std::uint8_t>& data, bool hidden)
      : table_(table), data_(data), hidden_(hidden) {}

  std::size_t record_count() const { return data_.size() / description::kTreeRecordSize; }
  bool at_branch() const {
    return next_ < record_count() && record(next_)[0] == description::kBranchKind;
  }

  bool parse_branch(DescBranch& branch, int depth) {
    if (depth > description::kMaximumTreeDepth) return fail("ветви вложены слишком глубоко");
    auto b = std::get<BranchRecord>(description::decode_tree_record(record(next_++)));
    branch.set_name(b.name);
    branch.set_record_values(b.values[0], b.values[1], b.values[2]);
    std::int64_t count = b.child_count();
    for (std::int64_t i = 0; i < count; ++i) {
      if (next_ >= record_count()) {
        return fail("в ветви \"" + b.name + "\" записей меньше, чем указано в ее счетчиках");
      }
      const std::uint8_t* rec = record(next_);
      if (rec[0] == description::kBranchKind) {
        auto child = std::make_unique<DescBranch>(DescBranch::kChildName, 0);
        if (!parse_branch(*child, depth + 1)) return false;
        branch.add_child(std::move(child));
      } else if (rec[0] == description::kConnectorKind) {
        ++next_;
        auto c = std::get<ConnectorRecord>(description::decode_tree_record(rec));
        branch.add_connector(
            std::make_unique<Connector>(c.name, branch.name(), c.templ, c.key, c.lower, c.upper));
      } else {
        ++next_;
        if (!reference(branch, std::get<ReferenceRecord>(description::decode_tree_record(rec)))) {
          return false;
        }
      }
    }
    if (b.role == 100) network_ = &branch;
    if (b.role == 101) branch.exclude_from_writing();
    return true;
  }

  DescBranch* network_branch() const { return network_; }
  const std::string& fault() const { return fault_; }

 private:
  const std::uint8_t* record(std::size_t i) const {
    return data_.data() + i * description::kTreeRecordSize;
  }

  bool fail(std::string text) {
    fault_ = std::move(text);
    return false;
  }

  bool reference(DescBranch& branch, const ReferenceRecord& r) {
    if (r.number < 0 || static_cast<std::size_t>(r.number) >= table_.size()) {
      return fail("ссылка на параметр №" + std::to_string(r.number) + " вне таблицы параметров (" +
                  std::to_string(table_.size()) + " записей)");
    }
    Parameter& p = table_[static_cast<std::size_t>(r.number)];
    if (platform::iequals(p.short_name, "offs")) return true;
    p.display_title = r.title;
    if (!hidden_) {
      if (r.read_only != 0) {
        p.access_mask &= static_cast<std::uint8_t>(~2u);
      } else {
        p.access_mask |= 2;
      }
    }
    if (r.minimum != 0.0f || r.maximum != 0.0f) {
      p.minimum = static_cast<double>(r.minimum);
      p.maximum = static_cast<double>(r.maximum);
    }
    branch.add(p);
    if (ParameterTable::is_table_role(p.role_code)) table_.place_in_role_table(p, r.sub_index);
    return true;
  }

  ParameterTable& table_;
  const std::vector<std::uint8_t>& data_;
  bool hidden_;
  std::size_t next_ = 0;
  DescBranch* network_ = nullptr;
  std::string fault_;
};

std::unique_ptr<DescBranch> parse_tree(ParameterTable& table,
                                       const std::vector<std::uint8_t>& compressed,
                                       const std::string& file, std::string_view label,
                                       Prompter* prompter, FileLoad* outcome,
                                       DescBranch** network) {
  auto refused = [&](const std::string& fault) -> std::unique_ptr<DescBranch> {
    refuse(prompter, file, fault);
    if (outcome) *outcome = FileLoad::Refused;
    return nullptr;
  };
  GzipReader reader(compressed.data(), compressed.size());
  if (reader.status() != GzipStatus::Ok) return refused(gzip_fault_text(reader.status()));
  std::vector<std::uint8_t> data(reader.trailer_length());
  data.resize(reader.read(data.data(), data.size()));
  GzipStatus status = reader.finish();
  if (status != GzipStatus::Ok) return refused(gzip_fault_text(status));

  auto root = std::make_unique<DescBranch>(DescBranch::kRootName, 0);
  TreeParser parser(table, data, platform::iequals(label, kHiddenLabel));
  if (parser.at_branch() && !parser.parse_branch(*root, 0)) {
    // Parameters referenced before the fault are listed by branches that go away with the
    // root; the table keeps them.
    return refused(parser.fault());
  }
  if (network) *network = parser.network_branch();
  if (outcome) *outcome = FileLoad::Loaded;
  return root;
}

}  // namespace

std::filesystem::path description_data_folder(const platform::SettingsStore* settings) {
  std::string folder;
  if (settings != nullptr) folder = settings->string_or("datadirectory", "");
  if (folder.empty()) folder = platform::default_data_directory().string();
  return platform::with_trailing_slash(folder);
}

std::optional<std::uint32_t> pack_version(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && !std::isdigit(static_cast<unsigned char>(text[start]))) ++start;
  if (start == text.size()) return std::nullopt;
  std::uint32_t packed = 0;
  std::size_t i = start;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '.')) ++i;
    if (i == text.size()) break;
    std::uint32_t number = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
      number = number * 10 + static_cast<std::uint32_t>(text[i] - '0');
      ++i;
    }
    while (i < text.size() && text[i] != ' ' && text[i] != '.') ++i;
    packed = (packed << 8) | number;
  }
  return packed;
}

TableLoadResult load_parameter_table_from_bytes(ParameterTable& table,
                                                const std::vector<std::uint8_t>& compressed,
                                                const std::string& file, Prompter* prompter) {
  TableLoadResult result;
  auto refused = [&](const std::string& fault) {
    table.reset(0, file);
    refuse(prompter, file, fault);
    result.outcome = FileLoad::Refused;
    result.records = 0;
    result.fault = fault;
    return result;
  };
  GzipReader reader(compressed.data(), compressed.size());
  if (reader.status() != GzipStatus::Ok) return refused(gzip_fault_text(reader.status()));
  std::size_t count = reader.trailer_length() / description::kParameterRecordSize;
  if (count > kMaximumRecords) return refused("слишком много записей параметров");
  table.reset(count, file);
  std::vector<std::uint8_t> buffer(description::kParameterRecordSize);
  for (std::size_t i = 0; i < count; ++i) {
    if (reader.read(buffer.data(), buffer.size()) != buffer.size()) {
      return refused(gzip_fault_text(
          reader.status() != GzipStatus::Ok ? reader.status() : GzipStatus::LengthMismatch));
    }
    std::string fault;
    if (!fill_parameter(table, table[i], description::decode_parameter_record(buffer.data()),
                        fault)) {
      return refused(fault);
    }
  }
  GzipStatus status = reader.finish();
  if (status != GzipStatus::Ok) return refused(gzip_fault_text(status));
  result.records = count;
  return result;
}

TableLoadResult load_parameter_table(ParameterTable& table, const std::filesystem::path& file,
                                     Prompter* prompter) {
  std::vector<std::uint8_t> bytes;
  GzipStatus status = description::read_file_bytes(file, bytes);
  if (status == GzipStatus::Missing) {
    table.reset(0, file.string());
    return {FileLoad::Missing, 0, gzip_fault_text(status)};
  }
  if (status != GzipStatus::Ok) {
    table.reset(0, file.string());
    refuse(prompter, file.string(), gzip_fault_text(status));
    return {FileLoad::Refused, 0, gzip_fault_text(status)};
  }
  return load_parameter_table_from_bytes(table, bytes, file.string(), prompter);
}

std::unique_ptr<DescBranch> load_tree_from_bytes(ParameterTable& table,
                                                 const std::vector<std::uint8_t>& compressed,
                                                 const std::string& file, std::string_view label,
                                                 Prompter* prompter, FileLoad* outcome) {
  return parse_tree(table, compressed, file, label, prompter, outcome, nullptr);
}

namespace {
std::unique_ptr<DescBranch> load_tree_file(ParameterTable& table, const std::filesystem::path& file,
                                           std::string_view label, Prompter* prompter,
                                           FileLoad* outcome, DescBranch** network) {
  std::vector<std::uint8_t> bytes;
  GzipStatus status = description::read_file_bytes(file, bytes);
  if (status != GzipStatus::Ok) {
    refuse(prompter, file.string(), gzip_fault_text(status));
    if (outcome) *outcome = status == GzipStatus::Missing ? FileLoad::Missing : FileLoad::Refused;
    return nullptr;
  }
  return parse_tree(table, bytes, file.string(), label, prompter, outcome, network);
}
}  // namespace

std::unique_ptr<DescBranch> load_tree(ParameterTable& table, const std::filesystem::path& file,
                                      std::string_view label, Prompter* prompter,
                                      FileLoad* outcome) {
  return load_tree_file(table, file, label, prompter, outcome, nullptr);
}

DescriptionLoad load_description(ParameterTable& table, const DescriptionRequest& request,
                                 Prompter* prompter) {
  DescriptionLoad load;
  std::string folder = platform::with_trailing_slash(request.data_folder.string());

  // The version gate. Without a version to check, or when it cannot be read, the description
  // loads as it is.
  std::optional<std::string> version = request.version_text;
  if (!version) {
    if (Parameter* ver = table.find_by_name("ver")) {
      int error = request.read_ver ? request.read_ver(*ver) : 0;
      if (error == 0) version = ver->value;
    }
  }
  if (version) {
    std::optional<std::uint32_t> packed = pack_version(*version);
    if (packed && *packed < kVersionGate) {
      load.stopped_by_version = true;
      return load;
    }
  }

  load.tooltip_file = folder + description::kTooltipFile;

  TableLoadResult table_load =
      load_parameter_table(table, folder + description::kParametersFile, prompter);
  if (table_load.outcome != FileLoad::Loaded) {
    // Without a table the trees would refer to nothing: say once that the description is
    // missing rather than refusing every tree.
    if (table_load.outcome == FileLoad::Missing) {
      refuse(prompter, folder + description::kParametersFile, table_load.fault);
    }
    load.refused = true;
    return load;
  }
  table.set_loaded_at_max_access(request.access_level >= 2);
  if (table.find_by_name("ver") == nullptr && prompter != nullptr) {
    const std::string path = folder + std::string(description::kParametersFile);
    prompter->show(platform::format(KBA604_TR_NOOP("Messages",
                                                   "В таблице параметров \"%s\" нет параметра "
                                                   "\"ver\": версия программы прибора не "
                                                   "проверяется."),
                                    path.c_str()),
                   "Предупреждение", PromptIcon::Warning);
  }

  std::unique_ptr<DescBranch>* roots[] = {&load.main_tree, &load.operational_tree,
                                          &load.hidden_tree};
  for (int t = 0; t < description::kTreeCount; ++t) {
    FileLoad outcome = FileLoad::Loaded;
    DescBranch* network = nullptr;
    *roots[t] = load_tree_file(table, folder + description::kTreeFiles[t],
                               t == description::kHiddenTree ? kHiddenLabel : "", prompter,
                               &outcome, &network);
    if (outcome != FileLoad::Loaded) load.refused = true;
    if (t == description::kMainTree) load.network_branch = network;
  }

  load.tooltips = Tooltips::load(load.tooltip_file);

  // The operational parameters: each gets its polling timer, which also takes its indexed
  // mark away.
  if (load.operational_tree) {
    std::function<void(DescBranch&)> arm = [&](DescBranch& branch) {
      for (Parameter* p : branch.parameters()) {
        if (!p->owns_polling_timer()) p->create_polling_timer();
      }
      for (auto& child : branch.children()) arm(*child);
    };
    arm(*load.operational_tree);
  }
  return load;
}

}  // namespace kba604
