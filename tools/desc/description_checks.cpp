#include "desc/description_checks.h"

#include <cstdlib>
#include <functional>
#include <map>
#include <set>

#include "description/item_marks.h"
#include "model/network_settings.h"
#include "model/talv_codec.h"
#include "model/value_format.h"
#include "platform/text.h"

namespace kba604::description {
namespace {

using platform::format;
using platform::iequals;

// Walks one tree's records, calling `on_reference` for every parameter reference with the
// chain of enclosing branches. False when the records do not form one complete root branch.
template <typename F>
bool walk_tree(const std::vector<TreeRecord>& records, F on_reference, std::string& error) {
  std::size_t next = 0;
  std::vector<const BranchRecord*> chain;
  std::function<bool()> branch = [&]() -> bool {
    if (next >= records.size() || !std::holds_alternative<BranchRecord>(records[next])) {
      error = format("record %zu is not a branch record", next);
      return false;
    }
    const auto& b = std::get<BranchRecord>(records[next++]);
    std::int64_t count = b.child_count();
    if (count < 0 || static_cast<std::uint64_t>(count) > records.size() - next) {
      error = format("branch \"%s\": its children run past the data", b.name.c_str());
      return false;
    }
    chain.push_back(&b);
    for (std::int64_t i = 0; i < count; ++i) {
      if (next >= records.size()) {
        error = format("branch \"%s\": its children run past the data", b.name.c_str());
        return false;
      }
      if (std::holds_alternative<BranchRecord>(records[next])) {
        if (!branch()) return false;
      } else if (const auto* r = std::get_if<ReferenceRecord>(&records[next++])) {
        on_reference(*r, chain);
      }
    }
    chain.pop_back();
    return true;
  };
  if (records.empty()) return true;
  if (!branch()) return false;
  if (next != records.size()) {
    error = format("%zu records follow the root branch", records.size() - next);
    return false;
  }
  return true;
}

}  // namespace

const std::vector<std::string_view>& special_parameter_names() {
  static const std::vector<std::string_view> names = {
      "dev",   "ver",    "exit",  "n.Err",  "prot",  "r.co",  "n.Ch", "S.idx", "S.SAU", "n.Obj",
      "cal.t", "n.in.c", "OD.tP", "r.OD.i", "S.OD",  "Rel.a", "OP.i", "OP",    "al.re", "n.rel",
      "S.OE",  "Ch.At",  "S.MD",  "A.i.j",  "lg.ty", "r-s",   "dog",  "220",   "res",   "OFFS",
      "nPC",   "PCP.i",  "sp",    "t.rs",   "t.stb", "net.s", "rEAd", "r.CAL", "rd.rg", "Set.P",
      "r.OUt", "r.kEY",  "r.PrG", "r.StP",  "r.St",  "r.SiG", "r.Cn", "rtC"};
  return names;
}

std::vector<std::string> check_data_set(const DescriptionRecords& d) {
  std::vector<std::string> faults;
  const auto& table = d.parameters;
  auto where = [&](std::size_t i) {
    return format("%s: record %zu (\"%s\")", kParametersSource, i, table[i].name.c_str());
  };

  // Operational parameters (listed in the operational tree) and the limits the trees give.
  std::set<std::int32_t> operational;
  std::set<std::int32_t> limited_by_tree;
  const BranchRecord* network = nullptr;
  int network_branches = 0;
  std::vector<std::int32_t> network_refs;
  for (int t = 0; t < kTreeCount; ++t) {
    std::string error;
    bool ok = walk_tree(
        d.trees[t],
        [&](const ReferenceRecord& r, const std::vector<const BranchRecord*>& chain) {
          if (r.number < 0 || static_cast<std::size_t>(r.number) >= table.size()) {
            faults.push_back(format("%s: reference to record %d outside the table of %zu",
                                    kTreeFiles[t], r.number, table.size()));
            return;
          }
          if (t == kOperationalTree) operational.insert(r.number);
          if (r.minimum != 0.0f || r.maximum != 0.0f) limited_by_tree.insert(r.number);
          if (t == kMainTree && !chain.empty() && chain.back()->role == 100) {
            network_refs.push_back(r.number);
          }
        },
        error);
    if (!ok) faults.push_back(format("%s: %s", kTreeFiles[t], error.c_str()));
    if (t == kMainTree) {
      for (const auto& rec : d.trees[t]) {
        if (const auto* b = std::get_if<BranchRecord>(&rec); b && b->role == 100) {
          network = b;
          ++network_branches;
        }
      }
    }
  }

  std::map<std::uint32_t, std::size_t> keys;
  std::map<std::string, std::size_t> first_by_name;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const auto& r = table[i];
    first_by_name.emplace(platform::fold_case(r.name), i);
    if (r.name.empty() || platform::cp1251_length(r.name) > 8) {
      faults.push_back(where(i) + ": a short name has 1 to 8 characters");
    }
    ItemMarks marks;
    std::string error;
    if (!parse_item_marks(r.format, marks, error)) {
      faults.push_back(where(i) + ": format: " + error);
      continue;
    }
    ValueFormat parsed = parse_format(marks.format);
    FormatKind kind = parsed.kind;
    if (kind == FormatKind::ItemList) {
      const auto& items = parsed.items;
      if (items.size() < 2) {
        faults.push_back(where(i) + ": the item list \"" + r.format +
                         "\" has fewer than two items");
      }
      // The reference value must name an item (by position or by text), or it would load
      // as no data and initialisation would write nothing sensible.
      std::string ref = r.reference;
      if (!ref.empty() && ref[0] == '?') ref.erase(0, 1);
      if (!ref.empty()) {
        char* end = nullptr;
        long n = std::strtol(ref.c_str(), &end, 10);
        bool found = *end == '\0' && n >= 0 && static_cast<std::size_t>(n) < items.size();
        found = found || find_item(items, ref) >= 0;
        if (!found) {
          faults.push_back(where(i) + ": the reference value \"" + r.reference +
                           "\" is no item of \"" + marks.format + "\"");
        }
      }
    }
    if (kind == FormatKind::StoredDot) {
      bool limited = r.minimum != 0.0f || r.maximum != 0.0f ||
                     limited_by_tree.count(static_cast<std::int32_t>(i));
      if (!limited) faults.push_back(where(i) + ": a STORED_DOT parameter needs limits");
      if (r.minimum > r.maximum) faults.push_back(where(i) + ": the minimum exceeds the maximum");
    }
    if (operational.count(static_cast<std::int32_t>(i))) continue;
    bool indexed = r.index_kind == 0 && r.index_value >= 0;
    std::uint32_t key = (indexed ? static_cast<std::uint32_t>(r.index_value & 0xFFFF) : 0xFFFFu)
                            << 16 |
                        hash_name(r.name);
    auto [it, inserted] = keys.emplace(key, i);
    if (!inserted) {
      faults.push_back(
          format("%s: the key %08X is also that of record %zu (\"%s\"); only the "
                 "first four characters of a name count in its hash",
                 where(i).c_str(), key, it->second, table[it->second].name.c_str()));
    }
  }

  for (auto name : special_parameter_names()) {
    if (!first_by_name.count(platform::fold_case(name))) {
      faults.push_back(format("%s: no record named \"%.*s\"", kParametersSource,
                              static_cast<int>(name.size()), name.data()));
    }
  }

  // Commands: read-only, and no reference value except the configuration reset's, so that
  // writing all parameters never resets or stops the instrument.
  for (std::string_view command : {"r.co", "r-s", "exit", "dev", "ver", "n.Err"}) {
    for (std::size_t i = 0; i < table.size(); ++i) {
      if (!iequals(table[i].name, command)) continue;
      if (table[i].read_only == 0) faults.push_back(where(i) + ": a command must be read-only");
      bool has_reference = !table[i].reference.empty();
      if (iequals(command, "r.co") != has_reference) {
        faults.push_back(where(i) + (has_reference
                                         ? ": a command other than r.co has no reference value"
                                         : ": r.co needs its reference value"));
      }
    }
  }

  if (network_branches != 1) {
    faults.push_back(format("%s: %d branches have the network role 100; exactly one must",
                            kTreeFiles[kMainTree], network_branches));
  } else {
    for (const NetworkSetting& rule : kNetworkSettings) {
      const ParameterRecord* found = nullptr;
      for (auto n : network_refs) {
        if (iequals(table[n].name, rule.name)) found = &table[n];
      }
      if (found == nullptr) {
        faults.push_back(format("%s: the network branch \"%s\" lists no \"%.*s\"",
                                kTreeFiles[kMainTree], network->name.c_str(),
                                static_cast<int>(rule.name.size()), rule.name.data()));
        continue;
      }
      if (found->name != rule.name) {
        faults.push_back(format("%s: the network parameter \"%s\" must be named \"%.*s\"",
                                kParametersSource, found->name.c_str(),
                                static_cast<int>(rule.name.size()), rule.name.data()));
      }
      bool format_ok = rule.format.empty()
                           ? parse_format(found->format).kind == FormatKind::ItemList
                           : found->format == rule.format;
      if (!format_ok) {
        faults.push_back(
            format("%s: the network parameter \"%s\" has the format \"%s\"; it "
                   "must be \"%.*s\"",
                   kParametersSource, found->name.c_str(), found->format.c_str(),
                   static_cast<int>(rule.format.size()), rule.format.data()));
      }
    }
  }
  return faults;
}

}  // namespace kba604::description
