// The report export of the measurement protocol: the records of one day file, or of the days
// of a period, turned into a table with a row per time stamp and a column per parameter, written
// either as HTML pages (one page per hour, Windows-1251, with an index of the hours) into the
// working folder "temp", or as an .xlsx workbook for the desktop's spreadsheet application.
//
// The export is UI-free: it runs on the worker that the export dialog or the headless tool
// starts, reports its progress through ReportProgress and stops when its cancel flag is set.
// The parameter table is only read; the caller keeps it alive and unchanged while it runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/parameter_table.h"

namespace kba604 {

inline constexpr std::uint64_t kExportFreeSpaceNeeded = 400000000;
inline constexpr std::string_view kNoSpaceText =
    "Недостаточно свободного места на диске!\nВозможное решение: удалить ненужные архивы "
    "данных с помощью кнопки \"Очистить\"!";
inline constexpr std::string_view kNoSpaceCaption = "Внимание";
inline constexpr std::string_view kReportOpenText = "Возможно, что отчет уже открыт!";
inline constexpr std::string_view kReportErrorCaption = "Ошибка экспортирования отчета";
inline constexpr std::string_view kTimeoutCellText = "Таймаут при передаче данных";
inline constexpr std::string_view kReportTitle = "Протокол измерений";
inline constexpr std::string_view kTimeColumnCaption = "Время";

enum class ReportFilter {
  All,       // "Все оперативные параметры протокола"
  Read,      // "Только измерители (rEAd)"
  SetPoint,  // "Только уставки (Set.P)"
  Output,    // "Только значение выходного сигнала (r.OUt)"
};
enum class ReportOutput { Browser, Spreadsheet };

struct ReportDate {
  int year = 1970;
  int month = 1;
  int day = 1;
  friend bool operator==(const ReportDate&, const ReportDate&) = default;
};

struct ReportRequest {
  // A period of days (from, to: both included) or one data file chosen from the list.
  bool by_period = true;
  ReportDate from;
  ReportDate to;
  std::string file_name;
  ReportFilter filter = ReportFilter::All;
  ReportOutput output = ReportOutput::Browser;
  // The spreadsheet output's workbook; empty: "<data name>.xlsx" in the working folder.
  std::filesystem::path workbook;
};

// How far the export is: the current file and the share of days done, each 0 to 100. Called
// on the export's thread.
class ReportProgress {
 public:
  virtual ~ReportProgress() = default;
  virtual void file_progress(int percent) = 0;
  virtual void days_progress(int percent) = 0;
};

enum class ReportOutcome {
  Done,
  Cancelled,
  NothingToExport,     // no day file of the choice held a record that passes the filter
  PageNotWritten,      // "Возможно, что отчет уже открыт!"
  WorkbookNotWritten,  // the .xlsx could not be written
};

struct ReportResult {
  ReportOutcome outcome = ReportOutcome::NothingToExport;
  // The first HTML page, or the workbook.
  std::filesystem::path output;
  std::vector<std::filesystem::path> pages;
  std::size_t rows = 0;
  std::size_t records = 0;
  std::string error;
};

// Free bytes of the file system that holds path, all of them (not a user's share); nothing
// when it cannot be learnt.
using FreeSpaceQuery = std::function<std::optional<std::uint64_t>(const std::filesystem::path&)>;
std::optional<std::uint64_t> file_system_free_space(const std::filesystem::path& path);
// Whether an export may start: at least 400000000 free bytes where the program keeps its files.
// A file system whose free space cannot be learnt does not stop the export.
bool enough_space_for_export(const std::filesystem::path& program_directory,
                             const FreeSpaceQuery& query = file_system_free_space);

// The data files offered for export: the streams of every "*.var" archive of the folder, in
// each archive's order, then every "*.log" day file.
std::vector<std::string> report_data_files(const std::filesystem::path& protocol_dir);

// The text of one record's cell, by the rules of the report (a time-out, the instrument's
// refusal, the decoded value; "r.Cn" as six binary digits and "rtC" with a leading apostrophe).
std::string report_cell_text(const Parameter& parameter, bool error, const std::uint8_t* data,
                             std::size_t length);

class ReportExport {
 public:
  ReportExport(const ParameterTable& table, std::filesystem::path program_directory);

  // Produces the report. progress may be none; cancel, when given, is tested after each record.
  ReportResult run(const ReportRequest& request, ReportProgress* progress,
                   const std::atomic<bool>* cancel);

 private:
  const ParameterTable& table_;
  std::filesystem::path program_directory_;
};

// The days of a period, both ends included, as day-file names in date order. Empty when to is
// before from; at most 3660 days.
std::vector<std::string> period_day_files(ReportDate from, ReportDate to);

}  // namespace kba604
