#include "measurement/report_export.h"

#include <sys/statvfs.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <ctime>
#include <iterator>
#include <map>
#include <unordered_map>

#include "files/protocol_archive.h"
#include "measurement/day_file_reader.h"
#include "model/device_codes.h"
#include "model/my_converter.h"
#include "platform/atomic_file.h"
#include "platform/text.h"

namespace kba604 {
namespace fs = std::filesystem;
namespace {

constexpr const char* kHeaderColour = "\"#33cc99\"";
constexpr const char* kRowColours[] = {"\"#ccffff\"", "\"#ffffcc\""};
constexpr const char* kErrorColour = "\"#ffbfbf\"";
// The last row a worksheet can hold, the header row aside.
constexpr std::size_t kMaxWorkbookRows = 1048575;

struct Cell {
  std::string text;
  bool error = false;
  bool set = false;
};

struct Row {
  std::int64_t time = 0;
  std::vector<Cell> cells;  // by column; shorter when the later columns have no value
};

// One parameter's column, with the text of its last record kept: polled values repeat, and
// decoding is the dearest step of the export.
struct Column {
  const Parameter* parameter = nullptr;
  bool last_valid = false;
  bool last_error = false;
  std::uint8_t last_length = 0;
  std::array<std::uint8_t, 255> last_data{};
  std::string last_text;

  const std::string& text_of(const DayRecord& r) {
    if (!last_valid || last_error != r.error || last_length != r.length ||
        std::memcmp(last_data.data(), r.data.data(), r.length) != 0) {
      last_text = report_cell_text(*parameter, r.error, r.data.data(), r.length);
      last_valid = true;
      last_error = r.error;
      last_length = r.length;
      std::memcpy(last_data.data(), r.data.data(), r.length);
    }
    return last_text;
  }
};

std::tm local_time(std::int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  localtime_r(&tt, &tm);
  return tm;
}

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

bool passes(ReportFilter filter, const Parameter& p) {
  switch (filter) {
    case ReportFilter::All: return true;
    case ReportFilter::Read: return platform::iequals(p.short_name, "read");
    case ReportFilter::SetPoint: return platform::iequals(p.short_name, "Set.P");
    case ReportFilter::Output: return platform::iequals(p.short_name, "r.out");
  }
  return false;
}

std::string date_title(ReportDate d) {
  return platform::format("%02d-%02d-%04d", d.day, d.month, d.year);
}

// The report table of the days read so far, with its columns kept across days so that a
// parameter has one column in a workbook of many days.
class ReportTable {
 public:
  ReportTable(const ParameterTable& table, ReportFilter filter) {
    for (const Parameter& p : table) {
      if (!passes(filter, p)) continue;
      Key key{fold_name(p.short_name), static_cast<std::uint8_t>(p.address_offset & 0xFF)};
      by_name_.emplace(key, &p);  // of two with one name and offset the first in table order
    }
  }

  // Adds a record when its parameter is in the table and passes the filter.
  bool add(const DayRecord& r) {
    const Parameter* p = parameter_of(r);
    if (p == nullptr) return false;
    std::size_t column = column_of(p);
    auto [it, fresh] = row_of_time_.try_emplace(r.time, rows_.size());
    if (fresh) rows_.push_back(Row{r.time, {}});
    Row& row = rows_[it->second];
    if (row.cells.size() <= column) row.cells.resize(column + 1);
    Cell& cell = row.cells[column];
    cell.text = columns_[column].text_of(r);
    cell.error = r.error;
    cell.set = true;
    return true;
  }

  // Ends a day: its rows are handed over and the next day starts with none.
  std::vector<Row> take_rows() {
    row_of_time_.clear();
    return std::move(rows_);
  }
  const std::vector<Column>& columns() const { return columns_; }

 private:
  struct Key {
    std::string name;
    std::uint8_t offset;
    bool operator<(const Key& o) const {
      return offset != o.offset ? offset < o.offset : name < o.name;
    }
  };
  static std::string fold_name(std::string_view name) { return platform::fold_case(name); }

  const Parameter* parameter_of(const DayRecord& r) {
    // The same eight name bytes and offset always name the same parameter: look each up once.
    std::uint64_t raw = r.name_key();
    auto& slot = by_record_[r.address_offset];
    auto it = slot.find(raw);
    if (it != slot.end()) return it->second;
    auto found = by_name_.find(Key{fold_name(r.name_text()), r.address_offset});
    const Parameter* p = found != by_name_.end() ? found->second : nullptr;
    slot.emplace(raw, p);
    return p;
  }
  std::size_t column_of(const Parameter* p) {
    auto [it, fresh] = column_of_parameter_.try_emplace(p, columns_.size());
    if (fresh) {
      columns_.emplace_back();
      columns_.back().parameter = p;
    }
    return it->second;
  }

  std::map<Key, const Parameter*> by_name_;
  std::array<std::unordered_map<std::uint64_t, const Parameter*>, 256> by_record_;
  std::unordered_map<const Parameter*, std::size_t> column_of_parameter_;
  std::vector<Column> columns_;
  std::vector<Row> rows_;
  std::unordered_map<std::int64_t, std::size_t> row_of_time_;
};

// ---- HTML pages ---------------------------------------------------------------------------

std::string page_name(const std::string& base, std::size_t page) {
  return page == 0 ? base + ".html" : platform::format("%s(%zu).html", base.c_str(), page);
}

std::string cell_html(std::string_view text) {
  return text.empty() ? std::string("&nbsp;") : html_escape(text);
}

// One page: the table of rows [first, last) and the index of every page's hour.
std::string page_html(const std::vector<Column>& columns, const std::vector<Row>& rows,
                      std::size_t first, std::size_t last, const std::vector<std::size_t>& starts,
                      std::size_t page, const std::string& base) {
  std::string h;
  h += "<html><head>\n";
  h += "<title>" + std::string(kReportTitle) + "</title>";
  h += "\n<meta http-equiv=Content-Type content=\"text/html; charset=windows-1251\">\n</head>"
       "<body>\n";
  h += "<TABLE cellSpacing=\"0\" cellPadding=\"1\" width=\"100%\" border=\"1\">\n";
  auto header = [&](std::string_view caption) {
    h += platform::format("<TD%s %i align=\"center\"><STRONG>%s</STRONG></TD>",
                          (std::string(" bgColor=") + kHeaderColour).c_str(), 1,
                          cell_html(caption).c_str());
  };
  h += "<TR>\n";
  header(kTimeColumnCaption);
  for (const Column& c : columns) header(c.parameter->shown_title());
  h += "</TR>\n";
  for (std::size_t i = first; i < last; ++i) {
    const Row& row = rows[i];
    const std::string colour = std::string(" bgColor=") + kRowColours[(i - first) % 2];
    const std::string error_colour = std::string(" bgColor=") + kErrorColour;
    char time_text[16];
    std::tm tm = local_time(row.time);
    std::strftime(time_text, sizeof time_text, "%H:%M:%S", &tm);
    h += "<TR>\n";
    h += "<TD" + colour + ">" + time_text + "</TD>";
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const Cell* cell = c < row.cells.size() && row.cells[c].set ? &row.cells[c] : nullptr;
      h += "<TD" + (cell && cell->error ? error_colour : colour) + ">" +
           cell_html(cell ? cell->text : std::string()) + "</TD>";
    }
    h += "</TR>\n";
  }
  h += "</TABLE>\n";
  h += "<P>Часы:";
  for (std::size_t p = 0; p < starts.size(); ++p) {
    char hour[8];
    std::tm tm = local_time(rows[starts[p]].time);
    std::strftime(hour, sizeof hour, "%H", &tm);
    if (p == page) {
      h += platform::format("&nbsp;<FONT color=\"#006600\"><STRONG>%s</STRONG></FONT>", hour);
    } else {
      h += platform::format("&nbsp;<A href=\"%s\">%s</A>", html_escape(page_name(base, p)).c_str(),
                            hour);
    }
  }
  h += "</P>\n";
  h += "</body>\n</html>";
  return platform::to_cp1251(h);
}

bool write_pages(const std::vector<Column>& columns, const std::vector<Row>& rows,
                 const fs::path& folder, const std::string& base, ReportResult& result) {
  // A page per hour: a row whose hour differs from the hour of its page's first row starts
  // the next page.
  std::vector<std::size_t> starts;
  int page_hour = -1;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    int hour = local_time(rows[i].time).tm_hour;
    if (starts.empty() || hour != page_hour) {
      starts.push_back(i);
      page_hour = hour;
    }
  }
  for (std::size_t p = 0; p < starts.size(); ++p) {
    std::size_t last = p + 1 < starts.size() ? starts[p + 1] : rows.size();
    fs::path file = folder / page_name(base, p);
    std::string error;
    if (!platform::write_file_atomically(
            file, page_html(columns, rows, starts[p], last, starts, p, base), &error)) {
      result.error = error;
      return false;
    }
    result.pages.push_back(file);
  }
  return true;
}

// ---- the workbook -------------------------------------------------------------------------

// Whether a display text is a plain decimal number, and its digits after the point.
std::optional<std::pair<double, int>> as_number(std::string_view text) {
  if (text.empty() || text.size() > 24) return std::nullopt;
  std::size_t i = text[0] == '-' ? 1 : 0;
  std::size_t digits = 0, decimals = 0;
  bool point = false;
  for (std::size_t k = i; k < text.size(); ++k) {
    char c = text[k];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      (point ? decimals : digits)++;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0 || (point && decimals == 0)) return std::nullopt;
  // A text with leading zeros ("007") would lose them as a number.
  if (digits > 1 && text[i] == '0') return std::nullopt;
  double v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return std::make_pair(v, static_cast<int>(decimals));
}

class Workbook {
 public:
  explicit Workbook(const fs::path& path) : writer_(path) {
    if (!writer_.ok()) return;
    lxw_workbook_options options{};
    book_ = workbook_new_opt(writer_.temp_path().c_str(), &options);
    if (book_ == nullptr) return;
    sheet_ = workbook_add_worksheet(book_, nullptr);
    header_ = workbook_add_format(book_);
    format_set_align(header_, LXW_ALIGN_CENTER);
    format_set_bold(header_);
    format_set_bg_color(header_, 0x33CC99);
    time_ = workbook_add_format(book_);
    format_set_num_format(time_, "hh:mm:ss");
    error_ = workbook_add_format(book_);
    format_set_bg_color(error_, 0xFFBFBF);
  }
  ~Workbook() {
    // An unfinished workbook still has to be closed to free it; its file is discarded.
    if (book_) workbook_close(book_);
  }
  bool ok() const { return sheet_ != nullptr; }

  void header(const std::vector<Column>& columns) {
    worksheet_set_column(sheet_, 0, 0, 10, nullptr);
    worksheet_write_string(sheet_, 0, 0, std::string(kTimeColumnCaption).c_str(), header_);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      auto col = static_cast<lxw_col_t>(c + 1);
      worksheet_write_string(sheet_, 0, col, columns[c].parameter->shown_title().c_str(), header_);
      worksheet_set_column(sheet_, col, col, 16, nullptr);
    }
  }

  // Appends rows below those written before; false when the sheet is full.
  bool rows(const std::vector<Row>& rows, const std::vector<Column>& columns) {
    for (const Row& row : rows) {
      if (next_row_ > kMaxWorkbookRows) return false;
      auto r = static_cast<lxw_row_t>(next_row_++);
      std::tm tm = local_time(row.time);
      lxw_datetime when{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                        static_cast<double>(tm.tm_sec)};
      worksheet_write_datetime(sheet_, r, 0, &when, time_);
      for (std::size_t c = 0; c < row.cells.size() && c < columns.size(); ++c) {
        const Cell& cell = row.cells[c];
        if (!cell.set) continue;
        write_cell(r, static_cast<lxw_col_t>(c + 1), *columns[c].parameter, cell);
      }
    }
    return true;
  }

  bool close(std::string& error) {
    lxw_error rc = workbook_close(book_);
    book_ = nullptr;
    if (rc != LXW_NO_ERROR) {
      error = lxw_strerror(rc);
      return false;
    }
    if (!writer_.commit()) {
      error = writer_.error();
      return false;
    }
    return true;
  }

 private:
  void write_cell(lxw_row_t r, lxw_col_t c, const Parameter& p, const Cell& cell) {
    std::string_view text = cell.text;
    // The apostrophe of "r.Cn" and "rtC" is the spreadsheet's own mark of a text cell: the
    // workbook says so by the cell's type instead.
    bool forced_text = !text.empty() && text[0] == '\'' &&
                       platform::iequals_any(p.short_name, {"r.Cn", "rtC"});
    if (forced_text) text.remove_prefix(1);
    std::optional<std::pair<double, int>> number;
    if (!forced_text && !cell.error) number = as_number(text);
    if (number) {
      worksheet_write_number(sheet_, r, c, number->first, number_format(number->second));
    } else {
      worksheet_write_string(sheet_, r, c, std::string(text).c_str(), cell.error ? error_ : nullptr);
    }
  }
  lxw_format* number_format(int decimals) {
    auto it = number_formats_.find(decimals);
    if (it != number_formats_.end()) return it->second;
    lxw_format* f = workbook_add_format(book_);
    std::string pattern = decimals > 0 ? "0." + std::string(static_cast<std::size_t>(decimals), '0') : "0";
    format_set_num_format(f, pattern.c_str());
    return number_formats_[decimals] = f;
  }

  platform::AtomicFileWriter writer_;
  lxw_workbook* book_ = nullptr;
  lxw_worksheet* sheet_ = nullptr;
  lxw_format* header_ = nullptr;
  lxw_format* time_ = nullptr;
  lxw_format* error_ = nullptr;
  std::map<int, lxw_format*> number_formats_;
  std::size_t next_row_ = 1;
};

}  // namespace

std::optional<std::uint64_t> file_system_free_space(const fs::path& path) {
  struct statvfs st {};
  if (::statvfs(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.f_bfree) * st.f_frsize;
}

bool enough_space_for_export(const fs::path& program_directory, const FreeSpaceQuery& query) {
  std::optional<std::uint64_t> free = query(program_directory);
  return !free || *free >= kExportFreeSpaceNeeded;
}

std::vector<std::string> report_data_files(const fs::path& protocol_dir) {
  ProtocolFiles found = list_protocol_files(protocol_dir);
  std::vector<std::string> names;
  for (ProtocolFiles::Archive& archive : found.archives) {
    for (std::string& name : archive.streams) names.push_back(std::move(name));
  }
  for (const fs::path& day : found.day_files) names.push_back(day.filename().string());
  return names;
}

std::string report_cell_text(const Parameter& parameter, bool error, const std::uint8_t* data,
                             std::size_t length) {
  if (error) return length == 0 ? std::string(kTimeoutCellText) : network_error_text(data[0]);
  std::string text;
  parameter.ConvertFromData(data, length, parameter.indexed, text);
  if (platform::iequals(parameter.short_name, "r.Cn")) {
    if (std::optional<std::int32_t> v = platform::scan_int(text)) {
      std::string bits = "'";
      for (int b = 5; b >= 0; --b) bits += (*v >> b) & 1 ? '1' : '0';
      return bits;
    }
  } else if (platform::iequals(parameter.short_name, "rtC")) {
    return "'" + text;
  }
  return text;
}

std::vector<std::string> period_day_files(ReportDate from, ReportDate to) {
  std::vector<std::string> names;
  auto midday = [](ReportDate d) {
    std::tm tm{};
    tm.tm_year = d.year - 1900;
    tm.tm_mon = d.month - 1;
    tm.tm_mday = d.day;
    tm.tm_hour = 12;  // far from any change of daylight saving time
    tm.tm_isdst = -1;
    return std::mktime(&tm);
  };
  std::time_t t = midday(from);
  const std::time_t end = midday(to);
  if (t == -1 || end == -1) return names;
  for (int i = 0; t <= end + 3600 && i < 3660; ++i) {
    std::tm tm = local_time(t);
    names.push_back(day_file_name(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday));
    tm.tm_mday += 1;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    t = std::mktime(&tm);
  }
  return names;
}

ReportExport::ReportExport(const ParameterTable& table, fs::path program_directory)
    : table_(table), program_directory_(std::move(program_directory)) {}

ReportResult ReportExport::run(const ReportRequest& request, ReportProgress* progress,
                               const std::atomic<bool>* cancel) {
  ReportResult result;
  const fs::path protocol = program_directory_ / "protocol";
  const fs::path temp = program_directory_ / "temp";
  std::error_code ec;
  fs::create_directories(temp, ec);
  const bool browser = request.output == ReportOutput::Browser;

  std::vector<std::string> days;
  std::string base;
  if (!request.by_period) {
    days.push_back(request.file_name);
    base = fs::path(request.file_name).stem().string();
  } else if (browser) {
    // The pages show one day: the first of the period.
    days = period_day_files(request.from, request.from);
    base = date_title(request.from);
  } else {
    days = period_day_files(request.from, request.to);
    base = request.from == request.to ? date_title(request.from)
                                      : date_title(request.from) + "_" + date_title(request.to);
  }
  if (base.empty() || !safe_stream_name(base + ".html")) base = "report";

  if (browser) {
    // The pages of the last export go: the index of this one must not lead to them.
    for (fs::directory_iterator it(temp, ec), end; !ec && it != end; it.increment(ec)) {
      if (platform::iequals(it->path().extension().string(), ".html")) fs::remove(it->path(), ec);
    }
  }

  ReportTable table(table_, request.filter);
  std::optional<Workbook> book;
  fs::path workbook_path = request.workbook.empty() ? temp / (base + ".xlsx") : request.workbook;
  if (!browser) {
    book.emplace(workbook_path);
    if (!book->ok()) {
      result.outcome = ReportOutcome::WorkbookNotWritten;
      result.error = "cannot write " + workbook_path.string();
      return result;
    }
  }
  std::vector<Row> all_rows;
  bool sheet_full = false;
  for (std::size_t d = 0; d < days.size(); ++d) {
    const std::string& name = days[d];
    fs::path day_file;
    fs::path unpacked;
    if (safe_stream_name(name)) {
      ProtocolArchive archive;
      if (archive.open(archive_path_for(protocol, name), false) && archive.unpack(name, temp)) {
        unpacked = temp / name;
        day_file = unpacked;
      } else if (fs::is_regular_file(protocol / name, ec)) {
        day_file = protocol / name;
      }
    }
    if (!day_file.empty()) {
      DayFileReader reader;
      if (reader.open(day_file)) {
        DayRecord record;
        int shown = -1;
        while (reader.next(record)) {
          if (table.add(record)) ++result.records;
          if (progress && reader.size() > 0) {
            int percent = static_cast<int>(reader.position() * 100 / reader.size());
            if (percent != shown) progress->file_progress(shown = percent);
          }
          if (cancel && cancel->load(std::memory_order_relaxed)) {
            reader.close();
            if (!unpacked.empty()) fs::remove(unpacked, ec);
            result.outcome = ReportOutcome::Cancelled;
            return result;
          }
        }
      }
      if (!unpacked.empty()) fs::remove(unpacked, ec);
    }
    std::vector<Row> rows = table.take_rows();
    result.rows += rows.size();
    if (book && !sheet_full) {
      sheet_full = !book->rows(rows, table.columns());
    } else if (browser) {
      all_rows.insert(all_rows.end(), std::make_move_iterator(rows.begin()),
                      std::make_move_iterator(rows.end()));
    }
    if (progress) progress->days_progress(static_cast<int>((d + 1) * 100 / days.size()));
  }
  if (result.records == 0) {
    result.outcome = ReportOutcome::NothingToExport;
    return result;
  }
  if (browser) {
    if (!write_pages(table.columns(), all_rows, temp, base, result)) {
      result.outcome = ReportOutcome::PageNotWritten;
      return result;
    }
    result.output = result.pages.front();
  } else {
    book->header(table.columns());
    if (!book->close(result.error)) {
      result.outcome = ReportOutcome::WorkbookNotWritten;
      return result;
    }
    if (sheet_full) result.error = "the workbook holds the first 1048575 rows only";
    result.output = workbook_path;
  }
  result.outcome = ReportOutcome::Done;
  return result;
}

}  // namespace kba604
