#include "files/parameter_list_export.h"

#include <algorithm>
#include <cmath>
#include <locale>
#include <sstream>

#include "description/desc_branch.h"
#include "model/talv_codec.h"
#include "model/value_format.h"
#include "platform/atomic_file.h"
#include "platform/text.h"

namespace kba604 {

// The fixed fragment, embedded by the build from parameter_list_fragment.html.
extern const unsigned char kParameterListFragment[];
extern const std::size_t kParameterListFragmentSize;

namespace {

constexpr std::string_view kFirstPathComparison = "корень";
constexpr std::string_view kHashMarkOpen = "@hash(";
constexpr std::string_view kHashMarkClose = ")@";

void replace_all(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// A limit as a stream prints a double by default (six significant digits, no exponent unless
// needed), independent of the user's locale.
std::string number_text(double value) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << value;
  return out.str();
}

// A limit of "CLK_frm" counts minutes; negative ones are taken as 0.
unsigned minutes_of(double limit) {
  if (!(limit > 0)) return 0;
  if (limit >= 4294967295.0) return 4294967295u;
  return static_cast<unsigned>(limit);
}

std::string first_token(std::string_view format) {
  return std::string(format.substr(0, format.find(':')));
}

std::string type_cell(const ParameterLine& line) {
  const std::string kind = first_token(line.format);
  if (platform::iequals(kind, "STORED_DOT")) {
    return line.decimals == 0 ? "Число с плавающей точкой"
                              : "Знаковое число с односторонней десятичной точкой";
  }
  if (platform::iequals(kind, "float")) return "32-разрядное вещественное число";
  if (platform::iequals(kind, "DEC_dot")) return "Знаковое целое число";
  if (platform::iequals(kind, "CLK_frm")) return "Составной тип данных с информацией о времени";
  // "string" holds characters as "ASCI" does; listing it as an enumeration of the one item
  // "string" would tell the reader nothing true.
  if (platform::iequals(line.format, "ASCI") || platform::iequals(line.format, "string")) {
    return "Строковый тип";
  }
  if (platform::iequals(line.format, "name")) return "Нетипизированный набор битов";
  std::string cell = "\n\t<ol start=0>\n";
  for (const std::string& item : parse_format(line.format).items) {
    cell += "\t\t<li> " + escape_list_text(item) + "\n";
  }
  cell += "\t</ol>";
  return cell;
}

std::string indexing_cell(const ParameterLine& line) {
  if (line.first_index == line.last_index) return "нет индекса";
  std::int64_t step = line.index_step;
  std::int64_t end = line.last_index;
  if (platform::iequals(line.short_name, "A.i.j")) {
    step *= 2;
    end = static_cast<std::int64_t>(line.first_index) + line.last_index - 1;
  }
  const std::int64_t second = line.first_index + step;
  std::string cell = std::to_string(line.first_index) + ", " + std::to_string(second);
  if (second < end) cell += " .. " + std::to_string(end);
  return cell;
}

std::string range_cell(const ParameterLine& line) {
  if (!(line.minimum < line.maximum)) return "нет ограничений";
  if (platform::iequals(first_token(line.format), "CLK_frm")) {
    const unsigned low = minutes_of(line.minimum), high = minutes_of(line.maximum);
    return platform::format("от %02u:%02u до %02u:%02u", low / 60, low % 60, high / 60, high % 60);
  }
  return "от " + number_text(line.minimum) + " до " + number_text(line.maximum);
}

std::string attributes_cell(const ParameterLine& line) {
  if (line.attribute_multiplicity == 0) return "нет атрибутов";
  if (line.attribute_multiplicity == 1) return "обычн. атрибуты";
  return "дерево атр-ов обрезано (кратность индекcов " +
         std::to_string(line.attribute_multiplicity) + ")";
}

void write_group_header(std::string& page) {
  page += "<tr>\n";
  for (const char* caption : {"№", "Параметр", "Hash", "Описание", "Тип", "Индексация",
                              "Диапазон значений", "Атрибуты"}) {
    page += "<td><strong><b>";
    page += caption;
    page += "</b></strong></td>\n";
  }
  page += "</tr>\n";
}

}  // namespace

std::vector<ParameterLine> collect_parameter_list(DescBranch& root) {
  std::vector<ParameterLine> lines;
  // Only whether a branch has indexed parameters matters here: the check's warnings about
  // mixed indexes belong to the tree's own checks and would repeat on every export.
  root.collect_parameter_lines(lines, "", nullptr);
  return lines;
}

std::string escape_list_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  replace_all(out, "№1", "№...");
  return out;
}

ParameterListCells parameter_list_cells(const ParameterLine& line) {
  ParameterListCells cells;
  cells.name = escape_list_text(line.short_name);
  cells.hash = platform::format("%04X", hash_name(line.short_name));
  cells.description = escape_list_text(line.title);
  cells.type = type_cell(line);
  cells.indexing = indexing_cell(line);
  cells.range = range_cell(line);
  cells.attributes = attributes_cell(line);
  return cells;
}

std::string operational_fragment() {
  std::string text(reinterpret_cast<const char*>(kParameterListFragment),
                   kParameterListFragmentSize);
  // "@hash(NAME)@" stands for the hash of the command NAME.
  for (std::size_t at = text.find(kHashMarkOpen); at != std::string::npos;
       at = text.find(kHashMarkOpen, at)) {
    const std::size_t name_at = at + kHashMarkOpen.size();
    const std::size_t close = text.find(kHashMarkClose, name_at);
    if (close == std::string::npos) break;
    const std::string name = text.substr(name_at, close - name_at);
    const std::string hash = platform::format("%04X", hash_name(name));
    text.replace(at, close + kHashMarkClose.size() - at, hash);
    at += hash.size();
  }
  return text;
}

std::string parameter_list_page(const std::vector<ParameterLine>& lines) {
  std::string page =
      "<html>\n<head>\n"
      "<meta HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1251\">\n"
      "\t<title>Список параметров прибора КВА117</title>\n"
      "</head>\n\n<body>\n"
      "<h4>Список обычных (неоперативных) параметров</h4>\n"
      "<table border=1 style=\"font-size=12px\">\n";
  std::string previous_path(kFirstPathComparison);
  int number = 0;
  for (const ParameterLine& line : lines) {
    if (!platform::iequals(line.caption, previous_path)) {
      if (!line.caption.empty()) {
        page += "<tr><td colspan=8 bgColor=\"#ffffaa\"><b>" + escape_list_text(line.caption) +
                "</b></td></tr>\n";
      }
      write_group_header(page);
      previous_path = line.caption;
    }
    const ParameterListCells cells = parameter_list_cells(line);
    page += "<tr>\n\t<td>" + std::to_string(++number) + "\t</td>\n";
    for (const std::string* cell : {&cells.name, &cells.hash, &cells.description, &cells.type,
                                    &cells.indexing, &cells.range}) {
      page += "\t<td>" + *cell + "\t</td>\n";
    }
    page += "\t<td>" + cells.attributes + "\t</td>\n</tr>\n";
  }
  page += "</table>\n\n<br>\n";
  page += operational_fragment();
  page += "</body>\n</html>\n";
  return page;
}

bool write_parameter_list(DescBranch& root, const std::filesystem::path& target,
                          std::string* error) {
  const std::string page = platform::to_cp1251(parameter_list_page(collect_parameter_list(root)));
  return platform::write_file_atomically(target, page, error);
}

std::string parameter_list_failure_text(const std::filesystem::path& target,
                                        const std::string& reason) {
  return platform::format("Не удалось записать список параметров в файл \"%s\": %s",
                          target.string().c_str(), reason.c_str());
}

}  // namespace kba604
