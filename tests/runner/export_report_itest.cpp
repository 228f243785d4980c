// "kba604 --export-report" as a nightly job runs it: the program of this build with the shipped
// description, a private home, the path of the report on stdout and its exit codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "measurement/day_file_reader.h"
#include "platform/text.h"
#include "support/child_process.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

TEST(ExportReportProgram, WritesThePagesPrintsTheirPathAndEndsWithItsCodes) {
  test::TestHome home;
  setenv("TZ", "UTC0", 1);
  const fs::path program_dir = home.data_dir() / "TALV" / "KBA604";
  fs::create_directories(program_dir / "protocol");
  std::vector<std::uint8_t> bytes;
  encode_day_record(make_day_record(1796637600, "rEAd", 1, false, {0x41, 0x48, 0, 0}), bytes);
  encode_day_record(make_day_record(1796637600, "Set.P", 0, false, {0x42, 0xC8, 0, 0}), bytes);
  std::ofstream(program_dir / "protocol" / "07-12-2026.log", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

  test::ChildResult r = test::run_child(
      {test::kba604_program(), "--export-report", "07-12-2026.log", "--filter", "read"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const fs::path page = program_dir / "temp" / "07-12-2026.html";
  EXPECT_EQ(r.out, page.string() + "\n");
  std::ifstream in(page, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  const std::string html = platform::from_cp1251(s.str());
  EXPECT_NE(html.find("Результат измерения на входе №2"), std::string::npos);
  EXPECT_NE(html.find(">12.500<"), std::string::npos);
  EXPECT_EQ(html.find("100.000"), std::string::npos);

  r = test::run_child({test::kba604_program(), "--export-report", "07-12-2026.log", "--xlsx",
                       (home.root() / "day.xlsx").string()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, (home.root() / "day.xlsx").string() + "\n");

  r = test::run_child({test::kba604_program(), "--export-report", "01-01-2020..02-01-2020"});
  EXPECT_EQ(r.exit_code, 12);
  EXPECT_EQ(r.out, "");
  r = test::run_child({test::kba604_program(), "--export-report", "yesterday"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_FALSE(r.err.empty());
  r = test::run_child({test::kba604_program(), "--help"});
  EXPECT_NE(r.out.find("--export-report"), std::string::npos);
}

}  // namespace
}  // namespace kba604
