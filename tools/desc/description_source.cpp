#include "desc/description_source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <utility>

#include "platform/text.h"

namespace kba604::description {
namespace {

using platform::format;

constexpr const char* kNoData = "Нет данных";

// ---- repeats ---------------------------------------------------------------------------------

// Evaluates the inside of a placeholder, "v", "v*m", "v+n", "v-n" or "v*m+n", for `var`.
bool evaluate(const std::string& inner, const std::string& var, long long value, long long& out) {
  if (inner.compare(0, var.size(), var) != 0) return false;
  const char* p = inner.c_str() + var.size();
  char* end = nullptr;
  long long mul = 1, add = 0;
  if (*p == '*') {
    mul = std::strtoll(p + 1, &end, 10);
    if (end == p + 1) return false;
    p = end;
  }
  if (*p == '+' || *p == '-') {
    bool minus = *p == '-';
    add = std::strtoll(p + 1, &end, 10);
    if (end == p + 1) return false;
    p = end;
    if (minus) add = -add;
  }
  if (*p != '\0') return false;
  out = value * mul + add;
  return true;
}

// Replaces the placeholders of `var` in `text`, innermost first, so that an outer repeat can
// fill in a placeholder of an inner one ("{s+{p*5}}" becomes "{s+5}" for p = 1). Placeholders
// of other variables stay for their own repeat.
std::string substitute_text(const std::string& text, const std::string& var, long long value) {
  std::string s = text;
  std::size_t from = 0;
  for (;;) {
    std::size_t close = s.find('}', from);
    if (close == std::string::npos) break;
    std::size_t open = s.rfind('{', close);
    long long v = 0;
    if (open == std::string::npos || open < from ||
        !evaluate(s.substr(open + 1, close - open - 1), var, value, v)) {
      from = close + 1;
      continue;
    }
    std::string number = std::to_string(v);
    s.replace(open, close - open + 1, number);
    from = open;
  }
  return s;
}

// True when `s` is an optional minus and digits only.
bool is_integer_text(const std::string& s) {
  std::size_t i = !s.empty() && s[0] == '-' ? 1 : 0;
  if (i == s.size() || s.size() > 18) return false;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

void substitute(SourceJson& node, const std::string& var, long long value) {
  if (node.is_string()) {
    const std::string& text = node.get_ref<const std::string&>();
    std::string out = substitute_text(text, var, value);
    // A text that was nothing but placeholders becomes the number it gave.
    if (out != text && text.front() == '{' && text.back() == '}' && is_integer_text(out)) {
      node = std::stoll(out);
    } else {
      node = out;
    }
  } else if (node.is_array() || node.is_object()) {
    for (auto& child : node) substitute(child, var, value);
  }
}

bool read_int(const SourceJson& node, const char* what, long long& out, std::string& error) {
  if (!node.is_number_integer()) {
    error = format("\"%s\" must be an integer", what);
    return false;
  }
  out = node.get<long long>();
  return true;
}

// Repeats may nest; all of them together make at most this many copies, so that a mistake such
// as three nested repeats of 0..99999 is reported instead of filling the memory.
constexpr std::size_t kMaximumRepeatCopies = 200000;

bool expand_repeats_within(SourceJson& node, std::string& error, std::size_t& copies) {
  if (node.is_object()) {
    if (node.contains("repeat")) {
      error = "\"repeat\" may stand only as an element of a list";
      return false;
    }
    for (auto& [key, child] : node.items()) {
      if (!expand_repeats_within(child, error, copies)) return false;
    }
    return true;
  }
  if (!node.is_array()) return true;
  SourceJson result = SourceJson::array();
  for (auto& element : node) {
    if (!element.is_object() || !element.contains("repeat")) {
      if (!expand_repeats_within(element, error, copies)) return false;
      result.push_back(std::move(element));
      continue;
    }
    const SourceJson& r = element["repeat"];
    if (!r.is_object() || !r.contains("var") || !r["var"].is_string() ||
        !element.contains("each")) {
      error = "a repeat needs {\"var\": name, \"from\": n, \"to\": m} and \"each\"";
      return false;
    }
    for (auto& [key, v] : element.items()) {
      if (key != "repeat" && key != "each" && key != "comment") {
        error = format("unknown field \"%s\" in a repeat", key.c_str());
        return false;
      }
    }
    std::string var = r["var"].get<std::string>();
    long long from = 0, to = 0, step = 1;
    if (!r.contains("from") || !read_int(r["from"], "from", from, error)) {
      if (error.empty()) error = "a repeat needs \"from\"";
      return false;
    }
    if (!r.contains("to") || !read_int(r["to"], "to", to, error)) {
      if (error.empty()) error = "a repeat needs \"to\"";
      return false;
    }
    if (r.contains("step") && !read_int(r["step"], "step", step, error)) return false;
    if (step <= 0 || to - from > 100000) {
      error = format("repeat of \"%s\" has a bad range or step", var.c_str());
      return false;
    }
    for (long long v = from; v <= to; v += step) {
      if (++copies > kMaximumRepeatCopies) {
        error = format("the repeats make more than %zu copies", kMaximumRepeatCopies);
        return false;
      }
      SourceJson copy = element["each"];
      substitute(copy, var, v);
      SourceJson wrapped = copy.is_array() ? copy : SourceJson::array({copy});
      if (!expand_repeats_within(wrapped, error, copies)) return false;
      for (auto& item : wrapped) result.push_back(std::move(item));
    }
  }
  node = std::move(result);
  return true;
}

}  // namespace

bool expand_repeats(SourceJson& node, std::string& error) {
  std::size_t copies = 0;
  return expand_repeats_within(node, error, copies);
}

// ---- compiling -------------------------------------------------------------------------------

std::string derived_record_id(const ParameterRecord& r) {
  if (r.index_kind == 0 && r.index_value >= 0) return r.name + ":" + std::to_string(r.index_value);
  if (r.index_kind != 0 && r.index_value != -1) return r.name + "@" + std::to_string(r.index_value);
  return r.name;
}

namespace {

// Reading fields of one source object; every fault becomes one line naming the place.
class FieldReader {
 public:
  FieldReader(const SourceJson& object, std::string where, std::vector<std::string>& errors)
      : object_(object), where_(std::move(where)), errors_(errors) {}

  bool has(const char* key) const { return object_.contains(key); }

  void fail(const std::string& message) { errors_.push_back(where_ + ": " + message); }

  void text(const char* key, std::string& out) {
    used_.insert(key);
    if (!object_.contains(key)) return;
    const auto& v = object_[key];
    // A whole-number placeholder of a repeat gives a number; in a text field it is its digits.
    if (v.is_number_integer()) {
      out = std::to_string(v.get<long long>());
      return;
    }
    if (!v.is_string()) return fail(format("\"%s\" must be a text", key));
    out = v.get<std::string>();
  }

  template <typename Int>
  void integer(const char* key, Int& out) {
    used_.insert(key);
    if (!object_.contains(key)) return;
    const auto& v = object_[key];
    if (v.is_boolean()) {
      out = v.get<bool>() ? 1 : 0;
      return;
    }
    if (!v.is_number_integer()) return fail(format("\"%s\" must be an integer", key));
    long long n = v.get<long long>();
    if (n < static_cast<long long>(std::numeric_limits<Int>::min()) ||
        n > static_cast<long long>(std::numeric_limits<Int>::max())) {
      return fail(format("\"%s\" is out of range: %lld", key, n));
    }
    out = static_cast<Int>(n);
  }

  // A 32-bit float: a number, or "0x" and the hexadecimal bit pattern (for values that are no
  // numbers, such as NaN in a foreign file).
  void real(const char* key, float& out) {
    used_.insert(key);
    if (!object_.contains(key)) return;
    const auto& v = object_[key];
    if (v.is_number()) {
      out = static_cast<float>(v.get<double>());
      return;
    }
    if (v.is_string()) {
      std::string s = v.get<std::string>();
      char* end = nullptr;
      if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        unsigned long bits = std::strtoul(s.c_str() + 2, &end, 16);
        if (*end == '\0' && bits <= 0xFFFFFFFFul) {
          auto b = static_cast<std::uint32_t>(bits);
          std::memcpy(&out, &b, sizeof out);
          return;
        }
      }
    }
    fail(format("\"%s\" must be a number", key));
  }

  void mark_used(const char* key) { used_.insert(key); }

  void check_unknown() {
    for (auto& [key, v] : object_.items()) {
      if (key != "comment" && !used_.count(key)) fail(format("unknown field \"%s\"", key.c_str()));
    }
  }

 private:
  const SourceJson& object_;
  std::string where_;
  std::vector<std::string>& errors_;
  std::set<std::string> used_;
};

std::string describe_entry(const SourceJson& entry) {
  if (entry.is_object() && entry.contains("name") && entry["name"].is_string()) {
    return "\"" + entry["name"].get<std::string>() + "\"";
  }
  return "?";
}

struct ParameterSource {
  ParameterRecord record;
  std::string id;
  std::string help;
  bool has_help = false;
};

void compile_parameter(const SourceJson& entry, std::size_t number,
                       std::vector<ParameterSource>& out, std::vector<std::string>& errors) {
  std::string where =
      format("%s: record %zu (%s)", kParametersSource, number, describe_entry(entry).c_str());
  if (!entry.is_object()) {
    errors.push_back(where + ": a record must be an object");
    return;
  }
  FieldReader f(entry, where, errors);
  ParameterSource p;
  ParameterRecord& r = p.record;
  r.value = kNoData;
  if (!f.has("name")) f.fail("\"name\" is missing");
  f.text("name", r.name);
  f.text("title", r.title);
  if (f.has("index") && f.has("offset")) f.fail("a record has either \"index\" or \"offset\"");
  if (f.has("index")) {
    r.index_kind = 0;
    f.integer("index", r.index_value);
    if (r.index_value < 0) f.fail("\"index\" must not be negative");
  }
  if (f.has("offset")) {
    r.index_kind = 1;
    f.integer("offset", r.index_value);
  }
  f.integer("index_kind", r.index_kind);
  f.integer("index_value", r.index_value);
  f.integer("read_only", r.read_only);
  f.integer("flag", r.flag);
  f.integer("role", r.role);
  f.integer("changed", r.changed);
  f.integer("multiplicity", r.multiplicity);
  f.integer("editable", r.editable);
  f.integer("owner", r.owner);
  f.text("format", r.format);
  f.integer("decimals", r.decimals);
  f.real("min", r.minimum);
  f.real("max", r.maximum);
  f.text("value", r.value);
  f.text("reference", r.reference);
  f.text("note", r.note);
  f.text("id", p.id);
  if (f.has("help")) p.has_help = true;
  f.text("help", p.help);
  f.check_unknown();
  if (p.id.empty()) p.id = derived_record_id(r);
  out.push_back(std::move(p));
}

struct TreeCompiler {
  const char* file;
  const std::map<std::string, std::int32_t>& ids;
  std::int32_t table_size;
  std::vector<TreeRecord>& out;
  std::vector<std::string>& errors;

  void branch(const SourceJson& node, const std::string& path, int depth = 0) {
    std::string where = format("%s: branch \"%s\"", file, path.c_str());
    if (!node.is_object() || !node.contains("branch")) {
      errors.push_back(format("%s: under \"%s\": expected a branch", file, path.c_str()));
      return;
    }
    if (depth > kMaximumTreeDepth) {
      errors.push_back(format("%s: under \"%s\": branches nest more than %d levels below the root",
                              file, path.c_str(), kMaximumTreeDepth));
      return;
    }
    FieldReader f(node, where, errors);
    BranchRecord b;
    f.text("branch", b.name);
    f.integer("value", b.values[0]);
    f.integer("image", b.values[1]);
    f.integer("selected_image", b.values[2]);
    f.integer("role", b.role);
    f.mark_used("counts");
    f.mark_used("children");
    f.check_unknown();
    std::string here = path.empty() ? b.name : path + " \\ " + b.name;
    where = format("%s: branch \"%s\"", file, here.c_str());

    std::size_t position = out.size();
    out.push_back(b);
    std::int32_t branches = 0, references = 0, connectors = 0;
    if (node.contains("children")) {
      const auto& children = node["children"];
      if (!children.is_array()) {
        errors.push_back(where + ": \"children\" must be a list");
      } else {
        for (const auto& child : children) {
          if (child.is_object() && child.contains("branch")) {
            branch(child, here, depth + 1);
            ++branches;
          } else if (child.is_object() && child.contains("connector")) {
            connector(child, here);
            ++connectors;
          } else if (child.is_object() && child.contains("ref")) {
            reference(child, here);
            ++references;
          } else {
            errors.push_back(where + ": a child must be a branch, a connector or a ref");
          }
        }
      }
    }
    auto& record = std::get<BranchRecord>(out[position]);
    record.counts[0] = branches;
    record.counts[1] = references;
    record.counts[2] = connectors;
    if (node.contains("counts")) {
      const auto& c = node["counts"];
      bool ok = c.is_array() && c.size() == 3;
      long long sum = 0;
      for (std::size_t i = 0; ok && i < 3; ++i) {
        ok = c[i].is_number_integer() &&
             c[i].get<long long>() >= std::numeric_limits<std::int32_t>::min() &&
             c[i].get<long long>() <= std::numeric_limits<std::int32_t>::max();
        if (ok) {
          record.counts[i] = static_cast<std::int32_t>(c[i].get<long long>());
          sum += record.counts[i];
        }
      }
      if (!ok) {
        errors.push_back(where + ": \"counts\" must be three integers");
      } else if (sum != branches + references + connectors) {
        errors.push_back(format("%s: \"counts\" add up to %lld but the branch has %d children",
                                where.c_str(), sum, branches + references + connectors));
      }
    }
  }

  void connector(const SourceJson& node, const std::string& path) {
    std::string where = format("%s: connector under \"%s\"", file, path.c_str());
    FieldReader f(node, where, errors);
    ConnectorRecord c;
    f.text("connector", c.name);
    f.text("template", c.templ);
    f.text("key", c.key);
    f.integer("lower", c.lower);
    f.integer("upper", c.upper);
    f.check_unknown();
    out.push_back(c);
  }

  void reference(const SourceJson& node, const std::string& path) {
    std::string where = format("%s: reference under \"%s\"", file, path.c_str());
    FieldReader f(node, where, errors);
    ReferenceRecord r;
    f.mark_used("ref");
    const auto& ref = node["ref"];
    if (ref.is_string()) {
      auto it = ids.find(ref.get<std::string>());
      if (it == ids.end()) {
        f.fail(format("no parameter record has the id \"%s\"", ref.get<std::string>().c_str()));
      } else {
        r.number = it->second;
      }
    } else if (ref.is_number_integer()) {
      long long n = ref.get<long long>();
      if (n < 0 || n >= table_size) {
        f.fail(format("record number %lld is outside the table of %d records", n, table_size));
      } else {
        r.number = static_cast<std::int32_t>(n);
      }
    } else {
      f.fail("\"ref\" must be a record id or a record number");
    }
    f.integer("kind", r.kind);
    if (r.kind == kBranchKind || r.kind == kConnectorKind) {
      f.fail(format("\"kind\" %d is the kind of a branch or a connector", r.kind));
    }
    f.real("min", r.minimum);
    f.real("max", r.maximum);
    f.integer("read_only", r.read_only);
    f.integer("sub", r.sub_index);
    f.text("title", r.title);
    f.check_unknown();
    out.push_back(r);
  }
};

}  // namespace

namespace {

// A source nested deeper than any tree the program loads (a branch takes two levels, its
// children list and itself, and repeats a few more) is refused before anything walks it: the
// copies and walks of the compiler go down one level per call.
constexpr std::size_t kMaximumSourceNesting = 4 * kMaximumTreeDepth + 64;

// The nesting depth of a value, measured without recursion.
std::size_t nesting_depth(const SourceJson& root) {
  std::size_t deepest = 0;
  std::vector<std::pair<const SourceJson*, std::size_t>> pending{{&root, 1}};
  while (!pending.empty()) {
    auto [value, depth] = pending.back();
    pending.pop_back();
    if (!value->is_structured()) continue;
    deepest = std::max(deepest, depth);
    if (depth > kMaximumSourceNesting) break;
    for (const auto& child : *value) pending.emplace_back(&child, depth + 1);
  }
  return deepest;
}

}  // namespace

bool compile_description(const SourceJson& parameters_source,
                         const std::array<SourceJson, kTreeCount>& tree_sources,
                         DescriptionRecords& out, std::vector<std::string>& errors) {
  std::size_t errors_before = errors.size();
  out = DescriptionRecords{};

  bool too_deep = false;
  for (int t = -1; t < kTreeCount; ++t) {
    const SourceJson& source = t < 0 ? parameters_source : tree_sources[t];
    if (nesting_depth(source) > kMaximumSourceNesting) {
      errors.push_back(format("%s: nested more than %zu levels deep",
                              t < 0 ? kParametersSource : kTreeSources[t], kMaximumSourceNesting));
      too_deep = true;
    }
  }
  if (too_deep) return false;

  SourceJson list = parameters_source.is_object() && parameters_source.contains("parameters")
                        ? parameters_source["parameters"]
                        : parameters_source;
  if (!list.is_array()) {
    errors.push_back(format("%s: expected {\"parameters\": [...]}", kParametersSource));
    return false;
  }
  std::string error;
  if (!expand_repeats(list, error)) {
    errors.push_back(format("%s: %s", kParametersSource, error.c_str()));
    return false;
  }
  // An entry with nothing but a "comment" heads a group of records and compiles to nothing.
  std::vector<ParameterSource> sources;
  for (const auto& entry : list) {
    if (entry.is_object() && entry.size() == 1 && entry.contains("comment")) continue;
    compile_parameter(entry, sources.size(), sources, errors);
  }
  if (sources.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    errors.push_back(format("%s: too many records", kParametersSource));
    return false;
  }

  std::map<std::string, std::int32_t> ids;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    auto [it, inserted] = ids.emplace(sources[i].id, static_cast<std::int32_t>(i));
    if (!inserted) {
      errors.push_back(format("%s: records %d and %zu share the id \"%s\"; give one an \"id\"",
                              kParametersSource, it->second, i, sources[i].id.c_str()));
    }
  }
  for (auto& s : sources) out.parameters.push_back(s.record);

  // Help texts: one entry per short name with the text of its first record that has one; a
  // record whose text differs gets its own entry under its id.
  std::map<std::string, std::string> tips;
  for (const auto& s : sources) {
    if (!s.has_help) continue;
    auto it = tips.find(s.record.name);
    if (it == tips.end()) {
      tips.emplace(s.record.name, s.help);
    } else if (it->second != s.help) {
      tips[s.id] = s.help;
    }
  }
  for (auto& [key, text] : tips) out.tooltips.push_back({key, text});

  for (int t = 0; t < kTreeCount; ++t) {
    SourceJson tree = tree_sources[t];
    if (tree.is_null()) continue;
    if (!expand_repeats(tree, error)) {
      errors.push_back(format("%s: %s", kTreeSources[t], error.c_str()));
      continue;
    }
    TreeCompiler c{kTreeSources[t], ids, static_cast<std::int32_t>(out.parameters.size()),
                   out.trees[t], errors};
    c.branch(tree, "");
  }
  return errors.size() == errors_before;
}

// ---- decompiling -----------------------------------------------------------------------------

namespace {

// The shortest decimal text that reads back as the same 32-bit float.
SourceJson float_source(float f) {
  if (!std::isfinite(f)) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return format("0x%08X", bits);
  }
  char buf[64];
  for (int precision = 1; precision <= 9; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, static_cast<double>(f));
    if (std::strtof(buf, nullptr) == f) break;
  }
  double d = std::strtod(buf, nullptr);
  if (d == std::floor(d) && std::fabs(d) < 1e15 && !(d == 0 && std::signbit(d))) {
    return static_cast<long long>(d);
  }
  return d;
}

void put_byte(SourceJson& o, const char* key, std::uint8_t v, std::uint8_t fallback) {
  if (v == fallback) return;
  if (v == 0 || v == 1) {
    o[key] = v == 1;
  } else {
    o[key] = v;
  }
}

SourceJson parameter_source(const ParameterRecord& r, const std::string& explicit_id,
                            const std::string* help) {
  SourceJson o = SourceJson::object();
  if (!explicit_id.empty()) o["id"] = explicit_id;
  o["name"] = r.name;
  if (!r.title.empty()) o["title"] = r.title;
  if (r.index_kind == 0 && r.index_value >= 0) {
    o["index"] = r.index_value;
  } else if (r.index_kind == 1 && r.index_value != -1) {
    o["offset"] = r.index_value;
  } else if (!(r.index_kind == 0 && r.index_value == -1)) {
    o["index_kind"] = r.index_kind;
    o["index_value"] = r.index_value;
  }
  put_byte(o, "read_only", r.read_only, 0);
  put_byte(o, "flag", r.flag, 0);
  if (r.role != 0) o["role"] = r.role;
  put_byte(o, "changed", r.changed, 0);
  if (r.multiplicity != 1) o["multiplicity"] = r.multiplicity;
  put_byte(o, "editable", r.editable, 1);
  put_byte(o, "owner", r.owner, 0);
  o["format"] = r.format;
  if (r.decimals != 0) o["decimals"] = r.decimals;
  std::uint32_t min_bits, max_bits;
  std::memcpy(&min_bits, &r.minimum, 4);
  std::memcpy(&max_bits, &r.maximum, 4);
  if (min_bits != 0) o["min"] = float_source(r.minimum);
  if (max_bits != 0) o["max"] = float_source(r.maximum);
  if (r.value != kNoData) o["value"] = r.value;
  if (!r.reference.empty()) o["reference"] = r.reference;
  if (!r.note.empty()) o["note"] = r.note;
  if (help != nullptr) o["help"] = *help;
  return o;
}

struct TreeDecompiler {
  const std::vector<TreeRecord>& records;
  const std::vector<std::string>& ids;
  const char* file;
  std::vector<std::string>& errors;
  std::size_t next = 0;
  int depth = 0;

  bool branch(SourceJson& out) {
    if (next >= records.size() || !std::holds_alternative<BranchRecord>(records[next])) {
      errors.push_back(format("%s: record %zu: expected a branch record", file, next));
      return false;
    }
    const auto& b = std::get<BranchRecord>(records[next++]);
    out = SourceJson::object();
    out["branch"] = b.name;
    if (b.values[0] != 0) out["value"] = b.values[0];
    if (b.values[1] != 0) out["image"] = b.values[1];
    if (b.values[2] != 0) out["selected_image"] = b.values[2];
    if (b.role != 0) out["role"] = b.role;
    std::int64_t count = b.child_count();
    if (count < 0 || static_cast<std::uint64_t>(count) > records.size() - next) {
      errors.push_back(format("%s: branch \"%s\": %lld children run past the %zu records", file,
                              b.name.c_str(), static_cast<long long>(count), records.size()));
      return false;
    }
    if (depth > kMaximumTreeDepth) {
      errors.push_back(
          format("%s: branches nest more than %d levels below the root", file, kMaximumTreeDepth));
      return false;
    }
    ++depth;
    SourceJson children = SourceJson::array();
    std::int32_t branches = 0, references = 0, connectors = 0;
    for (std::int64_t i = 0; i < count; ++i) {
      if (next >= records.size()) {
        errors.push_back(format("%s: branch \"%s\": children run past the %zu records", file,
                                b.name.c_str(), records.size()));
        return false;
      }
      const TreeRecord& rec = records[next];
      SourceJson child;
      if (std::holds_alternative<BranchRecord>(rec)) {
        if (!branch(child)) return false;
        ++branches;
      } else if (const auto* c = std::get_if<ConnectorRecord>(&rec)) {
        ++next;
        child["connector"] = c->name;
        child["template"] = c->templ;
        child["key"] = c->key;
        child["lower"] = c->lower;
        child["upper"] = c->upper;
        ++connectors;
      } else {
        const auto& r = std::get<ReferenceRecord>(rec);
        ++next;
        if (r.number >= 0 && static_cast<std::size_t>(r.number) < ids.size()) {
          child["ref"] = ids[r.number];
        } else {
          child["ref"] = r.number;
        }
        if (!r.title.empty()) child["title"] = r.title;
        std::uint32_t min_bits, max_bits;
        std::memcpy(&min_bits, &r.minimum, 4);
        std::memcpy(&max_bits, &r.maximum, 4);
        if (min_bits != 0) child["min"] = float_source(r.minimum);
        if (max_bits != 0) child["max"] = float_source(r.maximum);
        put_byte(child, "read_only", r.read_only, 0);
        if (r.sub_index != 0) child["sub"] = r.sub_index;
        if (r.kind != 0) child["kind"] = r.kind;
        ++references;
      }
      children.push_back(std::move(child));
    }
    --depth;
    if (b.counts[0] != branches || b.counts[1] != references || b.counts[2] != connectors) {
      out["counts"] = SourceJson::array({b.counts[0], b.counts[1], b.counts[2]});
    }
    if (!children.empty()) out["children"] = std::move(children);
    return true;
  }
};

}  // namespace

bool decompile_description(const DescriptionRecords& records, SourceJson& parameters,
                           std::array<SourceJson, kTreeCount>& trees,
                           std::vector<std::string>& errors) {
  std::size_t errors_before = errors.size();
  const auto& table = records.parameters;

  // Two records with the same name and index: the later ones get an id of their own.
  std::vector<std::string> ids;
  std::vector<std::string> explicit_ids;
  std::set<std::string> taken;
  for (std::size_t i = 0; i < table.size(); ++i) {
    std::string id = derived_record_id(table[i]);
    std::string explicit_id;
    if (taken.count(id)) {
      explicit_id = id + "#" + std::to_string(i);
      id = explicit_id;
    }
    taken.insert(id);
    ids.push_back(id);
    explicit_ids.push_back(explicit_id);
  }

  std::map<std::string, std::string> tips;
  for (const auto& e : records.tooltips) tips[e.key] = e.text;
  SourceJson list = SourceJson::array();
  for (std::size_t i = 0; i < table.size(); ++i) {
    // A record under its own key keeps its text; the name's text goes to the others.
    const std::string* help = nullptr;
    std::string own_key = derived_record_id(table[i]);
    auto it = own_key != table[i].name ? tips.find(own_key) : tips.end();
    if (it == tips.end()) it = tips.find(table[i].name);
    if (it != tips.end()) help = &it->second;
    list.push_back(parameter_source(table[i], explicit_ids[i], help));
  }
  parameters = SourceJson::object();
  parameters["parameters"] = std::move(list);

  for (int t = 0; t < kTreeCount; ++t) {
    trees[t] = nullptr;
    if (records.trees[t].empty()) continue;
    TreeDecompiler d{records.trees[t], ids, kTreeFiles[t], errors};
    SourceJson root;
    if (!d.branch(root)) continue;
    if (d.next != records.trees[t].size()) {
      errors.push_back(format("%s: %zu records follow the root branch", kTreeFiles[t],
                              records.trees[t].size() - d.next));
      continue;
    }
    trees[t] = std::move(root);
  }
  return errors.size() == errors_before;
}

// ---- printing --------------------------------------------------------------------------------

namespace {

std::string inline_form(const SourceJson& v) {
  if (v.is_object()) {
    std::string s = "{";
    bool first = true;
    for (auto& [key, child] : v.items()) {
      if (!first) s += ", ";
      first = false;
      s += SourceJson(key).dump(-1, ' ', false);
      s += ": ";
      s += inline_form(child);
    }
    return s + "}";
  }
  if (v.is_array()) {
    std::string s = "[";
    bool first = true;
    for (const auto& child : v) {
      if (!first) s += ", ";
      first = false;
      s += inline_form(child);
    }
    return s + "]";
  }
  return v.dump(-1, ' ', false, SourceJson::error_handler_t::replace);
}

std::size_t display_width(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

void print(const SourceJson& v, int indent, std::string& out) {
  std::string flat = inline_form(v);
  if (display_width(flat) + static_cast<std::size_t>(indent) <= 100 ||
      (!v.is_object() && !v.is_array())) {
    out += flat;
    return;
  }
  std::string pad(static_cast<std::size_t>(indent) + 2, ' ');
  if (v.is_object()) {
    out += "{\n";
    bool first = true;
    for (auto& [key, child] : v.items()) {
      if (!first) out += ",\n";
      first = false;
      out += pad + SourceJson(key).dump(-1, ' ', false) + ": ";
      print(child, indent + 2, out);
    }
    out += "\n" + std::string(static_cast<std::size_t>(indent), ' ') + "}";
  } else {
    out += "[\n";
    bool first = true;
    for (const auto& child : v) {
      if (!first) out += ",\n";
      first = false;
      out += pad;
      print(child, indent + 2, out);
    }
    out += "\n" + std::string(static_cast<std::size_t>(indent), ' ') + "]";
  }
}

}  // namespace

std::string dump_source(const SourceJson& value) {
  std::string out;
  print(value, 0, out);
  out += '\n';
  return out;
}

}  // namespace kba604::description
