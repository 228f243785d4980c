#include "operations/reread_set.h"

#include <array>
#include <optional>

#include "platform/text.h"

namespace kba604 {
namespace {

// Which indexes of the stale parameter are to be read again.
enum class Indexes {
  All,                    // every parameter of the name
  EightFromIndex,         // the written parameter's index and the seven after it
  SameIndex,              // the written parameter's index
  IndexToIndexPlusValue,  // from the written index to that index plus the written value
  EvenPair,               // the even index at or below the written index, and the next one
};

struct Rule {
  std::string_view written;
  std::string_view stale;
  Indexes indexes;
};

// One row per stale name; a written name with several stale names has several rows.
constexpr std::array<Rule, 17> kRules = {{
    {"n.Ch", "S.idx", Indexes::EightFromIndex},
    {"n.Ch", "S.SAU", Indexes::All},
    {"n.Obj", "S.idx", Indexes::All},
    {"n.Obj", "n.Ch", Indexes::All},
    {"cal.t", "n.in.c", Indexes::SameIndex},
    {"OD.tP", "r.OD.i", Indexes::All},
    {"OD.tP", "S.OD", Indexes::All},
    {"Rel.a", "S.OE", Indexes::All},
    {"OP.i", "S.OE", Indexes::All},
    {"OP", "S.OE", Indexes::All},
    {"al.re", "S.OE", Indexes::All},
    {"n.rel", "S.OE", Indexes::All},
    {"Ch.At", "Ch.At", Indexes::All},
    {"nPC", "PCP.i", Indexes::IndexToIndexPlusValue},
    {"nPC", "S.MD", Indexes::All},
    {"A.i.j", "A.i.j", Indexes::EvenPair},
    {"lg.ty", "A.i.j", Indexes::EvenPair},
}};

}  // namespace

void ReReadSet::note_written(const Parameter& written, std::string_view value) {
  const int index = written.linear_index;
  for (const Rule& rule : kRules) {
    if (!platform::iequals(written.short_name, rule.written)) continue;
    switch (rule.indexes) {
      case Indexes::All:
        add_all(rule.stale);
        break;
      case Indexes::EightFromIndex:
        for (int i = index; i < index + 8; ++i) add_index(rule.stale, i);
        break;
      case Indexes::SameIndex:
        add_index(rule.stale, index);
        break;
      case Indexes::IndexToIndexPlusValue: {
        // A value that is no number (nothing known yet) leaves the count open: every step.
        std::optional<std::int32_t> count = platform::scan_int(value);
        if (!count || *count < 0) {
          add_all(rule.stale);
          break;
        }
        for (int i = index; i <= index + *count; ++i) add_index(rule.stale, i);
        break;
      }
      case Indexes::EvenPair: {
        const int even = index - (index % 2 != 0 ? 1 : 0);
        add_index(rule.stale, even);
        add_index(rule.stale, even + 1);
        break;
      }
    }
  }
}

void ReReadSet::add_all(std::string_view name) {
  Entry& e = entries_[platform::fold_case(name)];
  e.all = true;
  e.indexes.clear();
}

void ReReadSet::add_index(std::string_view name, int index) {
  Entry& e = entries_[platform::fold_case(name)];
  if (!e.all) e.indexes.insert(index);
}

bool ReReadSet::names(const Parameter& parameter) const {
  auto it = entries_.find(platform::fold_case(parameter.short_name));
  if (it == entries_.end()) return false;
  return it->second.all || it->second.indexes.count(parameter.linear_index) != 0;
}

std::string ReReadSet::entry_text(std::string_view name) const {
  auto it = entries_.find(platform::fold_case(name));
  if (it == entries_.end()) return {};
  if (it->second.all) return "all";
  std::string text;
  for (int i : it->second.indexes) {
    if (!text.empty()) text += ";";
    text += std::to_string(i);
  }
  return text;
}

}  // namespace kba604
