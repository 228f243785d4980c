// The report export from hand-made day files: the pages exactly as the report lays them out,
// a page per hour, the filter, records of unknown parameters, archives as the source, the
// free-space check and cancelling.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "files/protocol_archive.h"
#include "measurement/day_file_reader.h"
#include "measurement/report_export.h"
#include "platform/text.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

// 2026-12-07 10:00:00 UTC; the tests run with TZ=UTC0 so that local time is UTC.
constexpr std::int64_t kTen = 1796637600;

std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Progress : ReportProgress {
  void file_progress(int p) override { file.push_back(p); }
  void days_progress(int p) override { days.push_back(p); }
  std::vector<int> file, days;
};

class ReportExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    saved_tz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
    setenv("TZ", "UTC0", 1);
    tzset();
    fs::create_directories(protocol());
    table_.reset(6, "parameters.zip");
    set(0, "rEAd", "Измерение", "float", 0);
    set(1, "Set.P", "Уставка", "float", 0);
    set(2, "r.Cn", "Конфигурация", "DEC_dot", 0);
    set(3, "r.Mod", "Режим <b>", "<b>:Пуск", 0);
    set(4, "rtC", "", "DEC_dot", 0);
    set(5, "Set.P", "Уставка 2", "float", 1);
  }
  void TearDown() override {
    if (saved_tz_) {
      setenv("TZ", saved_tz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  void set(std::size_t i, const char* name, const char* title, const char* format, int offset) {
    table_[i].short_name = name;
    table_[i].title = title;
    table_[i].format = format;
    table_[i].address_offset = offset;
  }
  fs::path protocol() const { return home_.data_dir() / "protocol"; }
  fs::path temp() const { return home_.data_dir() / "temp"; }
  void add(std::int64_t t, const char* name, int offset, bool error,
           std::vector<std::uint8_t> data) {
    encode_day_record(make_day_record(t, name, static_cast<std::uint8_t>(offset), error, data),
                      bytes_);
  }
  void write_day(const char* name) {
    std::ofstream out(protocol() / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
    bytes_.clear();
  }
  ReportResult run(ReportRequest request, const std::atomic<bool>* cancel = nullptr) {
    ReportExport report(table_, home_.data_dir());
    return report.run(request, &progress_, cancel);
  }
  static ReportRequest day(const char* file, ReportFilter filter = ReportFilter::All) {
    ReportRequest r;
    r.by_period = false;
    r.file_name = file;
    r.filter = filter;
    return r;
  }
  // The page as text, from Windows-1251.
  std::string page(const char* name) { return platform::from_cp1251(read_file(temp() / name)); }

  test::TestHome home_;
  ParameterTable table_;
  std::vector<std::uint8_t> bytes_;
  Progress progress_;
  std::optional<std::string> saved_tz_;
};

// 12.5 and 100.0 as the instrument sends a measured value: IEEE single, most significant first.
const std::vector<std::uint8_t> k12_5 = {0x41, 0x48, 0x00, 0x00};
const std::vector<std::uint8_t> k100 = {0x42, 0xC8, 0x00, 0x00};

TEST_F(ReportExportTest, OneHourGivesOnePageLaidOutExactlyWithEscapedTexts) {
  add(kTen, "rEAd", 0, false, k12_5);
  add(kTen, "Set.P", 0, false, k100);
  add(kTen, "r.Cn", 0, false, {0x05});
  add(kTen, "r.Mod", 0, false, {0x00});
  add(kTen, "rEAd", 7, false, k12_5);   // no "rEAd" at offset 7 in the table: left out
  add(kTen, "XYZ", 0, false, {0x01});   // no such parameter: left out
  add(kTen + 1, "READ", 0, true, {});   // names match without regard to case
  add(kTen + 1, "Set.P", 0, true, {0x28});
  add(kTen + 1, "rtC", 0, false, {0x2A});
  write_day("07-12-2026.log");

  ReportResult r = run(day("07-12-2026.log"));
  ASSERT_EQ(r.outcome, ReportOutcome::Done) << r.error;
  EXPECT_EQ(r.output, temp() / "07-12-2026.html");
  EXPECT_EQ(r.pages.size(), 1u);
  EXPECT_EQ(r.records, 7u);
  const std::string expected =
      "<html><head>\n<title>Протокол измерений</title>\n<meta http-equiv=Content-Type "
      "content=\"text/html; charset=windows-1251\">\n</head><body>\n"
      "<TABLE cellSpacing=\"0\" cellPadding=\"1\" width=\"100%\" border=\"1\">\n"
      "<TR>\n"
      "<TD bgColor=\"#33cc99\" 1 align=\"center\"><STRONG>Время</STRONG></TD>"
      "<TD bgColor=\"#33cc99\" 1 align=\"center\"><STRONG>Измерение</STRONG></TD>"
      "<TD bgColor=\"#33cc99\" 1 align=\"center\"><STRONG>Уставка</STRONG></TD>"
      "<TD bgColor=\"#33cc99\" 1 align=\"center\"><STRONG>Конфигурация</STRONG></TD>"
      "<TD bgColor=\"#33cc99\" 1 align=\"center\"><STRONG>Режим &lt;b&gt;</STRONG></TD>"
      "<TD bgColor=\"#33cc99\" 1 align=\"center\"><STRONG>&nbsp;</STRONG></TD>"
      "</TR>\n"
      "<TR>\n"
      "<TD bgColor=\"#ccffff\">10:00:00</TD><TD bgColor=\"#ccffff\">12.500</TD>"
      "<TD bgColor=\"#ccffff\">100.000</TD><TD bgColor=\"#ccffff\">'000101</TD>"
      "<TD bgColor=\"#ccffff\">&lt;b&gt;</TD><TD bgColor=\"#ccffff\">&nbsp;</TD>"
      "</TR>\n"
      "<TR>\n"
      "<TD bgColor=\"#ffffcc\">10:00:01</TD>"
      "<TD bgColor=\"#ffbfbf\">Таймаут при передаче данных</TD>"
      "<TD bgColor=\"#ffbfbf\">Не найден дескриптор</TD><TD bgColor=\"#ffffcc\">&nbsp;</TD>"
      "<TD bgColor=\"#ffffcc\">&nbsp;</TD><TD bgColor=\"#ffffcc\">'42</TD>"
      "</TR>\n"
      "</TABLE>\n"
      "<P>Часы:&nbsp;<FONT color=\"#006600\"><STRONG>10</STRONG></FONT></P>\n"
      "</body>\n</html>";
  EXPECT_EQ(page("07-12-2026.html"), expected);
  // The page is Windows-1251: "Время" is five bytes there.
  EXPECT_NE(read_file(temp() / "07-12-2026.html").find("\xC2\xF0\xE5\xEC\xFF"), std::string::npos);
  EXPECT_EQ(progress_.days, std::vector<int>{100});
  EXPECT_EQ(progress_.file.back(), 100);
}

TEST_F(ReportExportTest, EveryHourGetsItsPageAndAnIndexLinkingTheOthers) {
  add(kTen, "rEAd", 0, false, k12_5);
  add(kTen + 3599, "rEAd", 0, false, k100);
  add(kTen + 3600, "rEAd", 0, false, k12_5);
  add(kTen + 5 * 3600, "rEAd", 0, false, k12_5);
  write_day("07-12-2026.log");
  // An old page of an earlier export must not survive next to the new ones.
  fs::create_directories(temp());
  std::ofstream(temp() / "01-01-2020.html") << "old";

  ReportResult r = run(day("07-12-2026.log"));
  ASSERT_EQ(r.outcome, ReportOutcome::Done);
  ASSERT_EQ(r.pages.size(), 3u);
  EXPECT_EQ(r.pages[2], temp() / "07-12-2026(2).html");
  EXPECT_FALSE(fs::exists(temp() / "01-01-2020.html"));
  std::string second = page("07-12-2026(1).html");
  EXPECT_NE(second.find("<P>Часы:&nbsp;<A href=\"07-12-2026.html\">10</A>&nbsp;<FONT "
                        "color=\"#006600\"><STRONG>11</STRONG></FONT>&nbsp;<A "
                        "href=\"07-12-2026(2).html\">15</A></P>\n"),
            std::string::npos)
      << second;
  std::string first = page("07-12-2026.html");
  EXPECT_NE(first.find("10:59:59"), std::string::npos);
  EXPECT_EQ(first.find("11:00:00"), std::string::npos);
  // Rows alternate their colour within a page.
  EXPECT_NE(first.find("<TD bgColor=\"#ffffcc\">10:59:59</TD>"), std::string::npos);
}

TEST_F(ReportExportTest, SetPointFilterKeepsOnlyTheSetPointColumns) {
  add(kTen, "rEAd", 0, false, k12_5);
  add(kTen, "Set.P", 0, false, k100);
  add(kTen, "SET.P", 1, false, k12_5);
  add(kTen + 1, "r.Cn", 0, false, {0x05});
  write_day("07-12-2026.log");
  ReportResult r = run(day("07-12-2026.log", ReportFilter::SetPoint));
  ASSERT_EQ(r.outcome, ReportOutcome::Done);
  EXPECT_EQ(r.records, 2u);
  EXPECT_EQ(r.rows, 1u);
  std::string p = page("07-12-2026.html");
  EXPECT_NE(p.find("<STRONG>Уставка</STRONG></TD><TD bgColor=\"#33cc99\" 1 "
                   "align=\"center\"><STRONG>Уставка 2</STRONG></TD></TR>"),
            std::string::npos);
  EXPECT_EQ(p.find("Измерение"), std::string::npos);
  EXPECT_EQ(run(day("07-12-2026.log", ReportFilter::Output)).outcome,
            ReportOutcome::NothingToExport);
}

TEST_F(ReportExportTest, PackedDaysAreReadFromTheirArchiveAndTheCopyRemoved) {
  add(kTen, "rEAd", 0, false, k12_5);
  write_day("06-12-2026.log");
  ProtocolArchive archive;
  ASSERT_TRUE(archive.open(protocol() / "12-2026.var", true));
  ASSERT_TRUE(archive.pack("06-12-2026.log", protocol() / "06-12-2026.log"));
  archive.close();
  fs::remove(protocol() / "06-12-2026.log");
  add(kTen + 86400, "Set.P", 0, false, k100);
  write_day("07-12-2026.log");  // today's, not packed

  ReportResult r = run(day("06-12-2026.log"));
  ASSERT_EQ(r.outcome, ReportOutcome::Done);
  EXPECT_NE(page("06-12-2026.html").find("12.500"), std::string::npos);
  EXPECT_FALSE(fs::exists(temp() / "06-12-2026.log"));

  // The file list: streams of the archives first, then the day files.
  EXPECT_EQ(report_data_files(protocol()),
            (std::vector<std::string>{"06-12-2026.log", "07-12-2026.log"}));

  // A workbook of the period: both days, the missing third one skipped.
  ReportRequest period;
  period.from = {2026, 12, 6};
  period.to = {2026, 12, 8};
  period.output = ReportOutput::Spreadsheet;
  r = run(period);
  ASSERT_EQ(r.outcome, ReportOutcome::Done) << r.error;
  EXPECT_EQ(r.output, temp() / "06-12-2026_08-12-2026.xlsx");
  EXPECT_EQ(r.rows, 2u);
  EXPECT_EQ(read_file(r.output).substr(0, 2), "PK");
  EXPECT_EQ(progress_.days.back(), 100);
  EXPECT_EQ(progress_.days[progress_.days.size() - 3], 33);
  // In the browser output a period shows its first day.
  period.output = ReportOutput::Browser;
  r = run(period);
  ASSERT_EQ(r.outcome, ReportOutcome::Done);
  EXPECT_EQ(r.output, temp() / "06-12-2026.html");
  EXPECT_EQ(r.rows, 1u);
}

TEST_F(ReportExportTest, CancelEndsTheExportWithoutPagesOrUnpackedCopies) {
  for (int i = 0; i < 1000; ++i) add(kTen + i, "rEAd", 0, false, k12_5);
  write_day("05-12-2026.log");
  ProtocolArchive archive;
  ASSERT_TRUE(archive.open(protocol() / "12-2026.var", true));
  ASSERT_TRUE(archive.pack("05-12-2026.log", protocol() / "05-12-2026.log"));
  fs::remove(protocol() / "05-12-2026.log");
  std::atomic<bool> cancel{true};
  ReportResult r = run(day("05-12-2026.log"), &cancel);
  EXPECT_EQ(r.outcome, ReportOutcome::Cancelled);
  EXPECT_TRUE(fs::is_empty(temp()));
  EXPECT_EQ(run(day("04-12-2026.log")).outcome, ReportOutcome::NothingToExport);
  EXPECT_EQ(run(day("../../etc/passwd")).outcome, ReportOutcome::NothingToExport);
}

TEST_F(ReportExportTest, FreeSpaceOfExactly400000000BytesIsEnough) {
  auto space = [](std::uint64_t bytes) {
    return [bytes](const fs::path&) { return std::optional<std::uint64_t>(bytes); };
  };
  EXPECT_TRUE(enough_space_for_export(home_.data_dir(), space(400000000)));
  EXPECT_FALSE(enough_space_for_export(home_.data_dir(), space(399999999)));
  EXPECT_TRUE(enough_space_for_export(home_.data_dir(), [](const fs::path&) {
    return std::optional<std::uint64_t>();
  }));
  EXPECT_TRUE(file_system_free_space(home_.root()).has_value());
}

TEST_F(ReportExportTest, PeriodsRunOverMonthAndYearEnds) {
  EXPECT_EQ(period_day_files({2025, 12, 30}, {2026, 1, 2}),
            (std::vector<std::string>{"30-12-2025.log", "31-12-2025.log", "01-01-2026.log",
                                      "02-01-2026.log"}));
  EXPECT_EQ(period_day_files({2028, 2, 28}, {2028, 3, 1}).size(), 3u);
  EXPECT_TRUE(period_day_files({2026, 1, 2}, {2026, 1, 1}).empty());
}

}  // namespace
}  // namespace kba604
