#include "sim/description.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <set>

#include "description/gzip_file.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kba604::sim {
namespace {

constexpr std::size_t kParamRecord = 2343;
constexpr std::size_t kTreeRecord = 512;

std::int32_t get_i32(const unsigned char* p) {
  std::uint32_t v = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                    std::uint32_t(p[3]) << 24;
  return static_cast<std::int32_t>(v);
}

float get_f32(const unsigned char* p) {
  std::uint32_t v = static_cast<std::uint32_t>(get_i32(p));
  float f;
  std::memcpy(&f, &v, sizeof f);
  return f;
}

// A Windows-1251 text field that ends at its first NUL byte.
std::string get_text(const unsigned char* p, std::size_t size) {
  std::size_t n = 0;
  while (n < size && p[n] != 0) ++n;
  return platform::from_cp1251(std::string_view(reinterpret_cast<const char*>(p), n));
}

// The whole decompressed content of a description file (a single-member gzip stream).
bool read_gzip(const std::string& path, std::string& out, std::string* error) {
  using description::GzipStatus;
  std::vector<std::uint8_t> file;
  GzipStatus status = description::read_file_bytes(path, file);
  if (status == GzipStatus::Ok) {
    description::GzipReader reader(file.data(), file.size());
    out.clear();
    std::uint8_t buffer[65536];
    while (reader.status() == GzipStatus::Ok && !reader.at_end()) {
      std::size_t n = reader.read(buffer, sizeof buffer);
      out.append(reinterpret_cast<const char*>(buffer), n);
      if (n < sizeof buffer && !reader.at_end()) break;
    }
    status = reader.status() == GzipStatus::Ok ? reader.finish() : reader.status();
  }
  if (status == GzipStatus::Ok) return true;
  if (error) *error = path + ": " + description::gzip_fault_text(status);
  return false;
}

ParamDef param_from_record(const unsigned char* r) {
  ParamDef p;
  p.name = get_text(r + 0, 9);
  p.title = get_text(r + 9, 256);
  std::int32_t index = get_i32(r + 265);
  std::uint8_t kind = r[269];
  if (kind == 0) {
    if (index >= 0) {
      p.indexed = true;
      p.index = index;
    }
  } else if (index != -1) {
    p.address_offset = index;
  }
  p.read_only = r[270] != 0;
  p.multiplicity = get_i32(r + 277);
  if (p.multiplicity != 0) {
    p.editable = r[281] != 0;
    p.factory = r[282] != 0;
  }
  p.format = strip_hide_markers(get_text(r + 283, 1024));
  p.kind = classify_format(p.format);
  if (p.kind == FormatKind::kItems) p.items = split_items(p.format);
  p.decimals = get_i32(r + 1307);
  p.minimum = get_f32(r + 1311);
  p.maximum = get_f32(r + 1315);
  p.initial = get_text(r + 1319, 256);
  std::string reference = get_text(r + 1575, 256);
  if (!reference.empty() && reference[0] == '?') {
    p.check_only = true;
    reference.erase(0, 1);
  }
  for (char& c : reference)
    if (c == '_') c = ' ';
  p.reference = reference;
  return p;
}

// Walks one tree the way the configurator does: records in order, each branch followed by its
// children. Parameter references set limits, the tree read-only bit and the operational mark.
bool walk_tree(const std::string& data, Description& d, bool hidden, bool operational,
               const std::string& path, std::string* error) {
  std::size_t count = data.size() / kTreeRecord;
  std::size_t next = 0;
  auto rec = [&](std::size_t i) {
    return reinterpret_cast<const unsigned char*>(data.data()) + i * kTreeRecord;
  };
  std::function<bool(int)> branch = [&](int depth) -> bool {
    if (depth > 64) {
      if (error) *error = path + ": branches nested too deep";
      return false;
    }
    const unsigned char* r = rec(next++);
    long long children = static_cast<long long>(get_i32(r + 1)) + get_i32(r + 5) + get_i32(r + 9);
    if (children < 0) children = 0;
    for (long long c = 0; c < children; ++c) {
      if (next >= count) {
        if (error) *error = path + ": a branch has more children than the file holds";
        return false;
      }
      const unsigned char* child = rec(next);
      if (child[0] == 1) {
        if (!branch(depth + 1)) return false;
      } else if (child[0] == 2) {
        ++next;
      } else {
        ++next;
        std::int32_t number = get_i32(child + 1);
        if (number < 0 || static_cast<std::size_t>(number) >= d.params.size()) {
          if (error)
            *error = path + ": a reference to parameter " + std::to_string(number) +
                     " outside the table";
          return false;
        }
        ParamDef& p = d.params[static_cast<std::size_t>(number)];
        if (platform::iequals(p.name, "offs")) continue;
        if (!hidden) p.tree_read_only = child[13] != 0;
        float lo = get_f32(child + 5);
        float hi = get_f32(child + 9);
        if (lo != 0 || hi != 0) {
          p.minimum = lo;
          p.maximum = hi;
        }
        if (operational) p.operational = true;
      }
    }
    return true;
  };
  if (count == 0 || rec(0)[0] != 1) return true;  // an empty root
  return branch(0);
}

}  // namespace

const ParamDef* Description::find(std::string_view name, int slot) const {
  for (const auto& p : params) {
    if (platform::iequals(p.name, name) && (slot < 0 || p.slot() == slot)) return &p;
  }
  return nullptr;
}

FormatKind classify_format(std::string_view format) {
  std::string_view first = format.substr(0, format.find(':'));
  if (platform::iequals(first, "STORED_DOT")) return FormatKind::kStoredDot;
  if (platform::iequals(first, "float")) return FormatKind::kFloat;
  if (platform::iequals(first, "DEC_dot")) return FormatKind::kDecDot;
  if (platform::iequals(first, "CLK_frm")) return FormatKind::kClock;
  if (platform::iequals(format, "string")) return FormatKind::kString;
  if (platform::iequals(format, "ASCI")) return FormatKind::kAscii;
  if (platform::iequals(format, "name")) return FormatKind::kName;
  return FormatKind::kItems;
}

std::vector<std::string> split_items(std::string_view format) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = format.find(':', start);
    std::string item(format.substr(start, end == std::string_view::npos ? end : end - start));
    for (char& c : item)
      if (c == '_') c = ' ';
    items.push_back(item);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return items;
}

std::string strip_hide_markers(std::string_view format) {
  static constexpr std::string_view kHide = "<hide>";
  std::string out;
  std::size_t i = 0;
  while (i < format.size()) {
    if (format.substr(i, kHide.size()) == kHide) {
      i += kHide.size();
      if (i < format.size() && format[i] == '(') {
        std::size_t close = format.find(')', i);
        std::size_t colon = format.find(':', i);
        // A list without its ")" ends at the item's end rather than swallowing the next items.
        if (close == std::string_view::npos || (colon != std::string_view::npos && colon < close))
          i = colon == std::string_view::npos ? format.size() : colon;
        else
          i = close + 1;
      }
      continue;
    }
    out += format[i++];
  }
  return out;
}

bool load_description(const std::string& folder, Description& out, std::string* error) {
  namespace fs = std::filesystem;
  Description d;
  std::string data;
  std::string table = (fs::path(folder) / "parameters.zip").string();
  if (!read_gzip(table, data, error)) return false;
  std::size_t records = data.size() / kParamRecord;
  if (records == 0) {
    if (error) *error = table + ": holds no parameter records";
    return false;
  }
  d.params.reserve(records);
  for (std::size_t i = 0; i < records; ++i)
    d.params.push_back(
        param_from_record(reinterpret_cast<const unsigned char*>(data.data()) + i * kParamRecord));

  struct Tree {
    const char* file;
    bool hidden;
    bool operational;
  };
  for (const Tree& tree :
       {Tree{"kba604.tree.zip", false, false}, Tree{"kba604.tree.op.zip", false, true},
        Tree{"kba604.tree.h.zip", true, false}}) {
    std::string path = (fs::path(folder) / tree.file).string();
    std::string why;
    if (!fs::exists(path)) {
      d.warnings.push_back(path + ": missing; limits come from the parameter table alone");
      continue;
    }
    if (!read_gzip(path, data, &why) ||
        !walk_tree(data, d, tree.hidden, tree.operational, path, &why)) {
      if (error) *error = why;
      return false;
    }
  }

  std::set<std::string> reported;
  for (const auto& p : d.params) {
    if (p.operational && p.indexed && reported.insert(p.name).second)
      d.warnings.push_back("operational parameter " + p.name +
                           " has a linear index; the configurator requests it without one");
  }
  out = std::move(d);
  return true;
}

std::string default_data_folder() {
  return platform::default_data_directory().string();
}

}  // namespace kba604::sim
