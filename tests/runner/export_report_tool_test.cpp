// The headless report export: its command line, and a run that prints where the report went or
// ends with a code of its own when there is nothing to export.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/exit_flags.h"
#include "measurement/day_file_reader.h"
#include "runner/export_report_tool.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

TEST(ExportReportTool, CommandLinesThatCanBeUsedAndThoseThatCannot) {
  std::string error;
  auto day = parse_export_report("07-12-2026.log", {}, &error);
  ASSERT_TRUE(day);
  EXPECT_FALSE(day->by_period);
  EXPECT_EQ(day->file_name, "07-12-2026.log");
  EXPECT_EQ(day->output, ReportOutput::Browser);
  EXPECT_EQ(day->filter, ReportFilter::All);

  auto period = parse_export_report("30-12-2025..02-01-2026", {"--filter", "SET.P", "--xlsx", "r.xlsx"},
                                    &error);
  ASSERT_TRUE(period) << error;
  EXPECT_TRUE(period->by_period);
  EXPECT_EQ(period->from, (ReportDate{2025, 12, 30}));
  EXPECT_EQ(period->to, (ReportDate{2026, 1, 2}));
  EXPECT_EQ(period->filter, ReportFilter::SetPoint);
  EXPECT_EQ(period->output, ReportOutput::Spreadsheet);
  EXPECT_EQ(period->workbook, fs::absolute("r.xlsx"));
  EXPECT_EQ(parse_export_report("07-12-2026.log", {"--filter", "r.out", "--html"}, &error)->filter,
            ReportFilter::Output);

  const std::vector<std::pair<std::string, std::vector<std::string>>> bad = {
      {"07-12-2026", {}},
      {"31-02-2026.log", {}},
      {"29-02-2025.log", {}},
      {"../07-12-2026.log", {}},
      {"02-01-2026..30-12-2025", {}},
      {"07-12-2026.log", {"--filter"}},
      {"07-12-2026.log", {"--filter", "temp"}},
      {"07-12-2026.log", {"--xlsx"}},
      {"07-12-2026.log", {"--html", "--xlsx", "a.xlsx"}},
      {"07-12-2026.log", {"--pdf"}},
  };
  for (const auto& [value, rest] : bad) {
    error.clear();
    EXPECT_FALSE(parse_export_report(value, rest, &error)) << value;
    EXPECT_FALSE(error.empty()) << value;
  }
  EXPECT_TRUE(parse_export_report("29-02-2028.log", {}, &error));
}

TEST(ExportReportTool, PrintsWhereTheReportIsOrSaysThereIsNothing) {
  test::TestHome home;
  fs::create_directories(home.data_dir() / "protocol");
  ParameterTable table(1, "parameters.zip");
  table[0].short_name = "Set.P";
  table[0].title = "Уставка";
  table[0].format = "float";
  std::vector<std::uint8_t> bytes;
  encode_day_record(make_day_record(1796637600, "Set.P", 0, false, {0x41, 0x48, 0, 0}), bytes);
  std::ofstream(home.data_dir() / "protocol" / "07-12-2026.log", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

  std::ostringstream out, err;
  ReportRequest request = *parse_export_report("07-12-2026.log", {}, nullptr);
  EXPECT_EQ(export_report(request, table, home.data_dir(), out, err), 0) << err.str();
  EXPECT_EQ(out.str(), (home.data_dir() / "temp" / "07-12-2026.html").string() + "\n");
  EXPECT_TRUE(fs::exists(home.data_dir() / "temp" / "07-12-2026.html"));

  out.str("");
  request = *parse_export_report("07-12-2026.log", {"--xlsx", (home.root() / "day.xlsx").string()},
                                 nullptr);
  EXPECT_EQ(export_report(request, table, home.data_dir(), out, err), 0) << err.str();
  EXPECT_EQ(out.str(), (home.root() / "day.xlsx").string() + "\n");
  EXPECT_TRUE(fs::exists(home.root() / "day.xlsx"));

  out.str("");
  request = *parse_export_report("07-12-2026.log", {"--filter", "read"}, nullptr);
  EXPECT_EQ(export_report(request, table, home.data_dir(), out, err), exit_code::kNothingToExport);
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find("07-12-2026.log"), std::string::npos);
  request = *parse_export_report("01-01-2026..03-01-2026", {"--xlsx", "x.xlsx"}, nullptr);
  EXPECT_EQ(export_report(request, table, home.data_dir(), out, err), exit_code::kNothingToExport);
}

}  // namespace
}  // namespace kba604
