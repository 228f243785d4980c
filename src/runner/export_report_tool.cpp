#include "runner/export_report_tool.h"

#include <cstdio>
#include <tuple>

#include "app/exit_flags.h"
#include "app/program_settings.h"
#include "description/description_loader.h"
#include "platform/ini_settings_store.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// "DD-MM-YYYY" as a date that exists.
std::optional<ReportDate> parse_date(std::string_view text) {
  int d = 0, m = 0, y = 0;
  char tail = 0;
  if (text.size() != 10 ||
      std::sscanf(std::string(text).c_str(), "%2d-%2d-%4d%c", &d, &m, &y, &tail) != 3)
    return std::nullopt;
  static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1970 || m < 1 || m > 12 || d < 1 || d > days[m - 1]) return std::nullopt;
  if (m == 2 && d == 29 && !(y % 4 == 0 && (y % 100 != 0 || y % 400 == 0))) return std::nullopt;
  return ReportDate{y, m, d};
}

}  // namespace

std::optional<ReportRequest> parse_export_report(const std::string& value,
                                                 const std::vector<std::string>& rest,
                                                 std::string* error) {
  auto fail = [&](std::string text) -> std::optional<ReportRequest> {
    if (error) *error = std::move(text);
    return std::nullopt;
  };
  ReportRequest r;
  const std::string_view v = value;
  if (auto dots = v.find(".."); dots != std::string_view::npos) {
    auto from = parse_date(v.substr(0, dots));
    auto to = parse_date(v.substr(dots + 2));
    if (!from || !to) return fail("период не в форме ДД-ММ-ГГГГ..ДД-ММ-ГГГГ: " + value);
    if (std::tie(to->year, to->month, to->day) < std::tie(from->year, from->month, from->day))
      return fail("конец периода раньше его начала: " + value);
    r.by_period = true;
    r.from = *from;
    r.to = *to;
  } else if (platform::iequals(std::filesystem::path(value).extension().string(), ".log") &&
             parse_date(std::filesystem::path(value).stem().string()) &&
             value.find('/') == std::string::npos) {
    r.by_period = false;
    r.file_name = value;
  } else {
    return fail("ожидается файл ДД-ММ-ГГГГ.log или период ДД-ММ-ГГГГ..ДД-ММ-ГГГГ: " + value);
  }
  bool output_given = false;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const std::string& a = rest[i];
    auto next = [&]() -> const std::string* {
      if (i + 1 >= rest.size() || rest[i + 1].empty()) return nullptr;
      return &rest[++i];
    };
    if (a == "--filter") {
      const std::string* f = next();
      if (f == nullptr) return fail("--filter требует значения all, read, set.p или r.out");
      if (platform::iequals(*f, "all")) {
        r.filter = ReportFilter::All;
      } else if (platform::iequals(*f, "read")) {
        r.filter = ReportFilter::Read;
      } else if (platform::iequals(*f, "set.p")) {
        r.filter = ReportFilter::SetPoint;
      } else if (platform::iequals(*f, "r.out")) {
        r.filter = ReportFilter::Output;
      } else {
        return fail("неизвестный фильтр: " + *f + " (all, read, set.p, r.out)");
      }
    } else if (a == "--html" || a == "--xlsx") {
      if (output_given) return fail("--html и --xlsx исключают друг друга");
      output_given = true;
      if (a == "--html") {
        r.output = ReportOutput::Browser;
      } else {
        const std::string* file = next();
        if (file == nullptr) return fail("--xlsx требует имени файла");
        r.output = ReportOutput::Spreadsheet;
        r.workbook = std::filesystem::absolute(*file);
      }
    } else {
      return fail("лишний параметр: " + a);
    }
  }
  return r;
}

int export_report(const ReportRequest& request, const ParameterTable& table,
                  const std::filesystem::path& program_directory, std::ostream& out,
                  std::ostream& err) {
  if (!enough_space_for_export(program_directory)) {
    err << "kba604: " << kNoSpaceText << "\n";
    return exit_code::kReportNotWritten;
  }
  ReportExport report(table, program_directory);
  ReportResult result = report.run(request, nullptr, nullptr);
  switch (result.outcome) {
    case ReportOutcome::Done:
      if (!result.error.empty()) err << "kba604: " << result.error << "\n";
      out << result.output.string() << "\n";
      return 0;
    case ReportOutcome::NothingToExport:
      err << "kba604: нет записей протокола для отчета ("
          << (request.by_period ? "период" : "файл " + request.file_name) << ")\n";
      return exit_code::kNothingToExport;
    case ReportOutcome::Cancelled:
    case ReportOutcome::PageNotWritten:
    case ReportOutcome::WorkbookNotWritten:
      break;
  }
  err << "kba604: " << kReportErrorCaption << ": " << result.error << "\n";
  return exit_code::kReportNotWritten;
}

int run_export_report_tool(const std::string& value, const std::vector<std::string>& rest,
                           std::ostream& out, std::ostream& err) {
  std::string error;
  std::optional<ReportRequest> request = parse_export_report(value, rest, &error);
  if (!request) {
    err << "kba604: " << error << "\n";
    return exit_code::kUsage;
  }
  std::unique_ptr<platform::SettingsStore> store = platform::open_program_settings();
  ProgramSettings settings(*store);
  ParameterTable table;
  std::filesystem::path file = std::filesystem::path(settings.data_directory()) / "parameters.zip";
  TableLoadResult loaded = load_parameter_table(table, file, nullptr);
  if (loaded.outcome != FileLoad::Loaded || table.empty()) {
    err << "kba604: не удалось загрузить таблицу параметров " << file.string()
        << (loaded.fault.empty() ? "" : ": " + loaded.fault) << "\n";
    return exit_code::kReportNotWritten;
  }
  return export_report(*request, table, platform::program_directory(), out, err);
}

}  // namespace kba604
