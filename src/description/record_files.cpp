#include "description/record_files.h"

#include "platform/text.h"

namespace kba604::description {

using platform::format;

// ---- packing ---------------------------------------------------------------------------------

std::vector<std::uint8_t> pack_parameter_records(const std::vector<ParameterRecord>& records,
                                                 std::vector<std::string>& errors) {
  std::vector<std::uint8_t> data(records.size() * kParameterRecordSize);
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::string error;
    if (!encode_parameter_record(records[i], data.data() + i * kParameterRecordSize, &error)) {
      errors.push_back(format("%s: record %zu (\"%s\"): %s", kParametersSource, i,
                              records[i].name.c_str(), error.c_str()));
    }
  }
  return data;
}

std::vector<std::uint8_t> pack_tree_records(const std::vector<TreeRecord>& records,
                                            const char* file_name,
                                            std::vector<std::string>& errors) {
  std::vector<std::uint8_t> data(records.size() * kTreeRecordSize);
  for (std::size_t i = 0; i < records.size(); ++i) {
    std::string error;
    if (!encode_tree_record(records[i], data.data() + i * kTreeRecordSize, &error)) {
      errors.push_back(format("%s: tree record %zu: %s", file_name, i, error.c_str()));
    }
  }
  return data;
}

std::vector<ParameterRecord> unpack_parameter_records(const std::vector<std::uint8_t>& data) {
  std::vector<ParameterRecord> records;
  std::size_t n = data.size() / kParameterRecordSize;
  records.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    records.push_back(decode_parameter_record(data.data() + i * kParameterRecordSize));
  }
  return records;
}

std::vector<TreeRecord> unpack_tree_records(const std::vector<std::uint8_t>& data) {
  std::vector<TreeRecord> records;
  std::size_t n = data.size() / kTreeRecordSize;
  records.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    records.push_back(decode_tree_record(data.data() + i * kTreeRecordSize));
  }
  return records;
}

// ---- tooltips --------------------------------------------------------------------------------

namespace {
constexpr std::string_view kTooltipMagic = "KBA604 tooltip 1";

std::string escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char n = s[++i];
    out += n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n;
  }
  return out;
}
}  // namespace

std::string write_tooltip_file(const std::vector<TooltipEntry>& entries) {
  std::string out(kTooltipMagic);
  out += '\n';
  for (const auto& e : entries) {
    out += escape(e.key);
    out += '\t';
    out += escape(e.text);
    out += '\n';
  }
  return out;
}

std::vector<TooltipEntry> read_tooltip_file(std::string_view content) {
  std::vector<TooltipEntry> entries;
  std::size_t eol = content.find('\n');
  std::string_view first = content.substr(0, eol);
  if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
  if (first != kTooltipMagic || eol == std::string_view::npos) return entries;
  std::size_t pos = eol + 1;
  while (pos < content.size()) {
    std::size_t end = content.find('\n', pos);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t tab = line.find('\t');
    if (tab != std::string_view::npos && tab > 0) {
      entries.push_back({unescape(line.substr(0, tab)), unescape(line.substr(tab + 1))});
    }
    pos = end + 1;
  }
  return entries;
}

}  // namespace kba604::description
