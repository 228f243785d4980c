// The report export without a window, for a nightly job on a service PC:
//   kba604 --export-report DD-MM-YYYY.log|DD-MM-YYYY..DD-MM-YYYY
//          [--filter all|read|set.p|r.out] [--html | --xlsx FILE]
// writes the pages into the program directory's "temp" folder (or the workbook to FILE), opens
// nothing and prints the path of the first page or of the workbook on standard output.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "measurement/report_export.h"

namespace kba604 {

// The request a command line asks for; nothing (and the complaint in *error) when it cannot
// be used. value: the day file or the period; rest: the options after it.
std::optional<ReportRequest> parse_export_report(const std::string& value,
                                                 const std::vector<std::string>& rest,
                                                 std::string* error);

// Runs the export over table with the program directory's files; returns the exit code.
int export_report(const ReportRequest& request, const ParameterTable& table,
                  const std::filesystem::path& program_directory, std::ostream& out,
                  std::ostream& err);

// The tool mode: loads the parameter table from the data folder of the program's settings and
// runs the export. Returns the exit code.
int run_export_report_tool(const std::string& value, const std::vector<std::string>& rest,
                           std::ostream& out, std::ostream& err);

}  // namespace kba604
