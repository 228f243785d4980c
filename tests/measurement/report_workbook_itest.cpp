// The workbook of the report read by another reader (openpyxl, through a small script): the
// same cell texts as the HTML pages, the apostrophe of "r.Cn" and "rtC" aside, with numbers
// stored as numbers, times as times and texts as texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "measurement/day_file_reader.h"
#include "measurement/report_export.h"
#include "platform/text.h"
#include "support/child_process.h"
#include "support/test_home.h"
#include "support/build_paths.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> split(const std::string& text, char at) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, at)) parts.push_back(part);
  return parts;
}

// The cell texts of an HTML page, row by row, with the markup and escapes undone.
std::vector<std::vector<std::string>> html_cells(const std::string& page) {
  std::vector<std::vector<std::string>> rows;
  std::size_t at = 0;
  while ((at = page.find("<TR>", at)) != std::string::npos) {
    std::size_t end = page.find("</TR>", at);
    std::vector<std::string> row;
    std::size_t cell = at;
    while ((cell = page.find("<TD", cell)) != std::string::npos && cell < end) {
      std::size_t open = page.find('>', cell) + 1;
      std::size_t close = page.find("</TD>", open);
      std::string text = page.substr(open, close - open);
      for (const char* tag : {"<STRONG>", "</STRONG>"}) {
        for (std::size_t p; (p = text.find(tag)) != std::string::npos;)
          text.erase(p, std::strlen(tag));
      }
      if (text == "&nbsp;") text.clear();
      for (auto [from, to] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}}) {
        for (std::size_t p; (p = text.find(from)) != std::string::npos;)
          text.replace(p, std::strlen(from), to);
      }
      row.push_back(text);
      cell = close;
    }
    rows.push_back(row);
    at = end;
  }
  return rows;
}

TEST(ReportWorkbook, AnotherReaderSeesTheCellsOfThePages) {
  const char* python = "/usr/bin/python3";
  if (!fs::exists(python) || test::run_child({python, "-c", "import openpyxl"}).exit_code != 0)
    GTEST_SKIP() << "python3-openpyxl is not installed";
  setenv("TZ", "UTC0", 1);
  tzset();
  test::TestHome home;
  fs::create_directories(home.data_dir() / "protocol");
  ParameterTable table(5, "parameters.zip");
  const char* names[] = {"rEAd", "Set.P", "r.Cn", "rtC", "r.Mod"};
  const char* formats[] = {"float", "float", "DEC_dot", "DEC_dot", "<b>:A&B"};
  for (int i = 0; i < 5; ++i) {
    table[i].short_name = names[i];
    table[i].title = std::string("Столбец \"") + names[i] + "\"";
    table[i].format = formats[i];
  }
  std::vector<std::uint8_t> bytes;
  const std::int64_t t = 1796637600;
  auto add = [&](std::int64_t at, const char* name, bool error, std::vector<std::uint8_t> data) {
    encode_day_record(make_day_record(at, name, 0, error, data), bytes);
  };
  add(t, "rEAd", false, {0x41, 0x48, 0x00, 0x00});
  add(t, "Set.P", false, {0xC2, 0xC8, 0x00, 0x00});
  add(t, "r.Cn", false, {0x05});
  add(t, "rtC", false, {0x00});
  add(t, "r.Mod", false, {0x00});
  add(t + 1, "rEAd", true, {});
  add(t + 1, "Set.P", true, {0x28});
  add(t + 1, "r.Mod", false, {0x01});
  add(t + 3600, "rEAd", false, {0x7F, 0, 0, 0});
  {
    std::ofstream out(home.data_dir() / "protocol" / "07-12-2026.log", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  ReportExport report(table, home.data_dir());
  ReportRequest request;
  request.by_period = false;
  request.file_name = "07-12-2026.log";
  ReportResult pages = report.run(request, nullptr, nullptr);
  ASSERT_EQ(pages.outcome, ReportOutcome::Done);
  std::vector<std::vector<std::string>> html;
  for (const fs::path& page : pages.pages) {
    std::ifstream in(page, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    auto rows = html_cells(platform::from_cp1251(s.str()));
    html.insert(html.end(), rows.begin() + (html.empty() ? 0 : 1), rows.end());
  }
  request.output = ReportOutput::Spreadsheet;
  request.workbook = home.root() / "report.xlsx";
  ReportResult book = report.run(request, nullptr, nullptr);
  ASSERT_EQ(book.outcome, ReportOutcome::Done) << book.error;
  ASSERT_EQ(book.output, home.root() / "report.xlsx");

  test::ChildResult read = test::run_child(
      {python, std::string(KBA604_SOURCE_DIR) + "/tests/measurement/xlsx_cells.py",
       book.output.string()});
  ASSERT_EQ(read.exit_code, 0) << read.err;
  std::vector<std::string> lines = split(read.out, '\n');
  ASSERT_EQ(lines.size(), html.size());
  for (std::size_t r = 0; r < lines.size(); ++r) {
    std::vector<std::string> cells = split(lines[r], '\t');
    cells.resize(html[r].size());
    for (std::size_t c = 0; c < html[r].size(); ++c) {
      SCOPED_TRACE(testing::Message() << "row " << r << " column " << c);
      std::string expected = html[r][c];
      const std::string& got = cells[c];
      if (r == 0) {
        EXPECT_EQ(got, "S" + expected);
        continue;
      }
      if (c == 0) {
        EXPECT_EQ(got, "T" + expected);
        continue;
      }
      if (expected.empty()) {
        EXPECT_EQ(got, "");
      } else if (c == 3 || c == 4) {  // "r.Cn", "rtC": text cells without the apostrophe
        ASSERT_EQ(expected[0], '\'');
        EXPECT_EQ(got, "S" + expected.substr(1));
      } else {
        char* end = nullptr;
        std::strtod(expected.c_str(), &end);
        EXPECT_EQ(got, std::string(*end == '\0' ? "N" : "S") + expected);
      }
    }
  }
  // The worked values: a number, an error text, a text that looks like markup.
  EXPECT_EQ(split(lines[1], '\t')[1], "N12.500");
  EXPECT_EQ(split(lines[1], '\t')[2], "N-100.000");
  EXPECT_EQ(split(lines[1], '\t')[3], "S000101");
  EXPECT_EQ(split(lines[1], '\t')[5], "S<b>");
  EXPECT_EQ(split(lines[2], '\t')[2], "SНе найден дескриптор");
}

}  // namespace
}  // namespace kba604
